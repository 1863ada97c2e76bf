#!/usr/bin/env bash
# Every way a command line can go wrong ends with its documented exit status
# and one short line of reason, and nothing reaches the reader that should
# not: bad values, missing files, formats that are not formats.
set -uo pipefail
# shellcheck source=../support/cli_prelude.sh
source "$(dirname "$0")/../support/cli_prelude.sh"

# Runs the tool; `expect STATUS WHAT -- ARGS...` checks the status and that
# standard error is one line, short, free of control characters, and says WHAT.
expect() {
  local want=$1 what=$2
  shift 3
  "$mw" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "$* exited $got, not $want: $(cat "$work/err")"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$*: not one line: $(cat "$work/err")"
  [ "$(wc -c <"$work/err")" -le 200 ] || fail "$*: a long reason: $(cat "$work/err")"
  LC_ALL=C grep -q '[[:cntrl:]]' <(tr -d '\n' <"$work/err") &&
    fail "$*: control characters on the terminal: $(od -c "$work/err" | head -3)"
  grep -qF -- "$what" "$work/err" || fail "$*: no \"$what\" in: $(cat "$work/err")"
}

# --- usage: 64, a short reason; --help and --version are not errors --------
expect 64 'A subcommand is required' --
expect 64 '"abc" is not a whole number' -- read -d "$work/none" --count abc
expect 64 '--count: -1 is below 0' -- read -d "$work/none" --count -1
expect 64 '--limit: 4000 is above 2048' -- read -d "$work/none" --limit 4000
expect 64 '--bogus' -- read -d "$work/none" --bogus
expect 64 '--device is required' -- read
expect 64 'kind 7 is above 6' -- test -d "$work/none" area 7 1 1 2 2
expect 64 '-1 is below 0' -- test -d "$work/none" area 1 -1 1 2 2
expect 64 '100 is above 99' -- adjust -d "$work/none" gray 100 5
expect 64 'the second field 100 is above 99' -- adjust -d "$work/none" card 500 100
expect 64 '--samples-per-module: -1 is not above 0' -- \
  barcode render --symbology code39 --text AB --samples-per-module -1
[ -s "$work/out" ] && fail "a refused render printed: $(cat "$work/out")"
expect 64 '--jitter: 2 is above 0.5' -- barcode render --symbology code39 --text AB --jitter 2
expect 64 '--mode: 5 is above 2' -- barcode decode --symbology code39 --length 2 --mode 5
expect 64 'give a FILE or --text' -- format -d "$work/none"
"$mw" --help >"$work/out" 2>&1 || fail "--help exited $?"
grep -q '^  66   a file that cannot be opened' "$work/out" || fail "no exit statuses in --help"
"$mw" read --help >/dev/null 2>&1 || fail "read --help exited $?"
"$mw" --version >/dev/null 2>&1 || fail "--version exited $?"

# --- files that cannot be opened: 66 in every command -----------------------
nl=$'\n'
expect 66 "$work/none.fmt: No such file" -- format -d "$work/none" "$work/none.fmt"
expect 66 "$work/none.fmt: No such file" -- read -d "$work/none" --format "$work/none.fmt"
expect 66 "$work/none.fmt: No such file" -- demo --format "$work/none.fmt"
expect 66 "$work/none.hex: No such file" -- program -d "$work/none" "$work/none.hex"
expect 66 "$work/none.txt: No such file" -- barcode decode --symbology code39 --length 2 "$work/none.txt"
expect 66 "$work/none.cards: No such file" -- sim --cards-file "$work/none.cards"
expect 66 "$work: Is a directory" -- format -d "$work/none" "$work"
# A name with a line feed in it stays on one line.
expect 66 'bad\nname.fmt' -- format -d "$work/none" "$work/bad${nl}name.fmt"

