#!/usr/bin/env bash
# The library as an application's developer gets it: the project configured
# as a packager would (no tests, no benchmarks), installed into a temporary
# prefix, then a C program built against the installed tree twice, with
# pkg-config and with find_package(markwire), and both run against the
# installed `markwire sim`. Last, the installed CLI's demo from a copy of the
# prefix, with no build or source tree to lean on.
#
#   tests/install/consumer.sh [BUILD_TYPE]     (default Release)
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build_type=${1:-Release}
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "-- $*"; }

step "configure, build and install the library and the CLI ($build_type)"
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DMARKWIRE_TESTS=OFF -DMARKWIRE_BENCH=OFF >"$work/configure.log" ||
  fail "configure: $(tail -20 "$work/configure.log")"
grep -qi gtest "$work/build/CMakeCache.txt" && fail "a build without tests looked for GoogleTest"
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" || fail "build: $(tail -30 "$work/build.log")"
prefix=$work/prefix
cmake --install "$work/build" --prefix "$prefix" >"$work/install.log" ||
  fail "install: $(cat "$work/install.log")"
rm -rf "$work/build"

# What the prefix holds: the library under its SONAME, the headers, the
# package files, the CLI and its sample format.
pc=$(find "$prefix" -name markwire.pc)
[ -n "$pc" ] || fail "no markwire.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for f in "$libdir/libmarkwire.so.1.2.0" "$libdir/libmarkwire.so.1" "$libdir/libmarkwire.so" \
         "$prefix/include/markwire.h" "$prefix/include/markwire.hpp" \
         "$libdir/cmake/markwire/markwireConfig.cmake" \
         "$libdir/cmake/markwire/markwireConfigVersion.cmake" \
         "$prefix/bin/markwire" "$prefix/share/markwire/card.fmt"; do
  [ -e "$f" ] || fail "not installed: ${f#"$prefix"/}"
done
readelf -d "$libdir/libmarkwire.so.1.2.0" | grep -q 'SONAME.*\[libmarkwire\.so\.1\]' ||
  fail "SONAME: $(readelf -d "$libdir/libmarkwire.so.1.2.0" | grep SONAME)"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion markwire)" = 1.2.0 ] || fail "pkg-config version"

step "the C example with pkg-config"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$src/examples/read_cards.c" \
  $(pkg-config --cflags --libs markwire) -o "$work/read_cards_pc" || fail "pkg-config build"
# pkg-config gives no run path: outside the system's library folders a user
# names the folder, as here.
LD_LIBRARY_PATH=$libdir ldd "$work/read_cards_pc" | grep -q "libmarkwire.so.1 => $libdir/" ||
  fail "the pkg-config build does not load the installed library"

step "the C example with find_package(markwire)"
cmake -S "$src/examples/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/consumer.log" || fail "find_package: $(cat "$work/consumer.log")"
cmake --build "$work/consumer" >>"$work/consumer.log" || fail "consumer build: $(cat "$work/consumer.log")"
# CMake links its build with a run path to the imported library: no
# LD_LIBRARY_PATH needed.
ldd "$work/consumer/read_cards" | grep -q "libmarkwire.so.1 => $libdir/" ||
  fail "the find_package build does not load the installed library: $(ldd "$work/consumer/read_cards")"
# The version file: the same major version only.
mkdir -p "$work/v2"
printf 'cmake_minimum_required(VERSION 3.16)\nproject(v LANGUAGES NONE)\nfind_package(markwire %s CONFIG REQUIRED)\n' \
  2 >"$work/v2/CMakeLists.txt"
cmake -S "$work/v2" -B "$work/v2/b" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1 &&
  fail "find_package(markwire 2) took version 1.2.0"

step "both against the installed simulated reader"
# Four known cards, "data<TAB>barcode": each program reads two of them.
printf '%s\t%s\n' 'ABCDEFGH12' 'MW2026XY' '0000111122' 'CARD0002' 'ZZ99' '12345678' \
  'QRSTUV' 'LASTCARD' >"$work/cards"
"$prefix/bin/markwire" sim --link "$work/omr" --cards-file "$work/cards" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/omr" ] && break; sleep 0.1; done
[ -e "$work/omr" ] || fail "the installed sim made no link: $(cat "$work/sim.err")"
LD_LIBRARY_PATH=$libdir "$work/read_cards_pc" "$work/omr" 2 >"$work/out_pc" 2>"$work/err_pc" ||
  fail "pkg-config build exited $?: $(cat "$work/err_pc")"
"$work/consumer/read_cards" "$work/omr" 2 "$prefix/share/markwire/card.fmt" \
  >"$work/out_cmake" 2>"$work/err_cmake" || fail "find_package build exited $?: $(cat "$work/err_cmake")"
diff <(printf '%s\n' 'card 1: barcode MW2026XY data ABCDEFGH12' 'card 2: barcode CARD0002 data 0000111122') \
  "$work/out_pc" || fail "the pkg-config build's cards"
diff <(printf '%s\n' 'card 1: barcode 12345678 data ZZ99' 'card 2: barcode LASTCARD data QRSTUV') \
  "$work/out_cmake" || fail "the find_package build's cards"
# The hopper is empty now: a failure, said so, and a non-zero exit.
status=0
"$work/consumer/read_cards" "$work/omr" 1 >/dev/null 2>"$work/err_empty" || status=$?
[ "$status" -eq 1 ] && grep -q "error 16 No sheet" "$work/err_empty" ||
  fail "an empty hopper: exit $status, $(cat "$work/err_empty")"
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=

step "the installed CLI from a moved copy of the prefix"
cp -a "$prefix" "$work/moved"
rm -rf "$prefix"
mw=$work/moved/bin/markwire
[ "$("$mw" --version)" = "markwire 1.2.0 (library 1.2.0)" ] || fail "--version: $("$mw" --version)"
grep -q "$src/examples" "$mw" && fail "the CLI names the source tree's examples/"
(cd / && env -u MARKWIRE_DATA_DIR "$mw" demo >"$work/demo.out" 2>"$work/demo.err") ||
  fail "demo: $(cat "$work/demo.err")"
grep -q "card format $work/moved/share/markwire/card.fmt" "$work/demo.err" ||
  fail "demo took its format from elsewhere: $(cat "$work/demo.err")"
[ "$(wc -l <"$work/demo.out")" -eq 3 ] || fail "demo printed: $(cat "$work/demo.out")"
echo "install and link: ok"
