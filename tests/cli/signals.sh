#!/usr/bin/env bash
# Stopping a command that talks to a reader: the exchange under way ends
# as the protocol wants (a card released with "-/", a download to its end),
# the reader hears "Q/", and the status says which signal stopped it.
set -uo pipefail
# shellcheck source=../support/cli_prelude.sh
source "$(dirname "$0")/../support/cli_prelude.sh"

# A simulated reader of its own for each case, so that its record ends with
# that case's commands; it lists its last three when stopped.
start_history_sim() { start_sim --history 3 "$@"; }
# The commands the reader heard last, as the stopped reader lists them.
stop_sim() {
  kill "$sim_pid"
  wait "$sim_pid"
  sim_pid=
  sed -n 's/^last commands: //p' "$work/sim.err"
}
# Waits until `file` has `lines` lines (or `pattern` in it), at most 15 s.
wait_lines() {
  for _ in $(seq 150); do [ "$(wc -l <"$1")" -ge "$2" ] && return; sleep 0.1; done
  fail "waited in vain for $2 lines in $1: $(tail -3 "$1")"
}
# Waits for `pid` to end, at most 15 s (a signal left unhandled would let a
# read go on for ever), and prints its status.
wait_bounded() {
  for _ in $(seq 150); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$1" 2>/dev/null; then
    kill -KILL "$1"
    wait "$1"
    fail "pid $1 went on after the signal"
  fi
  wait "$1"
}
wait_for() {
  for _ in $(seq 150); do grep -qF -- "$2" "$1" && return; sleep 0.1; done
  fail "waited in vain for $2 in $1"
}

# --- read: SIGINT and SIGTERM at the pace of a real reader -----------------
# A card takes a while through a paced reader, so the signal mostly comes in
# the middle of one: it is read to its end, released, and no other is begun.
for case in INT:130:interrupted TERM:143:terminated; do
  IFS=: read -r sig want word <<<"$case"
  start_history_sim --pacing
  "$mw" read -d "$work/omr" --count 0 >"$work/cards" 2>"$work/err" &
  pid=$!
  wait_lines "$work/cards" 2
  kill -"$sig" "$pid"
  wait_bounded "$pid"
  status=$?
  [ "$status" -eq "$want" ] || fail "read after SIG$sig exited $status: $(cat "$work/err")"
  grep -qE "^markwire: $word: [0-9]+ cards read; the last was read to its end" "$work/err" ||
    fail "read after SIG$sig said: $(cat "$work/err")"
  cards=$(wc -l <"$work/cards")
  grep -qF "$cards cards read" "$work/err" || fail "$cards cards printed: $(cat "$work/err")"
  last=$(stop_sim)
  [[ $last == *'"-/" "Q/"' ]] || fail "after SIG$sig the reader heard last: $last"
  grep -q "stopped: .*, $cards cards read" "$work/sim.err" ||
    fail "the reader fed another card: $(head -1 "$work/sim.err")"
done

# --- read | head: the reader of the output goes; silently, status 141 ------
start_history_sim
"$mw" read -d "$work/omr" --count 0 2>"$work/err" | head -2 >"$work/cards"
status=${PIPESTATUS[0]}
[ "$status" -eq 141 ] || fail "read | head: read exited $status: $(cat "$work/err")"
[ -s "$work/err" ] && fail "read | head said: $(cat "$work/err")"
[ "$(wc -l <"$work/cards")" -eq 2 ] || fail "head got: $(cat "$work/cards")"
last=$(stop_sim)
[[ $last == *'"-/" "Q/"' ]] || fail "after the broken pipe the reader heard last: $last"

# --- program: the download is let finish, then "Q/" -------------------------
head -c 1500 /dev/urandom >"$work/prog.bin"
start_history_sim --pacing
"$mw" --trace program -d "$work/omr" "$work/prog.bin" >"$work/out" 2>"$work/err" &
pid=$!
wait_for "$work/err" '->    "A a.hex/"'  # the download's first command went out
sleep 0.3
kill -INT "$pid"
wait_bounded "$pid"
status=$?
grep -v '^trace ' "$work/err" >"$work/said"
[ "$status" -eq 130 ] || fail "program after SIGINT exited $status: $(cat "$work/said")"
grep -qx 'markwire: interrupted: the program download was let finish, the reader holds the new program' \
  "$work/said" || fail "program after SIGINT said: $(cat "$work/said")"
[ "$(cat "$work/out")" = "result 255" ] || fail "program printed: $(cat "$work/out")"
last=$(stop_sim)
grep -qx 'program: 1500 bytes' "$work/sim.err" || fail "the reader's program: $(cat "$work/sim.err")"
[[ $last == *'"Q/"' ]] || fail "after the download the reader heard last: $last"

# --- session: SIGINT while it waits for the operator's next command --------
start_history_sim
mkfifo "$work/commands"
"$mw" session -d "$work/omr" <"$work/commands" >"$work/out" 2>"$work/err" &
pid=$!
exec 3>"$work/commands"  # the operator's side stays open: the session waits
echo "MO 1/" >&3
wait_lines "$work/out" 1
kill -INT "$pid"
wait_bounded "$pid"
status=$?
exec 3>&-
[ "$status" -eq 130 ] || fail "session after SIGINT exited $status: $(cat "$work/err")"
[ "$(cat "$work/out")" = "result 255" ] || fail "session printed: $(cat "$work/out")"
last=$(stop_sim)
[[ $last == *'"MO 1/" "Q/"' ]] || fail "after the session the reader heard last: $last"
echo ok
