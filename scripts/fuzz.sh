#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (built by `scripts/test.sh --sanitize`,
# or here when missing, in build-asan/ with clang and -DDUNMERE_FUZZ=ON).
#   scripts/fuzz.sh --smoke              every target over its seeds, then ~5 s of fuzzing from
#                                        them and ~3 s from an empty corpus each
#   scripts/fuzz.sh --campaign SECONDS   a longer run spread over the targets (whole-engine
#                                        targets get three shares), each share half from the
#                                        seeds and half from an empty start; the corpora grow
#                                        in build-asan/fuzz-corpus/ and are kept for the next one
#   scripts/fuzz.sh ... [TARGET...]      only those targets (names without "fuzz_")
# Prints executions and coverage per target; a crash or sanitizer report is
# kept in build-asan/fuzz-findings/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
case "$mode" in
  --smoke) seconds=5; empty_seconds=3; shift ;;
  --campaign) seconds=${2:?--campaign needs SECONDS}; shift 2 ;;
  *) sed -n '2,13p' "$0" >&2; exit 2 ;;
esac
build=${DUNMERE_FUZZ_BUILD:-build-asan}

targets=()
if [ $# -gt 0 ]; then
  for t in "$@"; do targets+=("fuzz_${t#fuzz_}"); done
else
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Build what is missing (one configure, then only the fuzz programs).
if ! grep -q 'DUNMERE_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDUNMERE_SANITIZE=ON -DDUNMERE_FUZZ=ON -DDUNMERE_BUILD_BENCH=OFF
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
findings=$build/fuzz-findings
mkdir -p "$findings"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/dunmere-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

weight() {
  case "$1" in fuzz_quick_ntfs|fuzz_quick_fat|fuzz_quick_exfat|fuzz_deep_scan) echo 3 ;; *) echo 1 ;; esac
}
total_weight=0
for t in "${targets[@]}"; do total_weight=$((total_weight + $(weight "$t"))); done

row() {  # LABEL LOG RESULT: executions and coverage of one run
  local stats execs cov ft corp
  stats=$(grep -E '^#[0-9]+' "$2" | tail -1 || true)
  execs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$2" | grep -oE '[0-9]+$' || true)
  [ -n "$execs" ] || execs=$(echo "$stats" | grep -oE '^#[0-9]+' | tr -d '#' || true)
  cov=$(echo "$stats" | grep -oE 'cov: [0-9]+' | grep -oE '[0-9]+' || true)
  ft=$(echo "$stats" | grep -oE 'ft: [0-9]+' | grep -oE '[0-9]+' || true)
  corp=$(echo "$stats" | grep -oE 'corp: [0-9]+' | grep -oE '[0-9]+' || true)
  printf '%-26s %10s %8s %8s %7s %s\n' "$1" "${execs:--}" "${cov:--}" "${ft:--}" "${corp:--}" "$3"
}

failed=()
printf '%-26s %10s %8s %8s %7s %s\n' target execs cov ft corpus result
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  exe=$build/fuzz/$t
  seeds=fuzz/seeds/$name
  [ -d "$seeds" ] || seeds=$scratch/empty-seeds
  mkdir -p "$seeds"
  if [ "$mode" = --smoke ]; then
    secs=$seconds
    empty_secs=$empty_seconds
    corpus=$scratch/corpus-$name
    empty_corpus=$scratch/empty-corpus-$name
  else
    share=$((seconds * $(weight "$t") / total_weight))
    secs=$((share - share / 2))
    empty_secs=$((share / 2))
    [ "$secs" -ge 1 ] || secs=1
    [ "$empty_secs" -ge 1 ] || empty_secs=1
    corpus=$build/fuzz-corpus/$name
    empty_corpus=$build/fuzz-corpus/$name-from-empty
  fi
  mkdir -p "$corpus" "$empty_corpus"
  log=$scratch/$name.log
  empty_log=$scratch/$name-from-empty.log
  tmp=$scratch/tmp-$name
  mkdir -p "$tmp"
  result=ok
  fuzz() {  # SECONDS LOG CORPUS [SEEDS]
    TMPDIR=$tmp "$exe" -max_total_time="$1" -timeout=60 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "${@:3}" >"$2" 2>&1
  }
  # Seeds first, each once, read only; then fuzzing from them into the corpus.
  # Seeds find depth; a start from nothing finds the edges of value ranges
  # that every seed stays inside.
  if ! TMPDIR=$tmp "$exe" -runs=0 -timeout=60 -artifact_prefix="$findings/$name-" "$seeds" >"$log" 2>&1; then
    result=FAILED-ON-SEEDS
  elif ! fuzz "$secs" "$log" "$corpus" "$seeds"; then
    result=FAILED
  elif ! fuzz "$empty_secs" "$empty_log" "$empty_corpus"; then
    result=FAILED-FROM-EMPTY
  fi
  rm -rf "$tmp"
  row "$name" "$log" "$result"
  [ -f "$empty_log" ] && row "$name (from empty)" "$empty_log" "$result"
  [ "$result" = FAILED-FROM-EMPTY ] && log=$empty_log
  if [ "$result" != ok ]; then
    failed+=("$name")
    cp "$log" "$findings/$name.log"
    grep -E 'ERROR: |SUMMARY: |runtime error|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs and logs in $findings/)" >&2
  exit 1
fi
