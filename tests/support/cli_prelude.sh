# Sourced by the CLI test scripts: the tool under test ($1), a work folder
# removed at exit with any simulated reader still running ($sim_pid), and
# fail, which ends the script with its reason.
mw=$1
work=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
