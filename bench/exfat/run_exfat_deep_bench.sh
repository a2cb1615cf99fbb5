#!/usr/bin/env bash
# Deep scan of quick-formatted exFAT volumes: how many files of the old
# volume come back byte-exact with their names. Two images of
# tests/fixtures/make_exfat_images.sh, made once and kept in WORK_DIR:
#   exfat-formatted.img      48 MiB, 34 old files in 8 folders
#   exfat-formatted-big.img  1 GiB, 3,002 old files in 150 folders
# Both were filled through exfat-fuse, formatted again with mkfs.exfat (new
# bitmap, up-case table and root; the old folders' entry sets stay in their
# clusters), then given two new files. The manifest's `formatted` files
# still hold their data; `overwritten` ones lost some to the new files and
# are counted apart. The root was rewritten, so an old file's path can only
# come back from its own folder down: "with path" matches the folders below
# the top one. dunmere-cli recover --deep runs beside tsk_recover -e, which
# reads the old folders' entry sets left in the heap as orphans.
# Output goes to tmpfs; page cache warm.
# Usage: run_exfat_deep_bench.sh BUILD_DIR [WORK_DIR [OUT_DIR]]
set -euo pipefail
build=$(cd "${1:?usage: run_exfat_deep_bench.sh BUILD_DIR [WORK_DIR [OUT_DIR]]}" && pwd)
work=${2:-/tmp/dunmere-exfat-deep-bench}
outdir=${3:-/dev/shm/dunmere-exfat-deep-bench}
root=$(cd "$(dirname "$0")/../.." && pwd)
cli="$build/cli/dunmere-cli"
[ -x "$cli" ] || { echo "build dunmere-cli first (cmake --build $build --target dunmere-cli)" >&2; exit 1; }
for t in tsk_recover python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh --bench)" >&2; exit 77; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 77; }
mkdir -p "$work"
for name in formatted formatted-big; do
  if [ ! -f "$work/exfat-$name.img.manifest" ]; then
    t0=$(date +%s)
    bash "$root/tests/fixtures/make_exfat_images.sh" "$work" --only "$name" >/dev/null
    echo "made exfat-$name.img in $(($(date +%s) - t0)) s" >&2
  fi
done

rm -rf "$outdir"
mkdir -p "$outdir"
trap 'rm -rf "$outdir"' EXIT
for name in formatted formatted-big; do
  img="$work/exfat-$name.img"
  sync
  cat "$img" > /dev/null
  DUNMERE_DATA_DIR="$outdir/data-$name" /usr/bin/time -v -o "$outdir/$name.dunmere.time" \
    "$cli" recover --deep --fresh "$img" --to "$outdir/$name.dunmere" --force --layout tree \
    > "$outdir/$name.dunmere.log" 2>&1 || echo "exit $?" >> "$outdir/$name.dunmere.log"
  /usr/bin/time -v -o "$outdir/$name.tsk.time" tsk_recover -e "$img" "$outdir/$name.tsk" \
    > "$outdir/$name.tsk.log" 2>&1 || echo "exit $?" >> "$outdir/$name.tsk.log"
done

python3 - "$outdir" "$work" <<'PY'
import hashlib, os, re, sys
out, work = sys.argv[1], sys.argv[2]

def wall(path):
    t = open(path).read()
    parts = [float(x) for x in re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1).split(":")]
    return sum(p * 60 ** i for i, p in enumerate(reversed(parts)))

def tree(root):
    by_hash, by_suffix, files = set(), {}, 0
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            files += 1
            h = hashlib.sha256(open(p, "rb").read()).hexdigest()
            by_hash.add(h)
            parts = os.path.relpath(p, root).split(os.sep)
            for i in range(len(parts)):
                by_suffix.setdefault("/".join(parts[i:]), set()).add(h)
    return files, by_hash, by_suffix

for name in ("formatted", "formatted-big"):
    rows = [l.rstrip("\n").split("\t") for l in open(f"{work}/exfat-{name}.img.manifest", encoding="utf-8") if l.strip()]
    old = [(f, n, h) for s, f, n, h in rows if s == "formatted"]
    lost = sum(1 for r in rows if r[0] == "overwritten")
    print(f"exfat-{name}.img: {len(old)} old files intact after the format ({lost} more overwritten by the new files)")
    for tool, label in (("dunmere", "dunmere deep"), ("tsk", "tsk_recover -e")):
        files, by_hash, by_suffix = tree(f"{out}/{name}.{tool}")
        exact = sum(1 for f, n, h in old if h in by_hash)
        named = sum(1 for f, n, h in old if h in by_suffix.get(n, ()))
        # Below the top folder, whose entry set was in the rewritten root.
        pathed = sum(1 for f, n, h in old if h in by_suffix.get("/".join((f + n).split("/")[1:]) or n, ()))
        share = 100.0 * named / len(old) if old else 0.0
        print(f"  {label:15s} wall {wall(f'{out}/{name}.{tool}.time'):7.2f} s  files out {files:6d}  old byte-exact {exact:5d}  "
              f"with names {named:5d} ({share:5.1f} %, goal >= 90 %)  with path below the top folder {pathed:5d}")
        log = open(f"{out}/{name}.{tool}.log", encoding="utf-8", errors="replace").read().strip().splitlines()
        if log and (log[-1].startswith("exit") or "dunmere-cli:" in log[-1]):
            print(f"    {tool}: {log[-1]}")
PY
