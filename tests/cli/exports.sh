#!/usr/bin/env bash
# The shared library exports exactly the classic functions, the extensions
# and the reader handles, under the SONAME applications link against.
set -euo pipefail
lib=$2

# The list the library is built from.
expected=$(grep -o '"[A-Za-z_]* [0-9]* [0-9]*"' "$(dirname "$0")/../../cmake/exports.cmake" |
           tr -d '"' | awk '{print $1}' | sort)
[ "$(wc -l <<<"$expected")" -ge 50 ] || { echo "export list not found"; exit 1; }

actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWDBRVi]$/ {print $3}' | sed 's/@.*//' | sort -u)
if [ "$actual" != "$expected" ]; then
  echo "exports differ:"; diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libmarkwire.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }

# The core depends on nothing but the C and C++ runtimes.
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
for n in $needed; do
  case $n in libstdc++.so.*|libm.so.*|libgcc_s.so.*|libc.so.*|libpthread.so.*) ;;
    libasan.so.*|libubsan.so.*) ;;  # sanitizer builds
    *) echo "unexpected dependency $n"; exit 1 ;;
  esac
done
echo "ok: $(wc -l <<<"$expected") exports, SONAME $soname, needs $needed"
