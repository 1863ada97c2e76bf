# Sourced by the CLI test scripts: the tool under test ($1), a work folder
# removed at exit with any simulated reader still running ($sim_pid), and
# fail, which ends the script with its reason.
mw=$1
work=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Starts a simulated reader linked at $work/omr with the given options, its
# output in $work/sim.out and sim.err, and waits for its link.
start_sim() {
  rm -f "$work/omr"
  "$mw" sim --link "$work/omr" "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$work/omr" ] && break; sleep 0.1; done
  [ -e "$work/omr" ] || fail "sim made no link: $(cat "$work/sim.err")"
}
