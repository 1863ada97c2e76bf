#!/usr/bin/env bash
# The 32-bit Markwire.dll as a Windows application sees it: exactly the 19
# classic functions at ordinals 1 to 19 and the extensions from 20, under
# plain names; every one __stdcall (it pops its own arguments: "ret $N" with
# N = 4 x arguments); only system DLLs imported; and the version record.
# Usage: check_exports.sh Markwire.dll (32-bit)
set -euo pipefail
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
fail() { echo "FAIL: $*"; exit 1; }

# name, argument bytes, ordinal - the list the DLL is built from.
expected=$(grep -o '"[A-Za-z_]* [0-9]* [0-9]*"' "$(dirname "$0")/../../cmake/exports.cmake" | tr -d '"')
dump=$("$objdump" -p "$dll")

base=$(awk '/^Export Address Table -- Ordinal Base/{print $NF}' <<<"$dump")
[ "$base" = 1 ] || fail "ordinal base is $base"
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s*\[ *[0-9]+\]' |
        sed 's/^\s*\[ *\([0-9]*\)\] \(.*\)$/\2 \1/')
[ "$(wc -l <<<"$names")" = "$(wc -l <<<"$expected")" ] || fail "exports differ: $names"
grep -q '@' <<<"$names" && fail "decorated names exported: $(grep '@' <<<"$names")"

image=$(awk '/^ImageBase/{print $2}' <<<"$dump")
rvas=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$dump" | grep 'Export RVA' |
       sed 's/.*+base\[ *\([0-9]*\)\] \([0-9a-f]*\) Export RVA/\1 \2/')
sorted=$(awk '{print $2}' <<<"$rvas" | while read -r r; do printf '%08x\n' $((0x$r)); done | sort -u)
while read -r name bytes ordinal; do
  index=$(awk -v n="$name" '$1 == n {print $2}' <<<"$names")
  [ -n "$index" ] || fail "$name is not exported"
  [ $((index + base)) = "$ordinal" ] || fail "$name has ordinal $((index + base)), not $ordinal"
  rva=$(awk -v o="$ordinal" '$1 == o {print $2}' <<<"$rvas")
  # The classic functions must pop their own arguments. (The extensions are
  # __stdcall too, but may end in a tail jump to a callee that pops them.)
  (( ordinal <= 19 )) || continue
  # The function ends, at the latest, where the next export begins.
  start=$((0x$image + 0x$rva))
  stop=$((start + 4096))
  for other in $sorted; do
    if (( 0x$other > 0x$rva )); then stop=$((0x$image + 0x$other)); break; fi
  done
  code=$("$objdump" -d --start-address=$start --stop-address=$stop "$dll")
  ret=$(grep -m1 -E $'\tret' <<<"$code" | sed 's/.*\tret *//; s/ *$//')
  want=$([ "$bytes" = 0 ] && echo "" || printf '$0x%x' "$bytes")
  [ "$ret" = "$want" ] || fail "$name returns with \"ret $ret\", not \"ret $want\" (not __stdcall)"
done <<<"$expected"

imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$dump" | sort -u)
for dllname in $imports; do
  case $dllname in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL|UCRTBASE.DLL|API-MS-WIN-*|ADVAPI32.DLL|NTDLL.DLL) ;;
    *) fail "imports $dllname, not a system DLL" ;;
  esac
done
# The version record, in the resource's UTF-16 strings.
record=$(strings -el "$dll")
for text in "Markwire DLL" "1.2.0.0" "Markwire.DLL" "Markwire Dynamic Link Library"; do
  grep -qxF "$text" <<<"$record" || fail "the version record lacks \"$text\""
done
echo "ok: $(wc -l <<<"$expected") exports at their ordinals, undecorated, __stdcall; imports" $imports
