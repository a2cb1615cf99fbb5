#!/usr/bin/env bash
# Quick NTFS undelete beside The Sleuth Kit on the same image, in the same
# run: wall time, peak memory, and which deleted files each recovers exactly.
#   run_bench.sh BUILD_DIR [WORK_DIR] [CLUSTER FILES]
# The image is made once (make_bench_image.sh) and kept in WORK_DIR. CLUSTER
# (bytes) gives a volume of that cluster size with FILES files, e.g. 65536
# 10000 or 2097152 1000 for the big clusters written as 128 or as an exponent.
set -euo pipefail
BUILD=${1:?usage: run_bench.sh BUILD_DIR [WORK_DIR] [CLUSTER FILES]}
WORK=${2:-/tmp/dunmere-ntfs-bench}
CLUSTER=${3:-4096}
FILES=${4:-100000}
HERE=$(cd "$(dirname "$0")" && pwd)
DRIVER=$BUILD/bench/ntfs/ntfs_bench
[ -x "$DRIVER" ] || { echo "build the ntfs_bench target first" >&2; exit 1; }
for t in tsk_recover mkntfs ntfs-3g /usr/bin/time; do
  command -v "$t" >/dev/null || { echo "missing $t" >&2; exit 1; }
done
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3
mkdir -p "$WORK"
IMG=$WORK/bench.img
[ "$CLUSTER" = 4096 ] || IMG=$WORK/bench-c$CLUSTER-n$FILES.img
[ -f "$IMG.deleted.tsv" ] || bash "$HERE/make_bench_image.sh" "$IMG" "$FILES" "$CLUSTER"

measure() {  # measure NAME COMMAND...: wall seconds and peak KiB into NAME.time
  local name=$1; shift
  sync
  cat "$IMG" > /dev/null  # both tools start with the image in the page cache
  # A tool that cannot open the volume (The Sleuth Kit refuses 2 MiB
  # clusters) is reported with what it recovered: nothing.
  /usr/bin/time -v -o "$WORK/$name.time" "$@" > "$WORK/$name.log" 2>&1 || echo "$name failed: $(head -c 200 "$WORK/$name.log")"
}
rm -rf "$WORK/ours" "$WORK/ours.data" "$WORK/tsk" "$WORK/tsk-deleted"
measure ours "$DRIVER" "$IMG" "$WORK/ours"
measure tsk tsk_recover -e "$IMG" "$WORK/tsk"
measure tsk-deleted tsk_recover "$IMG" "$WORK/tsk-deleted"

$PY - "$WORK" "$IMG.deleted.tsv" <<'PY'
import hashlib, os, re, sys
work, manifest = sys.argv[1], sys.argv[2]
def stats(name):
    t = open(os.path.join(work, name + ".time")).read()
    wall = re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1)
    parts = [float(p) for p in wall.split(":")]
    secs = sum(p * 60 ** i for i, p in enumerate(reversed(parts)))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t).group(1))
    return secs, rss
def exact(folder, rel, sha):
    p = os.path.join(work, folder, rel)
    try:
        with open(p, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest() == sha
    except OSError:
        return False
wanted = [l.rstrip("\n").split("\t") for l in open(manifest)]
rows = []
for name in ("ours", "tsk", "tsk-deleted"):
    secs, rss = stats(name)
    ok = {p for p, h in wanted if exact(name, p, h)}
    rows.append((name, secs, rss, ok))
print("deleted files in the image: %d" % len(wanted))
for name, secs, rss, ok in rows:
    print("%-12s wall %8.2f s  peak RSS %8d KiB  byte-exact %d" % (name, secs, rss, len(ok)))
ours, tsk = rows[0], rows[1]
print("time ratio ours / tsk_recover -e: %.3f" % (ours[1] / tsk[1]))
print("time ratio ours / tsk_recover (deleted only): %.3f" % (ours[1] / rows[2][1]))
print("only ours exact: %d, only tsk exact: %d" % (len(ours[3] - tsk[3]), len(tsk[3] - ours[3])))
PY
