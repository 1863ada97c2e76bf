#!/usr/bin/env bash
# Fresh machine to passing tests: packages, build, every test (unit tests on
# virtual time, integration tests on pseudo-terminals, CLI smoke tests, the
# barcode tests under sanitizers), then the Windows DLL's export check and
# its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
scripts/windows.sh test
