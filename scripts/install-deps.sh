#!/usr/bin/env bash
# Installs what Markwire needs on Debian 12. Idempotent: it does nothing when
# every package is already there.
#
#   scripts/install-deps.sh demo   the library and the CLI: a compiler, CMake,
#                                  Ninja, CLI11 and nlohmann-json (scripts/demo.sh)
#   scripts/install-deps.sh all    that, and everything the tests, benchmarks and
#                                  fuzz targets need (scripts/test.sh; the default)
#
# With `all`, the optional groups (ZBar and zxing-cpp, the barcode benchmark's
# peer decoders; the Windows cross build; Wine) are installed when the package
# archive has them; without one, what needs it is skipped, and says so. (zsh
# and groff check the completion script and the manual page.)
set -euo pipefail

group=${1:-all}
# The library needs only the C++ standard library; the CLI and the simulated
# reader add CLI11 and nlohmann-json (both header-only).
demo_packages="cmake ninja-build g++ libcli11-dev nlohmann-json3-dev"
# GoogleTest, Google Benchmark; pkgconf for the install test; clang-14 and its
# runtimes build the fuzz targets (libFuzzer, the sanitizers) and are the
# second compiler; python3-venv, -pip, -setuptools and -wheel: the Python
# package's test installs it into a virtual environment, the build backend
# from the system.
test_packages="binutils libgtest-dev libgmock-dev libbenchmark-dev pkgconf
               clang-14 libclang-rt-14-dev
               python3 python3-venv python3-pip python3-setuptools python3-wheel"
optional_groups=(
  "libzbar-dev"
  "libzxing-dev"
  "g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64"
  "wine wine64"
  "zsh groff-base"
)
case $group in
  demo) packages=$demo_packages optional_groups=() ;;
  all) packages="$demo_packages $test_packages" ;;
  *)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 64
    ;;
esac

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# shellcheck disable=SC2086
need=$(missing $packages)
want=""
for optional in "${optional_groups[@]}"; do
  # shellcheck disable=SC2086
  want+=$(missing $optional)
done
[ -z "$need$want" ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
if [ -n "$need" ]; then
  # shellcheck disable=SC2086
  "${as_root[@]}" apt-get install -y -q --no-install-recommends $need
fi
for optional in "${optional_groups[@]}"; do
  # shellcheck disable=SC2086
  [ -n "$(missing $optional)" ] || continue
  # shellcheck disable=SC2086
  "${as_root[@]}" apt-get install -y -q --no-install-recommends $optional ||
    echo "install-deps: could not install the optional $optional; what needs it is skipped"
done
