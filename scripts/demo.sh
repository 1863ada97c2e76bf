#!/usr/bin/env bash
# Fresh machine to a running demo: packages, build, then a few cards read from
# the built-in simulated reader on a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/markwire demo "$@"
