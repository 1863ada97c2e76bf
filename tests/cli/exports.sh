#!/usr/bin/env bash
# The shared library exports exactly the classic functions and the
# extensions, under the SONAME applications link against.
set -euo pipefail
lib=$2

expected="AdjustBehindTime AdjustCardInfo AdjustForeTime AdjustGrayInfo AdjustMota
DownLoadFormatFile OmrClose OmrG OmrGetCurve OmrGetError OmrGetErrorStr OmrGetOriOrGray
OmrGetSync OmrGetValue OmrInit OmrInitDevice OmrS OmrSetBarcodeMode OmrSetMessageHandler OmrSetProgressHandler
OmrSetTest OmrSetTraceHandler PassOneCard ReadOneCard"
expected=$(tr ' ' '\n' <<<"$expected" | sort)

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
echo "ok: 24 exports, SONAME $soname, needs $needed"
