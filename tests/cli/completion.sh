#!/usr/bin/env bash
# The bash and zsh completion scripts and the manual page that the tool
# writes from its own help: valid, complete, and what the build wrote.
set -uo pipefail
mw=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$mw" generate bash >"$work/bash" || fail "generate bash exited $?"
"$mw" generate zsh >"$work/zsh" || fail "generate zsh exited $?"
"$mw" generate man >"$work/man" || fail "generate man exited $?"
"$mw" generate fish >/dev/null 2>&1 && fail "generate fish should be refused"
"$mw" --help | grep -q generate && fail "generate is hidden from the help"

# The build wrote the same files beside the tool, where they install.
share=$(dirname "$mw")/share
cmp -s "$work/bash" "$share/bash-completion/completions/markwire" || fail "build's bash script differs"
cmp -s "$work/zsh" "$share/zsh/site-functions/_markwire" || fail "build's zsh script differs"
cmp -s "$work/man" "$share/man/man1/markwire.1" || fail "build's manual page differs"

# The subcommands as --help lists them.
commands=$("$mw" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && /^  [a-z]/ {print $1}')
[ "$(echo "$commands" | wc -l)" -ge 10 ] || fail "could not read the subcommands: $commands"

# bash: valid, and sourced it completes as a shell would ask it to.
bash -n "$work/bash" || fail "bash -n"
complete_line() {  # the words of a command line, the last one being completed
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _markwire
           printf "%s\n" "${COMPREPLY[@]}"' _ "$work/bash" "$@"
}
[ "$(complete_line markwire re)" = "read" ] || fail "markwire re<TAB>: $(complete_line markwire re)"
[ "$(complete_line markwire "" | sort | tr '\n' ' ')" = "$(echo "$commands" | sort | tr '\n' ' ')" ] ||
  fail "markwire <TAB>: $(complete_line markwire "")"
[ "$(complete_line markwire send --d)" = "--device" ] || fail "send --d<TAB>"
[ "$(complete_line markwire --trace session -d /dev/null --j)" = "--json" ] || fail "session --j<TAB>"
# Nested: past an option's value to the subcommand, then its choices.
[ "$(complete_line markwire test -d /dev/null a)" = "area" ] || fail "test -d X a<TAB>"
[ "$(complete_line markwire barcode render --symbology c | sort | tr '\n' ' ')" = "code128 code39 " ] ||
  fail "--symbology c<TAB>: $(complete_line markwire barcode render --symbology c)"
# A file where a file goes.
touch "$work/card.fmt"
[ "$(complete_line markwire read --format "$work/car")" = "$work/card.fmt" ] || fail "--format FILE<TAB>"

# zsh: valid, when zsh is here.
if command -v zsh >/dev/null; then
  zsh -n "$work/zsh" || fail "zsh -n"
  head -1 "$work/zsh" | grep -qx "#compdef markwire" || fail "no #compdef line"
else
  echo "zsh not installed: its script's syntax is not checked"
fi
for c in $commands; do grep -q "^_markwire_$c()" "$work/zsh" || fail "zsh: no function for $c"; done

# The manual page: its sections, every subcommand, the environment and the
# exit statuses; rendered without a warning when groff is here.
for section in NAME SYNOPSIS DESCRIPTION COMMANDS ENVIRONMENT "EXIT STATUS" "SEE ALSO"; do
  grep -qx "\.SH $section" "$work/man" || fail "man: no $section"
done
for c in $commands; do grep -qx "\.SS $c" "$work/man" || fail "man: no $c"; done
grep -qx "\.SS test area" "$work/man" || fail "man: no nested command"
grep -qx "\.B MARKWIRE_DEVICE" "$work/man" || fail "man: no MARKWIRE_DEVICE"
for code in 0 1 2 3 64 65 66 130 141 143; do
  grep -qx "\.B $code" "$work/man" || fail "man: exit status $code missing"
done
if command -v groff >/dev/null; then
  groff -man -Tutf8 -ww -z "$work/man" 2>"$work/warn" && [ ! -s "$work/warn" ] ||
    fail "groff: $(cat "$work/warn")"
  groff -man -Tascii "$work/man" 2>/dev/null | sed 's/.\x08//g' >"$work/page"
  grep -q "markwire - optical mark reader driver tool" "$work/page" || fail "rendered page: no NAME line"
  for c in $commands; do grep -qE "^   $c\$" "$work/page" || fail "rendered page: no $c"; done
else
  echo "groff not installed: the page is checked as text only"
fi
echo "ok"
