#!/usr/bin/env bash
# Stop latency of every engine on real images: for each IMAGE, the quick and
# the deep scan are stopped at fractions of their full time and the
# milliseconds to their end are printed (target: about 200 at worst).
# Images: bench/ntfs/make_record_image.sh IMAGE 1000000 (quick NTFS, a
# million MFT records), bench/fat/make_bench32.sh IMAGE (quick and deep FAT).
#   run_stop_latency_bench.sh BUILD_DIR IMAGE...
set -euo pipefail
build=${1:?usage: run_stop_latency_bench.sh BUILD_DIR IMAGE...}
shift
driver="$build/bench/stop_latency/bench_stop_latency"
[ -x "$driver" ] || { echo "build the bench_stop_latency target first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/stop-latency-XXXXXX")
trap 'rm -rf "$work"' EXIT
export DUNMERE_DATA_DIR=$work/data
for img in "$@"; do
  "$driver" "$img" quick
  "$driver" "$img" deep
done
