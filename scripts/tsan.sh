#!/usr/bin/env bash
# The integration tests (real pseudo-terminals, the port's line-event thread,
# the simulated reader's own thread, the shared library loaded with dlopen)
# built with ThreadSanitizer in build-tsan/ and run. A race report fails the
# test that made it. Builds only the library, the simulator and those tests.
set -euo pipefail
cd "$(dirname "$0")/.."
# Line tables (-g1) are all a race report needs, and build much faster than
# full debug information.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DMARKWIRE_TSAN=ON -DMARKWIRE_WERROR=ON \
  -DMARKWIRE_TOOLS=OFF -DMARKWIRE_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target integration_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  ctest --test-dir build-tsan -L integration --output-on-failure -j"$(nproc)" "$@"
