#!/usr/bin/env bash
# The deep scan alone (scan --deep, nothing written out) on the carving image
# of run_deep_bench.sh, as a ratio of dd bs=64k of the same image, both with
# a warm page cache and timed as whole processes; median of RUNS (default 7).
# Quicker than the whole bench, for the read speed of the pass.
#   run_scan_ratio.sh BUILD_DIR [MIB [DATA_MIB]]   (default 200 MiB, 600 MiB of files offered)
#   WORK=dir keeps the image there (made once, reused while it exists)
set -euo pipefail
build=$(cd "${1:?usage: run_scan_ratio.sh BUILD_DIR [MIB [DATA_MIB]]}" && pwd)
mib=${2:-200}
data_mib=${3:-600}
runs=${RUNS:-7}
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
# The scan's logs are its output: on tmpfs when there is one, as the deep
# bench writes its tools' files.
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ]; then
  data=$(mktemp -d /dev/shm/dunmere-scan-ratio-data.XXXXXX)
else
  data="$work/data"
fi
# Both as whole processes, in turns (dd, scan, dd, scan, ...) from one timing
# process (timed.py): start-up, the scan's log set-up and the saving of its
# state count, as dd's start and exit do. The ratio is taken pair by pair.
DUNMERE_DATA_DIR="$data" python3 "$here/timed.py" --turns "$runs" \
  "$work/dd" -- dd if="$img" of=/dev/null bs=64k --- \
  "$work/scan" --out "$work/scan.log" --clear "$data" -- "$cli" scan --deep --fresh "$img" ||
  echo "a run failed (above)" >&2
[ "$data" = "$work/data" ] || rm -rf "$data"
python3 - "$work" "$runs" "$mib" <<'PY'
import re, statistics, sys
work, runs, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def wall(path):
    m, s = re.search(r"Elapsed \(wall clock\) time.*: (.*)", open(path).read()).group(1).split(":")
    return 60 * float(m) + float(s)
dd = [wall(f"{work}/dd.{i}.time") for i in range(1, runs + 1)]
scan = [wall(f"{work}/scan.{i}.time") for i in range(1, runs + 1)]
ratios = sorted(d / s for d, s in zip(dd, scan))
md, ms = statistics.median(dd), statistics.median(scan)
print(f"dd bs=64k median {md:.3f} s ({mib / md:.0f} MiB/s); scan --deep median {ms:.3f} s ({mib / ms:.0f} MiB/s); {runs} runs each")
print(f"scan alone = {statistics.median(ratios):.3f} of raw read (pairs: min {ratios[0]:.3f}, max {ratios[-1]:.3f}; target >= 0.6)")
PY
