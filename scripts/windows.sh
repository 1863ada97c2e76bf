#!/usr/bin/env bash
# Markwire.dll for Windows, cross-built with mingw-w64, and its tests.
#
#   scripts/windows.sh build   32-bit and 64-bit DLLs, import libraries and the
#                              header in dist/windows/x86 and dist/windows/x64
#   scripts/windows.sh test    build, check the 32-bit DLL's export table, and run
#                              a 64-bit Windows client under Wine against the
#                              simulated reader (needs build/markwire: scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

build() {
  local arch=$1 dir=build-windows/$1
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARKWIRE_WERROR=ON --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" \
    -DMARKWIRE_TOOLS=OFF -DMARKWIRE_TESTS=OFF -DMARKWIRE_BENCH=OFF >/dev/null
  local targets=(markwire_shared)
  [ "$arch" = x86_64 ] && targets+=(wine_client)
  cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
}

package() {
  local arch=$1 out=dist/windows/$2
  mkdir -p "$out"
  cp "build-windows/$arch/Markwire.dll" "build-windows/$arch/libMarkwire.dll.a" \
     include/markwire.h "$out/"
  echo "$out: $(ls "$out" | tr '\n' ' ')"
}

have_mingw() {
  command -v i686-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null
}

wine_test() {
  local wine=${WINE:-wine} work
  if ! command -v "$wine" >/dev/null || ! command -v wineserver >/dev/null; then
    echo "SKIPPED: the Wine tests (Wine is not installed)"
    return 0
  fi
  [ -x build/markwire ] || { echo "build/markwire is missing: run scripts/build.sh"; return 1; }
  work=$(mktemp -d)
  export WINEPREFIX=$work/prefix WINEDEBUG=-all
  unset DISPLAY
  local sim=
  trap '[ -n "$sim" ] && kill $sim 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' RETURN
  "$wine" wineboot -i >/dev/null 2>&1 || true
  # Wine finds COM50 and COM51 through these links to two simulated readers'
  # terminals.
  build/markwire sim --count 2 --link "$WINEPREFIX/dosdevices/com5" >"$work/sim.out" 2>"$work/sim.err" &
  sim=$!
  for _ in $(seq 50); do [ -e "$WINEPREFIX/dosdevices/com51" ] && break; sleep 0.1; done
  cp build-windows/x86_64/Markwire.dll build-windows/x86_64/wine_client.exe "$work/"
  # Modem lines on the pty, so that WaitCommEvent waits as on a real port.
  cc -shared -fPIC -O2 -o "$work/modem_lines_shim.so" tests/windows/modem_lines_shim.c -ldl
  (cd "$work" && LD_PRELOAD=$work/modem_lines_shim.so timeout 300 "$wine" wine_client.exe COM50 COM51)
}

case ${1:-} in
  build)
    build i686 && build x86_64
    package i686 x86 && package x86_64 x64
    ;;
  test)
    if ! have_mingw; then
      echo "SKIPPED: the Windows build and its tests (mingw-w64 is not installed)"
      exit 0
    fi
    build i686 && build x86_64
    tests/windows/check_exports.sh build-windows/i686/Markwire.dll
    wine_test
    ;;
  *)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 64
    ;;
esac
