#!/usr/bin/env bash
# The fuzz targets in fuzz/: libFuzzer, clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, built in build-fuzz/.
#
#   scripts/fuzz.sh build                  configure and build the targets
#   scripts/fuzz.sh replay                 build, then run every target once over its
#                                          checked-in corpus, fuzz/corpus/TARGET (CTest)
#   scripts/fuzz.sh run TARGET [SECONDS] [LIBFUZZER_ARGS...]
#                                          fuzz TARGET (default 600 s), one job per core
#                                          (JOBS=N to change), from fuzz/corpus/TARGET and
#                                          build-fuzz/corpus/TARGET, which keeps what every
#                                          run finds and so grows; crashes go to
#                                          build-fuzz/crashes/TARGET/
#   scripts/fuzz.sh merge TARGET           adds to fuzz/corpus/TARGET the few inputs of
#                                          build-fuzz/corpus/TARGET that reach code it does not
#   scripts/fuzz.sh seeds                  rewrite fuzz/corpus/* from fuzz/make_seeds.cpp (the
#                                          barcode corpus merged from 10,000 random waveforms)
#   scripts/fuzz.sh list                   the targets
#
# Targets: barcode_decode, format_text, session_bytes, session_sim. The
# compiler is clang-14 unless CC and CXX name another clang.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-fuzz
targets=(barcode_decode format_text session_bytes session_sim)

build() {
  # Line tables are all a sanitizer report needs, and build much faster than
  # full debug information.
  CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S . -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
    -DMARKWIRE_FUZZ=ON -DMARKWIRE_WERROR=ON -DMARKWIRE_TOOLS=OFF -DMARKWIRE_TESTS=OFF -DMARKWIRE_BENCH=OFF >/dev/null
  cmake --build "$build_dir" -j"$(nproc)" --target fuzz_targets "$@"
}

known() {
  local t
  for t in "${targets[@]}"; do [ "$t" = "$1" ] && return 0; done
  echo "unknown target '$1'; the targets: ${targets[*]}" >&2
  exit 64
}

# Adds to the checked-in corpus the inputs of $2... that reach an edge it
# does not (hit counts are not looked at, which keeps it small).
merge_into() {
  local target=$1 into=fuzz/corpus/$1
  shift
  mkdir -p "$into"
  "$build_dir/fuzz/fuzz_$target" -merge=1 -use_counters=0 -timeout=60 -rss_limit_mb=4096 \
    "$into" "$@" 2>&1 | grep -E "MERGE-OUTER: [0-9]+ new files" || true
}

case ${1:-} in
  build)
    build
    ;;
  replay)
    build
    ctest --test-dir "$build_dir" --output-on-failure -L fuzz -j"$(nproc)"
    ;;
  run)
    target=${2:?target name}
    known "$target"
    seconds=${3:-600}
    shift $(($# < 3 ? $# : 3))
    build
    root=$PWD work=$build_dir/corpus/$target crashes=$build_dir/crashes/$target
    logs=$build_dir/logs/$target jobs=${JOBS:-$(nproc)}
    mkdir -p "$work" "$crashes" "$logs"
    rm -f "$logs"/fuzz-*.log
    dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="$root/fuzz/dict/$target.dict")
    # One job per core (JOBS to change), each logging to fuzz-N.log in its
    # target's log dir, so that runs of two targets can go side by side.
    (cd "$logs" && "$root/$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=60 \
      -rss_limit_mb=4096 -artifact_prefix="$root/$crashes/" -print_final_stats=1 \
      -jobs="$jobs" -workers="$jobs" "${dict[@]}" "$@" "$root/$work" "$root/fuzz/corpus/$target") ||
      status=$?
    grep -hE "^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)" \
      "$logs"/fuzz-*.log || true
    echo "$work: $(ls "$work" | wc -l) inputs (scripts/fuzz.sh merge $target adds its new edges to fuzz/corpus)"
    # Slow units are kept for a look, but only these end a run as failed.
    if ls "$crashes" | grep -qE '^(crash|leak|timeout|oom)-'; then
      echo "found in $crashes:"
      ls "$crashes"
      exit 1
    fi
    exit "${status:-0}"
    ;;
  merge)
    known "${2:?target name}"
    build
    merge_into "$2" "$build_dir/corpus/$2"
    ;;
  seeds)
    build fuzz_make_seeds
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    "$build_dir/fuzz/fuzz_make_seeds" "$out" examples/card.fmt
    for t in "${targets[@]}"; do
      rm -rf "fuzz/corpus/$t"
      extra=()
      [ "$t" = barcode_decode ] && extra=("$out/barcode_candidates")
      merge_into "$t" "$out/$t" "${extra[@]}"
      echo "fuzz/corpus/$t: $(ls "fuzz/corpus/$t" | wc -l) files, $(cat "fuzz/corpus/$t"/* | wc -c) bytes"
    done
    ;;
  list)
    printf '%s\n' "${targets[@]}"
    ;;
  *)
    sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'
    exit 64
    ;;
esac
