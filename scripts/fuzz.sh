#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs each
# for SECONDS, one after the other, parsers first.
#
#   scripts/fuzz.sh SECONDS [TARGET...]     e.g. scripts/fuzz.sh 60 host_config
#
# Each target starts from its seeds in fuzz/corpus/<target>/ and grows a working
# corpus in build-fuzz/fuzz-corpus/<target>/ (kept between runs, never
# committed). A finding (crash, sanitizer report, leak, timeout, out of memory)
# leaves its input in build-fuzz/fuzz-findings/<target>/ (emptied when the
# target runs again) and the fuzzer's log in
# build-fuzz/fuzz-logs/<target>.log; replay one with
#   build-fuzz/fuzz/fuzz_<target> FILE
# Exit status: 0 when no target found anything, 1 otherwise, 2 for bad usage.
set -euo pipefail
cd "$(dirname "$0")/.."

ALL=(host_config decoder_params tesk6_filter tesk2_filter tesk6_callback tesk2_callback
     zelt_callback reed_solomon file_input tesk6_core tesk2_core zelt_core)

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]   targets: ${ALL[*]}" >&2
  exit 2
fi
SECONDS_EACH=$1
shift
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL[@]}")

BUILD=build-fuzz
CXX=${FUZZ_CXX:-clang++-14}
CC=${FUZZ_CC:-clang-14}
CC=$CC CXX=$CXX cmake -S . -B $BUILD -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIK_FUZZ=ON \
  -DTAVIK_BENCH=OFF >/dev/null
cmake --build $BUILD -j "${JOBS:-$(nproc)}" --target fuzzers

# Largest input per target: whole seconds of audio for the cores, a few
# hundred kilobytes for files, the fuzzer's own default for texts.
max_len() {
  case $1 in
    tesk6_core | tesk2_core | zelt_core) echo 131072 ;;
    file_input) echo 262144 ;;
    *) echo 8192 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p $BUILD/fuzz-logs
failed=()
for t in "${TARGETS[@]}"; do
  exe=$BUILD/fuzz/fuzz_$t
  if [ ! -x "$exe" ]; then
    echo "unknown target: $t (targets: ${ALL[*]})" >&2
    exit 2
  fi
  work=$BUILD/fuzz-corpus/$t
  findings=$BUILD/fuzz-findings/$t
  log=$BUILD/fuzz-logs/$t.log
  rm -rf "$findings"
  mkdir -p "$work" "$findings"
  start=$(date +%s)
  status=0
  "$exe" -max_total_time="$SECONDS_EACH" -max_len="$(max_len "$t")" -timeout=20 \
    -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  took=$(($(date +%s) - start))
  stats=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 | sed 's/^#\([0-9]*\)[^c]*/\1 runs, /' || true)
  if [ $status -ne 0 ]; then
    echo "FAIL $t after ${took}s: $(grep -m1 -E 'ERROR|runtime error|deadly' "$log" || echo "exit $status")"
    echo "     inputs in $findings/, log $log"
    failed+=("$t")
  else
    echo "ok   $t ${took}s: $stats"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]}"
  exit 1
fi
echo "no findings"
