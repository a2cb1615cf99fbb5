#!/usr/bin/env bash
# Quick exFAT scan + recovery of everything, beside The Sleuth Kit, in one
# run, on the image of make_bench_exfat.sh (4 GiB, 20,000 files in 500
# folders, half deleted; made once and kept in WORK_DIR):
#   tsk_recover -e IMAGE                      every file, live and deleted
#   tsk_recover IMAGE                         deleted files only (for reference)
#   dunmere-cli recover IMAGE --layout tree   quick scan + copy-out
#   dunmere-cli scan IMAGE                    the scan alone: CPU time
# Output goes to tmpfs and the image is read into the page cache first, so
# the times are the tools' own work. For each: wall time, peak memory, files
# written, and how many of the deleted files came back byte-exact at their
# folder path (against the manifest). Until an exFAT quick engine is in the
# build Dunmere's rows say so and the peer's figures stand alone. Each tool
# runs RUNS times (default 3), alternating; the median wall time counts.
# Usage: [RUNS=n] run_exfat_bench.sh BUILD_DIR [WORK_DIR [OUT_DIR]]
#   WORK_DIR keeps the image (default /tmp/dunmere-exfat-bench);
#   OUT_DIR takes the recovered files (default /dev/shm/dunmere-exfat-bench).
set -euo pipefail
build=$(cd "${1:?usage: run_exfat_bench.sh BUILD_DIR [WORK_DIR [OUT_DIR]]}" && pwd)
work=${2:-/tmp/dunmere-exfat-bench}
outdir=${3:-/dev/shm/dunmere-exfat-bench}
here=$(cd "$(dirname "$0")" && pwd)
cli="$build/cli/dunmere-cli"
[ -x "$cli" ] || { echo "build dunmere-cli first (cmake --build $build --target dunmere-cli)" >&2; exit 1; }
for t in tsk_recover python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh --bench)" >&2; exit 77; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 77; }
mkdir -p "$work"
img="$work/bench-exfat.img"
[ -f "$img" ] && [ -f "$img.manifest" ] || "$here/make_bench_exfat.sh" "$img"

rm -rf "$outdir"
mkdir -p "$outdir"
trap 'rm -rf "$outdir"' EXIT
export DUNMERE_DATA_DIR="$outdir/data"

runs=${RUNS:-3}
sync
cat "$img" > /dev/null
run() {  # NAME RUN COMMAND...: /usr/bin/time -v into NAME.RUN.time, output into NAME.log
  local name=$1 i=$2
  shift 2
  rm -rf "${outdir:?}/$name"
  /usr/bin/time -v -o "$outdir/$name.$i.time" "$@" > "$outdir/$name.log" 2>&1 || echo "exit $?" >> "$outdir/$name.log"
}
for i in $(seq 1 "$runs"); do
  run tsk "$i" tsk_recover -e "$img" "$outdir/tsk"
  run tskdel "$i" tsk_recover "$img" "$outdir/tskdel"
  run dunmere "$i" "$cli" recover "$img" --to "$outdir/dunmere" --force --layout tree
  run scan "$i" "$cli" scan "$img"
done

python3 - "$outdir" "$img.manifest" "$runs" <<'PY'
import hashlib, os, re, sys
out, manifest = sys.argv[1], sys.argv[2]
rows = [l.rstrip("\n").split("\t") for l in open(manifest, encoding="utf-8") if l.strip()]
deleted = [(f, n, h) for s, f, n, h in rows if s == "deleted"]

def timing(name):
    runs = sorted(one(os.path.join(out, f)) for f in os.listdir(out) if re.fullmatch(re.escape(name) + r"\.\d+\.time", f))
    return runs[(len(runs) - 1) // 2]

def one(path):
    t = open(path).read()
    parts = [float(x) for x in re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1).split(":")]
    wall = sum(p * 60 ** i for i, p in enumerate(reversed(parts)))
    cpu = float(re.search(r"User time \(seconds\): (.*)", t).group(1)) + \
        float(re.search(r"System time \(seconds\): (.*)", t).group(1))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t).group(1))
    return wall, cpu, rss

def score(root):
    # A tool may put a folder of its own above the volume's root: a file
    # counts at its path when the output path ends with folder + name.
    by_suffix, files = {}, 0
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            files += 1
            h = hashlib.sha256(open(p, "rb").read()).hexdigest()
            parts = os.path.relpath(p, root).split(os.sep)
            for i in range(len(parts)):
                by_suffix.setdefault("/".join(parts[i:]), set()).add(h)
    return files, sum(1 for f, n, h in deleted if h in by_suffix.get(f + n, ()))

def dunmere_missing(name):
    log = open(os.path.join(out, name + ".log"), encoding="utf-8", errors="replace").read()
    for line in log.splitlines():
        if "no file system to quick-scan" in line or "no quick engine" in line:
            return line.strip()
    return None

print(f"image: {len(rows)} files in 500 folders, {len(deleted)} deleted (50 folders whole); page cache warm, "
      f"output on tmpfs; median of {sys.argv[3]} runs")
res = {}
for name, label in (("tsk", "tsk_recover -e"), ("tskdel", "tsk_recover (deleted)"), ("dunmere", "dunmere-cli recover")):
    why = dunmere_missing(name) if name == "dunmere" else None
    if why:
        print(f"{label:22s} -- no exFAT quick engine in this build: {why}")
        continue
    wall, cpu, rss = timing(name)
    files, exact = score(os.path.join(out, name))
    res[name] = wall
    print(f"{label:22s} wall {wall:7.2f} s  cpu {cpu:7.2f} s  peak RSS {rss / 1024:7.1f} MiB  files out {files:6d}  "
          f"deleted byte-exact at their path {exact:6d}/{len(deleted)}")
if "dunmere" in res:
    print(f"time ratio dunmere / tsk_recover -e: {res['dunmere'] / res['tsk']:.3f}   (goal <= 0.5)")
    print(f"time ratio dunmere / tsk_recover (deleted only): {res['dunmere'] / res['tskdel']:.3f}")
why = dunmere_missing("scan")
if why:
    print(f"dunmere-cli scan alone -- {why}")
else:
    wall, cpu, rss = timing("scan")
    print(f"dunmere-cli scan alone: cpu {cpu:.2f} s (goal < 1 s), wall {wall:.2f} s, peak RSS {rss / 1024:.1f} MiB")
PY
