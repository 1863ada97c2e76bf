#!/usr/bin/env bash
# The pictures and tables an operator reads: the test area by line and
# column (CSV, JSON, SVG) against `markwire sim`, and the barcode decode's
# picture; a command that fails leaves no picture behind.
set -uo pipefail
# shellcheck source=../support/cli_prelude.sh
source "$(dirname "$0")/../support/cli_prelude.sh"
wellformed() { python3 -c 'import xml.dom.minidom,sys; xml.dom.minidom.parse(sys.argv[1])' "$1" ||
  fail "$1 is not well-formed XML"; }
# Nothing but the expected files in the work directory (no picture, no
# temporary file beside one).
only() { local got; got=$(cd "$work" && ls | sort | tr '\n' ' '); [ "$got" = "$* " ] ||
  fail "files left: $got (expected $*)"; }

start_sim

# ---- test area ----
# A refused read (two sides of 200 x 48 points do not fit one block):
# non-zero, and no picture.
"$mw" test -d "$work/omr" area 2 1 1 200 48 --plot "$work/refused.svg" >/dev/null 2>&1 &&
  fail "an area too large for a block was read"
only omr sim.err sim.out

# The CSV by line and column: lines 3 to 7, columns 2 to 5, both sides.
"$mw" test -d "$work/omr" --csv area 2 3 2 7 5 >"$work/area.csv" || fail "area read failed"
[ "$(head -1 "$work/area.csv")" = "side,line,column,value" ] || fail "CSV header: $(head -1 "$work/area.csv")"
[ "$(tail -n +2 "$work/area.csv" | wc -l)" -eq 40 ] || fail "CSV rows: $(wc -l <"$work/area.csv")"
[ "$(tail -n +2 "$work/area.csv" | cut -d, -f2 | sort -un | tr '\n' ' ')" = "3 4 5 6 7 " ] ||
  fail "CSV lines: $(cut -d, -f2 "$work/area.csv" | sort -u | tr '\n' ' ')"
[ "$(tail -n +2 "$work/area.csv" | cut -d, -f3 | sort -un | tr '\n' ' ')" = "2 3 4 5 " ] ||
  fail "CSV columns"
[ "$(tail -n +2 "$work/area.csv" | cut -d, -f1 | sort -u | tr '\n' ' ')" = "A B " ] || fail "CSV sides"
# The simulated reader prints column 1 (the timing marks) dark on every
# line and side; the rest is paper.
"$mw" test -d "$work/omr" --csv area 1 2 1 2 3 | grep -q '^A,2,1,[0-9]$\|^A,2,1,[0-9][0-9]$' ||
  fail "column 1 is not the timing mark's"

# The picture of the same area: axis labels in the reader's numbers, both
# sides with titles, a gray scale, and each cell's value in its title, the
# same the CSV gives (the simulated reader's values depend on the point
# alone).
"$mw" test -d "$work/omr" area 2 3 2 7 5 --plot "$work/area.svg" >/dev/null || fail "area plot"
wellformed "$work/area.svg"
value=$(grep '^B,6,4,' "$work/area.csv" | cut -d, -f4)
grep -q "<title>side B, line 6, column 4: value $value</title>" "$work/area.svg" ||
  fail "no title for side B line 6 column 4 value $value"
[ "$(grep -c '<title>side [AB], line' "$work/area.svg")" -eq 40 ] || fail "not one title a cell"
for label in ">side A<" ">side B<" ">column<" ">line<" ">gray<" ">255<" \
             "class='line'[^>]*>3<" "class='line'[^>]*>7<" "class='column'[^>]*>2<" "class='column'[^>]*>5<"; do
  grep -q "$label" "$work/area.svg" || fail "area picture lacks $label"
done
grep -q "line 8\|column 6\|line 2,\|column 1:" "$work/area.svg" && fail "a point outside the area"
# Sized for the area, not a poster.
width=$(grep -o "^<svg[^>]* width='[0-9.]*'" "$work/area.svg" | grep -o "[0-9.]*'$" | tr -d "'")
[ "${width%.*}" -lt 1000 ] || fail "a 5 x 4 area is $width pixels wide"

# Corners in reverse order: the reader walks from the first corner, as many
# lines and columns as the library counts (|last - first + 1|).
"$mw" test -d "$work/omr" --json area 1 7 5 3 2 >"$work/rev.json" || fail "reversed area"
python3 - "$work/rev.json" <<'PY' || fail "reversed area JSON: $(cat "$work/rev.json")"
import json, sys
j = json.load(open(sys.argv[1]))
assert j["first_line"] == 7 and j["first_column"] == 5, j
assert j["lines"] == [7, 6, 5] and j["columns"] == [5, 4], j
assert len(j["A"]) == 3 and all(len(row) == 2 for row in j["A"]), j["A"]
assert "B" not in j
PY
"$mw" test -d "$work/omr" --csv area 1 7 5 3 2 | tail -n +2 | head -1 | grep -q '^A,7,5,' ||
  fail "reversed area: the first point is not line 7, column 5"
