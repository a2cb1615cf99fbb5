#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (built by `scripts/test.sh --sanitize`,
# or here when missing, in build-asan/ with clang and -DDUNMERE_FUZZ=ON).
#   scripts/fuzz.sh --smoke              every target over its seeds, then ~5 s of fuzzing each
#   scripts/fuzz.sh --campaign SECONDS   a longer run spread over the targets (whole-engine
#                                        targets get three shares); the corpus grows in
#                                        build-asan/fuzz-corpus/ and is kept for the next one
#   scripts/fuzz.sh ... [TARGET...]      only those targets (names without "fuzz_")
# Prints executions and coverage per target; a crash or sanitizer report is
# kept in build-asan/fuzz-findings/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
case "$mode" in
  --smoke) seconds=5; shift ;;
  --campaign) seconds=${2:?--campaign needs SECONDS}; shift 2 ;;
  *) sed -n '2,11p' "$0" >&2; exit 2 ;;
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
  case "$1" in fuzz_quick_ntfs|fuzz_quick_fat|fuzz_deep_scan) echo 3 ;; *) echo 1 ;; esac
}
total_weight=0
for t in "${targets[@]}"; do total_weight=$((total_weight + $(weight "$t"))); done

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
    corpus=$scratch/corpus-$name
  else
    secs=$((seconds * $(weight "$t") / total_weight))
    [ "$secs" -ge 1 ] || secs=1
    corpus=$build/fuzz-corpus/$name
  fi
  mkdir -p "$corpus"
  log=$scratch/$name.log
  tmp=$scratch/tmp-$name
  mkdir -p "$tmp"
  result=ok
  # Seeds first, each once, read only; then fuzzing from them into the corpus.
  if ! TMPDIR=$tmp "$exe" -runs=0 -timeout=60 -artifact_prefix="$findings/$name-" "$seeds" >"$log" 2>&1; then
    result=FAILED-ON-SEEDS
  elif ! TMPDIR=$tmp "$exe" -max_total_time="$secs" -timeout=60 -rss_limit_mb=4096 -print_final_stats=1 \
           -artifact_prefix="$findings/$name-" "$corpus" "$seeds" >"$log" 2>&1; then
    result=FAILED
  fi
  rm -rf "$tmp"
  stats=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  execs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  [ -n "$execs" ] || execs=$(echo "$stats" | grep -oE '^#[0-9]+' | tr -d '#' || true)
  cov=$(echo "$stats" | grep -oE 'cov: [0-9]+' | grep -oE '[0-9]+' || true)
  ft=$(echo "$stats" | grep -oE 'ft: [0-9]+' | grep -oE '[0-9]+' || true)
  corp=$(echo "$stats" | grep -oE 'corp: [0-9]+' | grep -oE '[0-9]+' || true)
  printf '%-26s %10s %8s %8s %7s %s\n' "$name" "${execs:--}" "${cov:--}" "${ft:--}" "${corp:--}" "$result"
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
