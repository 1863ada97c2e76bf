#!/usr/bin/env bash
# Configures and builds into build/ (RelWithDebInfo, warnings as errors: a developer's build).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARKWIRE_WERROR=ON "$@" >/dev/null
cmake --build build -j"$(nproc)"