rm -f "$work"/*.svg "$work"/*.csv "$work"/*.json

# ---- barcode decode ----
# A classic reading (no speed jitter, so that the characters stand where
# the widths put them): each character over the samples it occupies, in
# order, a legend and the element positions, no rendered symbol.
"$mw" barcode render --symbology code39 --text AB12CD34 --seed 3 --jitter 0 >"$work/c39.txt"
out=$("$mw" barcode decode --symbology code39 --length 8 "$work/c39.txt" --plot "$work/c39.svg") ||
  fail "code39 not decoded: $out"
wellformed "$work/c39.svg"
# The check: every character's label inside its bracket, the labels in
# order spelling the text, none overlapping on a row, the legend, and the
# decoder's own drawing. For a classic reading also where each label stands
# on the sample axis: Code 39 at 2.5:1 with a gap of one module puts a
# character 14.5 modules from the next, the start after 10 modules of
# paper, 3 samples a module.
cat >"$work/check.py" <<'PY'
import re, sys
import xml.dom.minidom as md
doc = md.parse(sys.argv[1]); text = sys.argv[2]; decoder = sys.argv[3]
def cls(name): return [e for e in doc.getElementsByTagName("*") if e.getAttribute("class") == name]
chars = cls("character"); brackets = cls("bracket")
assert chars and len(chars) == len(brackets), (len(chars), len(brackets))
# Sample ticks give the scale from pixels to samples.
ticks = [(float(t.getAttribute("x")), int(t.firstChild.data)) for t in cls("sample")]
(x0, s0), (x1, s1) = ticks[0], ticks[-1]
sample = lambda x: s0 + (x - x0) * (s1 - s0) / (x1 - x0)
shown = ""
for c, b in zip(chars, brackets):
    x = float(c.getAttribute("x"))
    xs = [float(v) for v in re.findall(r"[MH]([-0-9.]+)", b.getAttribute("d"))]
    assert min(xs) <= x <= max(xs), (x, xs)
    label = c.firstChild.data
    shown += label
    if decoder == "classic":
        i = len(shown) - 1
        centre = 3 * (10 + (i + 1) * 14.5 + 13.5 / 2)
        assert abs(sample(x) - centre) < 6, (label, sample(x), centre)
assert shown == text, shown
assert cls("legend") and "samples" in cls("legend")[0].toxml()
assert bool(cls("positions")) == (decoder == "classic"), "element positions"
assert bool(cls("fitted")) == (decoder == "second"), "rendered symbol"
assert (decoder + " decoder") in doc.getElementsByTagName("text")[0].toxml()
# Labels on one row do not overlap.
rows = {}
for c in chars:
    rows.setdefault(c.getAttribute("y"), []).append(float(c.getAttribute("x")))
for xs in rows.values():
    xs.sort()
    assert all(b - a > 8 for a, b in zip(xs, xs[1:])), xs
PY
python3 "$work/check.py" "$work/c39.svg" AB12CD34 classic || fail "code39 picture"

# Blurred so that the classic decoder sees no symbol: the second decoder's
# reading, its rendered symbol drawn, no classic element positions.
"$mw" barcode render --symbology code39 --text AB12CD34 --blur 0.8 --wide-ratio 2.0 --seed 7 \
  >"$work/blur.txt"
out=$("$mw" barcode decode --symbology code39 --length 8 --mode 2 "$work/blur.txt" \
      --plot "$work/blur.svg") || fail "blurred code39 not decoded: $out"
wellformed "$work/blur.svg"
python3 "$work/check.py" "$work/blur.svg" AB12CD34 second || fail "second decoder's picture"
# The same for the digit pairs of Code 128, read backwards.
"$mw" barcode render --symbology code128 --text 31415926 --blur 0.8 --seed 7 >"$work/c128.txt"
out=$("$mw" barcode decode --symbology code128 --length 8 --reversed "$work/c128.txt" \
      --plot "$work/c128.svg") || fail "code128 not decoded: $out"
wellformed "$work/c128.svg"
[ "$(grep -o "class='character'[^>]*>[0-9]*<" "$work/c128.svg" | grep -o '>[0-9]*<' | tr -d '<>' | tr -d '\n')" = 31415926 ] ||
  fail "code128 characters"
grep -q "class='fitted'" "$work/c128.svg" || fail "code128: no rendered symbol"

# Failures leave nothing: an unreadable input, a waveform of one sample, a
# picture that cannot be written.
rm -f "$work"/*.svg
"$mw" barcode decode --symbology code39 --length 8 "$work/none.txt" --plot "$work/x.svg" 2>/dev/null
[ $? -eq 66 ] || fail "an unreadable input should exit 66"
echo 128 | "$mw" barcode decode --symbology code39 --length 8 --plot "$work/x.svg" >/dev/null 2>&1
[ $? -eq 3 ] || fail "one sample should be not decoded"
[ -e "$work/x.svg" ] && fail "a picture of nothing was written"
"$mw" barcode decode --symbology code39 --length 8 "$work/c39.txt" --plot "$work/no/dir/x.svg" \
  >/dev/null 2>"$work/err"
[ $? -eq 66 ] && grep -q "no/dir/x.svg" "$work/err" || fail "an unwritable picture: $(cat "$work/err")"
ls "$work" | grep -q '\.svg' && fail "a picture or temporary file left: $(ls "$work")"

kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
sim_pid=
echo ok
