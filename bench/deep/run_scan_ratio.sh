#!/usr/bin/env bash
# The deep scan alone (scan --deep, nothing written out) on the carving image
# of run_deep_bench.sh, as a ratio of dd bs=64k of the same image, both with
# a warm page cache; best of RUNS (default 3). Quicker than the whole bench,
# for the read speed of the pass.
#   run_scan_ratio.sh BUILD_DIR [MIB [DATA_MIB]]   (default 200 MiB, 600 MiB of files offered)
#   WORK=dir keeps the image there (made once, reused while it exists)
set -euo pipefail
build=$(cd "${1:?usage: run_scan_ratio.sh BUILD_DIR [MIB [DATA_MIB]]}" && pwd)
mib=${2:-200}
data_mib=${3:-600}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)
cli="$build/cli/dunmere-cli"
[ -x "$cli" ] || { echo "build dunmere-cli first" >&2; exit 1; }
for t in convert python3; do
  command -v "$t" >/dev/null 2>&1 || { echo "missing tool: $t" >&2; exit 77; }
done
work=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/scan-ratio-XXXXXX")}
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT
img="$work/carve-$mib.img"
if [ ! -f "$img" ]; then
  bash "$here/make_pool.sh" "$work/pool"
  rm -rf "$work/src"
  python3 "$here/make_files.py" "$work/pool" "$work/src" "$work/manifest" "$data_mib" 3 flat >&2
  python3 "$here/make_carve_image.py" "$work/src" "$work/manifest" "$img" "$mib"
  rm -rf "$work/src"
fi
cat "$img" > /dev/null
best() { sort -g | head -1; }
dd_secs=$(for _ in $(seq "$runs"); do
  dd if="$img" of=/dev/null bs=64k 2>&1 | tail -1 | sed -E 's/.*copied, ([0-9.]+) s.*/\1/'
done | best)
scan_secs=$(for _ in $(seq "$runs"); do
  rm -rf "$work/data"
  s=$(date +%s.%N)
  DUNMERE_DATA_DIR="$work/data" "$cli" scan --deep --fresh "$img" > "$work/scan.log" 2>&1 || echo "dunmere-cli scan exit $?" >&2
  e=$(date +%s.%N)
  python3 -c "print($e - $s)"
done | best)
python3 - "$dd_secs" "$scan_secs" "$mib" <<'PY'
import sys
dd, scan, mib = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
print(f"dd bs=64k {dd:.3f} s ({mib / dd:.0f} MiB/s); scan --deep {scan:.3f} s ({mib / scan:.0f} MiB/s)")
print(f"scan alone = {dd / scan:.3f} of raw read (target >= 0.6)")
PY
