#!/usr/bin/env bash
# Quick FAT scan + recovery of every deleted file, beside tsk_recover, on one
# FAT32 image of 20,000 files in 500 folders (about half deleted, 50 whole
# folders deleted). Prints time ratio, peak memory and what each recovered.
# Usage: [FAT_BENCH_ARGS="--lost-limit 0"] run_fat_bench.sh BUILD_DIR [WORK_DIR]
# (FAT_BENCH_ARGS goes to the driver, e.g. to run without the look for lost folders)
set -euo pipefail
build=${1:?usage: run_fat_bench.sh BUILD_DIR [WORK_DIR]}
work=${2:-/tmp/dunmere-fat-bench}
for t in mkfs.fat mcopy mdel mdeltree tsk_recover python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh --bench)" >&2; exit 77; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 77; }
driver="$build/bench/fat/fat_bench"
[ -x "$driver" ] || { echo "build the fat_bench target first" >&2; exit 1; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
mkdir -p "$work"
img="$work/bench32.img"

[ -f "$img" ] && [ -f "$img.manifest" ] || "$(dirname "$0")/make_bench32.sh" "$img"

rm -rf "$work/ours" "$work/ours.data" "$work/tsk" "$work/tskall"
sync
# Warm the page cache the same way for both.
cat "$img" > /dev/null
/usr/bin/time -v -o "$work/ours.time" "$driver" "$img" "$work/ours" "$work/ours.list" ${FAT_BENCH_ARGS:-} > "$work/ours.out"
/usr/bin/time -v -o "$work/tsk.time" tsk_recover -e "$img" "$work/tskall" > "$work/tsk.out" 2>&1
/usr/bin/time -v -o "$work/tskdel.time" tsk_recover "$img" "$work/tsk" > "$work/tskdel.out" 2>&1

python3 - "$work" "$img.manifest" <<'PY'
import hashlib, os, re, sys
work, manifest = sys.argv[1], sys.argv[2]
orig = [l.rstrip("\n").split("\t") for l in open(manifest, encoding="utf-8")]
deleted = {(f + n): h for s, f, n, h in orig if s == "deleted"}
live_hashes = {h for s, f, n, h in orig if s == "live"}
del_hashes = set(deleted.values())

def timing(path):
    t = open(path).read()
    wall = re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1)
    parts = [float(x) for x in wall.split(":")]
    secs = parts[-1] + 60 * parts[-2] + (3600 * parts[-3] if len(parts) > 2 else 0)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t).group(1))
    return secs, rss

def tree(root):
    out = {}
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            rel = os.path.relpath(p, root)
            out[rel] = hashlib.sha256(open(p, "rb").read()).hexdigest()
    return out

def stats(name, root, timefile):
    global last_files
    secs, rss = timing(timefile)
    files = tree(root)
    exact_path = sum(1 for rel, h in files.items() if deleted.get(rel) == h)
    names_kept = sum(1 for rel in files if rel in deleted)
    folders_kept = len({os.path.dirname(rel) for rel in files if rel in deleted})
    by_content = len(del_hashes & set(files.values()))
    false = sum(1 for rel, h in files.items() if h not in del_hashes and h not in live_hashes)
    live_out = sum(1 for rel, h in files.items() if h in live_hashes and h not in del_hashes)
    print(f"{name:22s} time {secs:7.2f}s  peak RSS {rss/1024:7.1f} MiB  files out {len(files):6d}  "
          f"deleted byte-exact at their path {exact_path:6d}/{len(deleted)}  "
          f"by content {by_content:6d}  long names+paths kept {names_kept:6d}  folders {folders_kept:4d}  "
          f"live files out {live_out:6d}  false files {false:5d}")
    last_files = by_content
    return secs

print(f"image: {len(orig)} files, {len(deleted)} deleted, 500 folders (50 deleted whole)")
a = stats("dunmere quick FAT", os.path.join(work, "ours"), os.path.join(work, "ours.time"))
ours_files = last_files
b = stats("tsk_recover -e", os.path.join(work, "tskall"), os.path.join(work, "tsk.time"))
tsk_files = last_files
c = stats("tsk_recover (deleted)", os.path.join(work, "tsk"), os.path.join(work, "tskdel.time"))
print(f"time ratio dunmere / tsk_recover -e: {a/b:.3f}   (target <= 0.4)")
print(f"deleted files back byte-exact: dunmere {ours_files}, tsk_recover -e {tsk_files}   (target: at least tsk's)")
print(f"time ratio dunmere / tsk_recover (deleted only): {a/c:.3f}")
PY
echo "driver: $(cat "$work/ours.out")"
