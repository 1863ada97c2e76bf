#!/usr/bin/env bash
# The library's layers depend one way: api -> commands -> session ->
# {transport, barcode, platform}; transport and barcode on platform alone.
# Fails on any include of a layer above (or beside) the including file's own.
set -euo pipefail
src=$(cd "$(dirname "$0")/../src" && pwd)
declare -A allowed=(
  [platform]="platform"
  [transport]="transport platform"
  [barcode]="barcode platform"
  [session]="session transport barcode platform"
  [commands]="commands session transport barcode platform"
  [api]="api commands session transport barcode platform"
)
bad=0
for layer in "${!allowed[@]}"; do
  while IFS=: read -r file _ include; do
    target=${include#*\"}
    target=${target%%/*}
    [ -d "$src/$target" ] || continue  # the public header, the standard library
    case " ${allowed[$layer]} " in
      *" $target "*) ;;
      *) echo "$file includes $include: $layer may not depend on $target"; bad=1 ;;
    esac
  done < <(grep -rn '#include "' "$src/$layer" || true)
done
[ $bad = 0 ] && echo "ok: every layer includes only itself and the layers below it"
exit $bad
