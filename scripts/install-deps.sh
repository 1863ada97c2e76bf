#!/usr/bin/env bash
# Installs what building and testing Markwire needs on Debian 12. Idempotent:
# it does nothing when every package is already there.
#
# The Windows cross build (mingw-w64) and Wine are installed when the package
# archive has them; without them the Windows tests are skipped, and say so.
set -euo pipefail

packages=(
  cmake ninja-build g++ binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libfmt-dev libzbar-dev
)
windows=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64
)

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

need=$(missing "${packages[@]}")
want=$(missing "${windows[@]}")
[ -z "$need$want" ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
if [ -n "$need" ]; then
  # shellcheck disable=SC2086
  "${as_root[@]}" apt-get install -y -q --no-install-recommends $need
fi
if [ -n "$want" ]; then
  # shellcheck disable=SC2086
  "${as_root[@]}" apt-get install -y -q --no-install-recommends $want ||
    echo "install-deps: the Windows cross build or Wine could not be installed; their tests will be skipped"
fi
