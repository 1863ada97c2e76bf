#!/usr/bin/env bash
# The CLI as a user runs it: the demo, and send/read against `markwire sim`.
set -uo pipefail
# shellcheck source=../support/cli_prelude.sh
source "$(dirname "$0")/../support/cli_prelude.sh"

# The demo reads three cards: the barcode decoded from the sensor waveform,
# then the card's data (candidate number and answers), one line each. The
# barcode carries the candidate number.
"$mw" demo >"$work/out" 2>"$work/err" || fail "demo exited $?: $(cat "$work/err")"
[ "$(wc -l <"$work/out")" -eq 3 ] || fail "demo printed: $(cat "$work/out")"
grep -qvE '^([0-9]{8})'$'\t''\1[A-D *]+$' "$work/out" && fail "demo card lines: $(cat "$work/out")"

# The sample format comes from the build's own copy, never from the source
# tree; MARKWIRE_DATA_DIR names another folder, and alone.
grep -q "card format $(dirname "$mw")/share/markwire/card.fmt" "$work/err" ||
  fail "demo's format: $(cat "$work/err")"
mkdir -p "$work/data" "$work/nodata"
printf 'L 044/ F 001 08 000 10 01 1 ID/\n' >"$work/data/card.fmt"
MARKWIRE_DATA_DIR=$work/data "$mw" demo --count 1 >"$work/out" 2>"$work/err" ||
  fail "demo with MARKWIRE_DATA_DIR: $(cat "$work/err")"
grep -q "format $work/data/card.fmt: result 255, sync 44, barcode off" "$work/err" &&
  grep -qE '^[0-9]{8}[A-D *]+$' "$work/out" || fail "demo with MARKWIRE_DATA_DIR: $(cat "$work/out" "$work/err")"
MARKWIRE_DATA_DIR=$work/nodata "$mw" demo >"$work/out" 2>"$work/err"
[ $? -eq 1 ] && [ "$(wc -l <"$work/err")" -eq 1 ] &&
  grep -q "cannot find the sample card format card.fmt (looked in $work/nodata;" "$work/err" ||
  fail "demo without its format: $(cat "$work/err")"
# --version answers with the tool's version and the loaded library's, and exits 0.
[ "$("$mw" --version)" = "markwire 1.2.0 (library 1.2.0)" ] ||
  fail "--version: $("$mw" --version)"

# A waveform rendered and decoded again; a flat one is not decoded (exit 3).
for sym in code39:MW-2026 i2of5:20261205 code128:31415926; do
  text=${sym#*:}
  out=$("$mw" barcode render --symbology "${sym%%:*}" --text "$text" --seed 3 |
        "$mw" barcode decode --symbology "${sym%%:*}" --length ${#text} --plot "$work/plot.svg") ||
    fail "barcode ${sym%%:*} not decoded: $out"
  [ "$out" = "${text//-/_}" ] || fail "barcode ${sym%%:*} decoded as $out"
done
grep -q "<polyline" "$work/plot.svg" || fail "no plot"
echo "128 128 128 128" | "$mw" barcode decode --symbology code39 --length 4 >"$work/out"
[ $? -eq 3 ] && [ "$(cat "$work/out")" = "...." ] || fail "a flat waveform: $(cat "$work/out")"

# A simulated reader on a link, then the tool against it as against hardware.
printf 'ABCDEFGH12\tMW2026XY\n' >"$work/cards"
start_sim --cards-file "$work/cards" --fault 'status:MO=07'
grep -q '^/dev/pts/' "$work/sim.out" || fail "sim did not print its device"

# One card as JSON, its barcode after the data's first byte ("T"), then the
# empty hopper: exit 1 with the reader's status.
printf 'L 044/ f 3 010 020 01 08/ T/\n' >"$work/t.fmt"
"$mw" read -d "$work/omr" --format "$work/t.fmt" --count 2 --json >"$work/read" 2>"$work/read.err"
status=$?
[ "$status" -eq 1 ] || fail "read exited $status: $(cat "$work/read.err")"
head -1 "$work/read" | grep -q '^{"barcode":"MW2026XY","card":1,"data":"ABCDEFGH12",' ||
  fail "read: $(cat "$work/read")"
sed -n 2p "$work/read" | grep -q '"error":"16","result":0,"text":"No sheet"' ||
  fail "second card: $(cat "$work/read")"

# A refused command prints its code and text; --trace shows the wire.
out=$("$mw" --trace send -d "$work/omr" "MO 5/" 2>"$work/trace")
[ $? -eq 1 ] || fail "send of a refused command should exit 1"
[ "$out" = "result 0  error 07 Paperboard or synchronous signal error" ] || fail "send printed: $out"
grep -q '"MO 5/"' "$work/trace" || fail "no wire trace: $(cat "$work/trace")"

# A format as text, then a program file with a progress bar's worth of bytes.
out=$("$mw" format -d "$work/omr" --text "T/ L 040/ f 3 010 020 01 08/" 2>"$work/err") || fail "format: $(cat "$work/err")"
[[ $out == *"sync 40"*"after first byte yes, length 8"* ]] || fail "format printed: $out"
head -c 5000 /dev/urandom >"$work/prog.bin"
out=$("$mw" program -d "$work/omr" "$work/prog.bin" 2>"$work/err") || fail "program: $(cat "$work/err")"
[ "$out" = "result 255" ] || fail "program printed: $out"

# Bad usage and missing devices: non-zero, one line of reason.
"$mw" send -d "$work/none" "R/" 2>"$work/err" && fail "send to a missing device succeeded"
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "No such file" "$work/err" || fail "reason: $(cat "$work/err")"
"$mw" sim --fault 'nonsense' 2>/dev/null && fail "a bad fault was accepted"
"$mw" 2>/dev/null && fail "no subcommand was accepted"

kill "$sim_pid"; wait "$sim_pid"
[ -e "$work/omr" ] && fail "sim left its link behind"
grep -q "program: 5000 bytes" "$work/sim.err" || fail "the reader did not keep the program: $(cat "$work/sim.err")"
sim_pid=
echo ok
