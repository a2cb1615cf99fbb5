#!/usr/bin/env bash
# Runs the test suite while other processes keep every core busy, each test
# program until it fails or has passed ROUNDS times in a row: a test whose
# verdict depends on how fast the machine is fails here first.
#   scripts/stress-tests.sh [--sanitize] [--rounds N] [--load N] [-R REGEX]
#     --sanitize   the AddressSanitizer/UBSan build (build-asan/) instead of build/
#     --rounds N   passes in a row each test program needs (default 3)
#     --load N     busy processes beside the suite (default: twice the cores)
#     -R REGEX     only the CTest entries matching REGEX
# Builds what is missing the way scripts/test.sh does. Uses stress-ng when
# installed (apt-get install stress-ng), else shell loops.
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=""
rounds=3
load=$(( $(nproc) * 2 ))
filter=()
while [ $# -gt 0 ]; do
  case $1 in
    --sanitize) sanitize=--sanitize; shift ;;
    --rounds) rounds=$2; shift 2 ;;
    --load) load=$2; shift 2 ;;
    -R) filter=(-R "$2"); shift 2 ;;
    *) sed -n '2,11p' "$0" >&2; exit 2 ;;
  esac
done

build=build
[ -n "$sanitize" ] && build=build-asan
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  # The test script builds the tree and runs the suite once, unloaded.
  bash scripts/test.sh $sanitize
fi
if [ -n "$sanitize" ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
fi
export QT_QPA_PLATFORM=offscreen

busy=()
stop_load() {
  for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done
  wait "${busy[@]}" 2>/dev/null || true
}
trap stop_load EXIT
if command -v stress-ng >/dev/null 2>&1; then
  stress-ng --cpu "$load" --quiet >/dev/null 2>&1 &
  busy+=($!)
else
  for _ in $(seq 1 "$load"); do
    ( while :; do :; done ) &
    busy+=($!)
  done
fi
echo "stress-tests: $load busy processes on $(nproc) cores; each test program must pass $rounds times in a row ($build)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 3600 \
  --repeat until-fail:"$rounds" "${filter[@]}"
