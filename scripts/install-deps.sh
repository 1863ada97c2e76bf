#!/usr/bin/env bash
# Installs what building and testing Markwire needs on Debian 12. Idempotent:
# it does nothing when every package is already there.
#
# The optional groups (ZBar and zxing-cpp, the barcode benchmark's peer
# decoders; the Windows cross build; Wine) are installed when the package
# archive has them; without one, what needs it is skipped, and says so.
set -euo pipefail

# clang-14 and its runtimes build the fuzz targets (libFuzzer, the sanitizers).
# python3-venv, -pip, -setuptools and -wheel: the Python package's test
# installs it into a virtual environment, the build backend from the system.
packages="cmake ninja-build g++ binutils libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libfmt-dev clang-14 libclang-rt-14-dev
          python3 python3-venv python3-pip python3-setuptools python3-wheel"
optional_groups=(
  "libzbar-dev"
  "libzxing-dev"
  "g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64"
  "wine wine64"
)

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# shellcheck disable=SC2086
need=$(missing $packages)
want=""
for group in "${optional_groups[@]}"; do
  # shellcheck disable=SC2086
  want+=$(missing $group)
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
for group in "${optional_groups[@]}"; do
  # shellcheck disable=SC2086
  [ -n "$(missing $group)" ] || continue
  # shellcheck disable=SC2086
  "${as_root[@]}" apt-get install -y -q --no-install-recommends $group ||
    echo "install-deps: could not install the optional $group; what needs it is skipped"
done
