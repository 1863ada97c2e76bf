#!/usr/bin/env bash
# Fresh machine to a running demo: the few packages the library and the CLI
# need, a build of just those two (no tests, benchmarks or fuzz targets) in
# build-demo/, then a few cards read from the built-in simulated reader on a
# pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARKWIRE_TESTS=OFF \
  -DMARKWIRE_BENCH=OFF -DMARKWIRE_FUZZ=OFF >/dev/null
cmake --build build-demo -j"$(nproc)" --target markwire_cli
exec build-demo/markwire demo "$@"
