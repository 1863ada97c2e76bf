#!/usr/bin/env bash
# Installs the package into a fresh virtual environment and runs its tests
# there against the simulated reader, as a user's program would meet it.
#
#   run.sh PYTHON WORK PACKAGE LIBRARY MARKWIRE
#
# PYTHON makes the environment (it needs venv, pip, setuptools and wheel:
# python3-venv, python3-pip, python3-setuptools and python3-wheel on Debian;
# without network the build backend comes from the system's packages); WORK
# is a directory it may wipe; PACKAGE the python/ folder; LIBRARY the built
# libmarkwire.so; MARKWIRE the markwire program that plays the reader.
set -euo pipefail
python=$1 work=$2 package=$3 library=$4 markwire=$5

if ! "$python" -c 'import venv, ensurepip, setuptools, importlib.util as u, sys
sys.exit(0 if u.find_spec("wheel") or u.find_spec("setuptools.command.bdist_wheel") else 1)' \
  2>/dev/null; then
  echo "python: $python has no venv, pip, setuptools or wheel (scripts/install-deps.sh): skipped"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work/package"
# Built from a copy: setuptools writes build/ and egg-info beside the sources.
cp -r "$package/pyproject.toml" "$package/README.md" "$package/src" "$work/package/"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --no-build-isolation "$work/package"

cd "$work"
MARKWIRE_LIBRARY=$library MARKWIRE_SIM=$markwire \
  "$work/venv/bin/python" -m unittest discover -s "$package/tests" -t "$package/tests" -v