# --- bad input data: 65, before the reader is even opened ------------------
# The device does not exist: a status of 65, not 2, shows that the check came
# first, and --trace shows that nothing was opened or sent.
head -c 2000 /dev/urandom >"$work/random.fmt"
printf '\x01' | dd of="$work/random.fmt" bs=1 seek=0 conv=notrunc 2>/dev/null
expect 65 "$work/random.fmt:1: byte 1 is 0x01, not text" -- --trace format -d "$work/none" "$work/random.fmt"
printf 'L 044/\n; note\nF 001 08 000 10 01 1 ID/ T\x01/\n' >"$work/ctl.fmt"
expect 65 "ctl.fmt:3: byte 27 is 0x01, not text" -- format -d "$work/none" "$work/ctl.fmt"
printf 'L 044/\nF 001 08 \xc3\xa9 ID/\n' >"$work/high.fmt"
expect 65 "high.fmt:2: byte 10 is 0xC3, not ASCII" -- format -d "$work/none" "$work/high.fmt"
printf '; only a remark\n\n   \n' >"$work/empty.fmt"
expect 65 'empty.fmt: no command in it' -- format -d "$work/none" "$work/empty.fmt"
: >"$work/zero.fmt"
expect 65 'zero.fmt: no command in it' -- read -d "$work/none" --format "$work/zero.fmt"
printf 'L 044/\nF 001 08 000 10 01 1 ID\n; the slash forgotten\n' >"$work/open.fmt"
expect 65 'open.fmt:2: "F 001 08 000 10 01 1 ID\n" has no closing "/"' -- \
  format -d "$work/none" "$work/open.fmt"
expect 65 '--text: no command in it' -- format -d "$work/none" --text '   '
expect 65 '--text:1: byte 8 is 0x1B, not text' -- format -d "$work/none" --text $'L 040/ \e[2J'
printf 'ABCD\tXY\nAB\0CD\tXY\n' >"$work/nul.cards"
expect 65 'line 2 holds a NUL byte' -- sim --cards-file "$work/nul.cards"
echo "12 300 7" >"$work/samples"
expect 65 'not a sample 0..255: "300"' -- barcode decode --symbology code39 --length 2 "$work/samples"

# --- against a reader: what passes the checks is sent ----------------------
start_sim --history 3

# A remark in UTF-8 (or GBK) inside a comment is the author's business.
printf 'L 044/ ; \xe8\x80\x83\xe7\x94\x9f\xe5\x8f\xb7 candidate\r\n  F 001 08 000 10 01 1 ID/\n' >"$work/remark.fmt"
out=$("$mw" format -d "$work/omr" "$work/remark.fmt" 2>"$work/err") ||
  fail "a format with a remark: $(cat "$work/err")"
[[ $out == *"result 255, sync 44"* ]] || fail "format printed: $out"

# The program's progress bar, on a terminal: the percentages in whole numbers
# (870 of 3000 bytes is 29 %, not the 28 % of 0.29 * 100 in doubles).
head -c 3000 /dev/urandom >"$work/prog.bin"
script -qec "\"$mw\" program -d \"$work/omr\" \"$work/prog.bin\"" /dev/null >"$work/bar" ||
  fail "program on a terminal: $(tr '\r' '\n' <"$work/bar" | tail -3)"
tr '\r' '\n' <"$work/bar" >"$work/bars"
grep -qF ' 29%  870/3000 bytes' "$work/bars" && grep -qF ' 58%  1740/3000 bytes' "$work/bars" &&
  grep -qF '[########################################] 100%  3000/3000' "$work/bars" ||
  fail "progress: $(grep -E '870|1740|3000/' "$work/bars")"
grep -qE ' 28%  870/| 57%  1740/' "$work/bars" && fail "progress rounded wrong"
grep -q '^result 255' "$work/bars" || fail "program: $(tail -2 "$work/bars")"

kill "$sim_pid"
wait "$sim_pid"
sim_pid=
# The refused formats never reached it: the last it heard was the program.
grep -q 'format: 2 commands' "$work/sim.err" || fail "sim's format: $(cat "$work/sim.err")"
grep -q 'program: 3000 bytes' "$work/sim.err" || fail "sim's program: $(cat "$work/sim.err")"
echo ok
