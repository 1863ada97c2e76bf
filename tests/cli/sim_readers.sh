#!/usr/bin/env bash
# `markwire sim --count`: several simulated readers in one process, each on
# its own terminal and link, with its own seed and its own hopper.
set -uo pipefail
# shellcheck source=../support/cli_prelude.sh
source "$(dirname "$0")/../support/cli_prelude.sh"

"$mw" sim --count 17 2>/dev/null
[ $? -ge 64 ] || fail "--count 17 was not a usage error"

"$mw" sim --count 3 --link "$work/r" --seed 7 --cards 2 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/r2" ] && break; sleep 0.1; done
[ -e "$work/r2" ] || fail "sim made no third link: $(cat "$work/sim.err")"
[ "$(wc -l <"$work/sim.out")" -eq 3 ] || fail "sim printed: $(cat "$work/sim.out")"
for i in 0 1 2; do
  [ "$(readlink "$work/r$i")" = "$(sed -n "$((i + 1))p" "$work/sim.out")" ] ||
    fail "link r$i is not the reader on line $((i + 1)): $(cat "$work/sim.out")"
done

# All three at once: each hands out its own two cards and then has none left.
pids=()
for i in 0 1 2; do
  "$mw" read -d "$work/r$i" --count 3 --json >"$work/read$i" 2>&1 &
  pids+=($!)
done
for i in 0 1 2; do
  wait "${pids[$i]}"
  [ $? -eq 1 ] && [ "$(grep -c '"data":"[0-9]\{8\}' "$work/read$i")" -eq 2 ] &&
    sed -n 3p "$work/read$i" | grep -q '"text":"No sheet"' ||
    fail "reader $i: $(cat "$work/read$i")"
done
# Seeds 7, 8 and 9: no two readers' cards alike.
[ "$(cat "$work"/read? | grep -o '"data":"[^"]*"' | sort -u | wc -l)" -eq 6 ] ||
  fail "readers share cards: $(cat "$work"/read?)"

kill -TERM "$sim_pid"
wait "$sim_pid" || fail "sim exited $? on SIGTERM"
sim_pid=
for i in 0 1 2; do [ -e "$work/r$i" ] && fail "sim left r$i behind"; done
[ "$(grep -c '^reader [0-2]: stopped: .*, 2 cards read' "$work/sim.err")" -eq 3 ] ||
  fail "sim reported: $(cat "$work/sim.err")"
echo ok
