#!/usr/bin/env bash
# A session of commands against `markwire sim`, send collecting a data block,
# and MARKWIRE_DEVICE standing in for -d.
set -uo pipefail
# shellcheck source=../support/cli_prelude.sh
source "$(dirname "$0")/../support/cli_prelude.sh"

printf 'ABCDEFGH12\tMW2026XY\nIJKLMNOP34\tMW2027XY\nQRSTUVWX56\tMW2028XY\n' >"$work/cards"
start_sim --cards-file "$work/cards" --fault 'status:MO=07'

# MARKWIRE_DEVICE names the device when -d is absent: a device that is not
# there is reported by its name as no reader (2). Empty counts as unset, and
# then -d is required again (a usage error, not a missing reader).
MARKWIRE_DEVICE=$work/nothere "$mw" send "R/" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 2 ] && grep -q "$work/nothere" "$work/err" ||
  fail "send with MARKWIRE_DEVICE naming nothing: exit $status, $(cat "$work/err")"
MARKWIRE_DEVICE= "$mw" send "R/" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -ge 64 ] && grep -q -- "--device" "$work/err" ||
  fail "send with MARKWIRE_DEVICE empty and no -d: exit $status, $(cat "$work/err")"
"$mw" send --help | grep -q "MARKWIRE_DEVICE" || fail "send --help does not name MARKWIRE_DEVICE"

# -d wins over the variable: this feeds the first card.
out=$(MARKWIRE_DEVICE=$work/nothere "$mw" send -d "$work/omr" "R/" 2>"$work/err") ||
  fail "send -d with MARKWIRE_DEVICE set: $(cat "$work/err")"
[ "$out" = "result 255" ] || fail "send R/ printed: $out"
# The variable alone reaches the reader, and send collects the block that a
# read command asks for (the reader still holds the card fed above).
out=$(MARKWIRE_DEVICE=$work/omr "$mw" send "r A 0000 2000/" 2>"$work/err") ||
  fail "send of a read command: $(cat "$work/err")"
[ "$out" = $'result 255\nblock 10 ABCDEFGH12' ] || fail "send r printed: $out"
# A command that starts with "-" follows "--".
out=$(MARKWIRE_DEVICE=$work/omr "$mw" send --json -- "-/" 2>"$work/err") || fail "send -/: $(cat "$work/err")"
[ "$out" = '{"command":"-/","result":255}' ] || fail "send --json -/ printed: $out"

# A session: comments and blank lines skipped, a card fed and its block
# collected, a refused command's code and text, and nothing after "quit".
# One hand-shake for all of it; no prompt when standard input is a pipe.
printf '# the second card\n\n   \nR/\nr A 0000 2000/\n  # indented comment\nMO 5/\n-/\nquit\nR/\n' |
  "$mw" --trace session -d "$work/omr" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "a session with a refused command exited $status: $(cat "$work/err")"
expected=$'result 255\nresult 255\nblock 10 IJKLMNOP34\nresult 0  error 07 Paperboard or synchronous signal error\nresult 255'
[ "$(cat "$work/out")" = "$expected" ] || fail "session printed: $(cat "$work/out")"
grep -q "markwire: 1 of 4 commands failed" "$work/err" || fail "no summary: $(cat "$work/err")"
[ "$(grep -c -- '->  *"ONLINE/"' "$work/err")" -eq 1 ] || fail "not one hand-shake: $(grep ONLINE "$work/err")"
[ "$(grep -c -- '->  *"R/"' "$work/err")" -eq 1 ] || fail "a command after quit was sent"
# Q/ is said once, by the library as the tool ends.
[ "$(grep -c -- '->  *"Q/"' "$work/err")" -eq 1 ] || fail "Q/ not said once at the end"

# Every command succeeding, the end of input closing the session: exit 0;
# JSON, one object per command.
printf 'R/\nr A 0000 2000/\n-/' | "$mw" session --json -d "$work/omr" >"$work/out" 2>"$work/err" ||
  fail "a session of good commands exited $?: $(cat "$work/err")"
[ "$(wc -l <"$work/out")" -eq 3 ] || fail "session --json printed: $(cat "$work/out")"
[ "$(sed -n 2p "$work/out")" = '{"block":10,"command":"r A 0000 2000/","data":"QRSTUVWX56","result":255}' ] ||
  fail "session --json block: $(cat "$work/out")"

# The hopper is empty now: "R/" is refused with "No sheet"; a reader that
# cannot be reached ends the session before it starts (2).
printf 'R/\n' | "$mw" session -d "$work/omr" >"$work/out" 2>"$work/err"
[ $? -eq 1 ] && [ "$(cat "$work/out")" = "result 0  error 16 No sheet" ] ||
  fail "an empty hopper in a session: $(cat "$work/out" "$work/err")"
echo 'R/' | "$mw" session -d "$work/nothere" >"$work/out" 2>"$work/err"
[ $? -eq 2 ] && [ ! -s "$work/out" ] || fail "a session without a reader: $(cat "$work/out" "$work/err")"
echo "ok"
