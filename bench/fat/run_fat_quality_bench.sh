#!/usr/bin/env bash
# Recovery quality of the quick FAT scan and of the deep scan of a live FAT
# volume, beside tsk_recover -e, case by case in one run:
#  spread32_4k, spread32_512  deleted folders whose entries fill several
#                             clusters (tests/fixtures/make_fat_spread_images.sh);
#  fat16                      the small FAT16 test image (make_fat_images.sh);
#  bench32                    20,000 files in 500 folders, half deleted
#                             (make_bench32.sh; skipped with --small).
# For each: deleted files byte-exact (by content), with their names, with
# their folder paths; for the deep scan also how many files the deep FAT
# engine adds and how many of those are copies (same name and size) of a
# quick-pass file.
# Usage: run_fat_quality_bench.sh BUILD_DIR [WORK_DIR] [--small]
set -euo pipefail
build=${1:?usage: run_fat_quality_bench.sh BUILD_DIR [WORK_DIR] [--small]}
work=${2:-/tmp/dunmere-fat-quality}
small=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
fixtures="$here/../../tests/fixtures"
for t in mkfs.fat mcopy mdel mdeltree tsk_recover python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh --bench)" >&2; exit 77; }
done
driver="$build/bench/fat/fat_bench"
[ -x "$driver" ] || { echo "build the fat_bench target first" >&2; exit 1; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
mkdir -p "$work/img"
[ -f "$work/img/spread32_4k.img.manifest" ] || "$fixtures/make_fat_spread_images.sh" "$work/img" >/dev/null
[ -f "$work/img/fat16.img.manifest" ] || "$fixtures/make_fat_images.sh" "$work/img" >/dev/null
cases="spread32_4k spread32_512 fat16"
if [ "$small" != "--small" ]; then
  [ -f "$work/img/bench32.img.manifest" ] || "$here/make_bench32.sh" "$work/img/bench32.img"
  cases="$cases bench32"
fi

for c in $cases; do
  img="$work/img/$c.img"
  rm -rf "$work/$c"
  mkdir -p "$work/$c"
  "$driver" "$img" "$work/$c/quick" "$work/$c/quick.list" > "$work/$c/quick.out"
  "$driver" "$img" "$work/$c/deep" "$work/$c/deep.list" --deep > "$work/$c/deep.out"
  tsk_recover -e "$img" "$work/$c/tsk" > "$work/$c/tsk.out" 2>&1
done

python3 - "$work" $cases <<'PY'
import hashlib, os, sys
work, cases = sys.argv[1], sys.argv[2:]

def tree(root):
    out = {}
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            out[os.path.relpath(p, root)] = hashlib.sha256(open(p, "rb").read()).hexdigest()
    return out

def score(deleted, root):
    files = tree(root)
    hashes = set(files.values())
    by_name, by_path = {}, {}
    for rel, h in files.items():
        by_name.setdefault(os.path.basename(rel), set()).add(h)
        by_path[rel] = h
    exact = sum(1 for f, n, h in deleted if h in hashes)
    named = sum(1 for f, n, h in deleted if h in by_name.get(n, ()))
    # tsk_recover writes below the root, the drivers too: the path must end
    # with the file's folders and name.
    suffix = {}
    for rel, h in files.items():
        parts = rel.split("/")
        for i in range(len(parts)):
            suffix.setdefault("/".join(parts[i:]), set()).add(h)
    pathed = sum(1 for f, n, h in deleted if h in suffix.get(f + n, ()))
    return exact, named, pathed, len(files)

def copies(listfile):
    quick, deep = set(), []
    for line in open(listfile, encoding="utf-8", errors="replace"):
        p = line.rstrip("\n").split("\t")
        if len(p) < 4:
            continue
        key = (os.path.basename(p[0]), p[1])
        if p[3] == "1":
            quick.add(key)
        elif p[3] == "3":
            deep.append(key)
    return len(deep), sum(1 for k in deep if k in quick)

for c in cases:
    orig = [l.rstrip("\n").split("\t") for l in open(f"{work}/img/{c}.img.manifest", encoding="utf-8") if l.strip()]
    deleted = [(f, n, h) for s, f, n, h in orig if s == "deleted"]
    print(f"{c}: {len(deleted)} deleted files")
    for name, root in (("dunmere quick", "quick"), ("dunmere deep", "deep"), ("tsk_recover -e", "tsk")):
        e, n, p, t = score(deleted, f"{work}/{c}/{root}")
        print(f"  {name:15s} byte-exact {e:6d}  with names {n:6d}  with folder paths {p:6d}  files out {t:6d}")
    d, dup = copies(f"{work}/{c}/deep.list")
    print(f"  deep FAT engine files {d}, copies of quick-pass files {dup}")
PY
