#!/usr/bin/env bash
# Fresh machine to passing tests: packages, build, every test (unit tests on
# virtual time, integration tests on pseudo-terminals, CLI smoke tests), an
# install into a temporary prefix with a C program built and run against it
# (pkg-config and find_package), the fuzz targets over their corpora
# (AddressSanitizer and UBSan), the integration tests again under
# ThreadSanitizer, then the Windows DLL's export check and its tests under
# Wine. Prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "==== $name"
  "$@"
  stages+=("$(printf '%-28s %4d s' "$name" $((SECONDS - start)))")
}
report() {
  echo "==== time by stage"
  printf '%s\n' "${stages[@]}"
}
trap report EXIT

stage "packages" scripts/install-deps.sh all
stage "build" scripts/build.sh
stage "tests" ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
stage "install and link" tests/install/consumer.sh
stage "fuzz corpus replay" scripts/fuzz.sh replay
stage "ThreadSanitizer" scripts/tsan.sh
stage "Windows" scripts/windows.sh test
