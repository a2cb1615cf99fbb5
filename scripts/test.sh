#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh              the release build in build/
#   scripts/test.sh --sanitize   AddressSanitizer and UBSan build in build-asan/, made
#                                with clang together with the fuzz targets of fuzz/ (one
#                                build tree: scripts/fuzz.sh --smoke then runs them)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh ${1:+"$1"}
python3 scripts/check_layers.py
build=build
config=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUNMERE_SANITIZE=ON -DDUNMERE_FUZZ=ON -DDUNMERE_BUILD_BENCH=OFF)
  export CC=clang CXX=clang++
  # A tree configured with another compiler is configured afresh.
  if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt"; then
    rm -f "$build/CMakeCache.txt"
  fi
  export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
fi
cmake -S . -B "$build" "${config[@]}"
cmake --build "$build" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 1800
