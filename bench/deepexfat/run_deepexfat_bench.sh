#!/usr/bin/env bash
# The deep scan of an exFAT volume that was filled, then quick-formatted
# over (the fixture script's exfat-formatted-big.img: 3,000 files in 150
# folders on 1 GiB), beside tsk_recover -e and PhotoRec on the same image:
# the time each takes and how many of the old files each brings back
# byte-exact, with their names, and at their folders (the top folders, whose
# entries the new root overwrote, may stand as one LostFolder<n>, or as
# The Sleuth Kit's $OrphanFiles).
# Usage: run_deepexfat_bench.sh BUILD_DIR [WORK_DIR] [IMAGE]
#   IMAGE defaults to WORK_DIR/exfat-formatted-big.img, made when missing
#   (root, loop devices and FUSE: tests/fixtures/make_exfat_images.sh).
set -euo pipefail
build=${1:?usage: run_deepexfat_bench.sh BUILD_DIR [WORK_DIR] [IMAGE]}
work=${2:-/tmp/dunmere-deepexfat-bench}
img=${3:-$work/exfat-formatted-big.img}
here=$(cd "$(dirname "$0")" && pwd)
cli="$build/cli/dunmere-cli"
[ -x "$cli" ] || { echo "build the dunmere-cli target first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 77; }
mkdir -p "$work"
if [ ! -f "$img" ]; then
  "$here/../../tests/fixtures/make_exfat_images.sh" "$work" --only formatted-big
fi
[ -f "$img.manifest" ] || { echo "no manifest beside $img" >&2; exit 1; }

run() {  # NAME COMMAND...
  local name=$1
  shift
  rm -rf "${work:?}/$name" "$work/$name.data"
  mkdir -p "$work/$name.data"
  sync
  cat "$img" > /dev/null
  DUNMERE_DATA_DIR="$work/$name.data" /usr/bin/time -v -o "$work/$name.time" "$@" > "$work/$name.out" 2>&1 || true
}
run ours "$cli" recover --deep --fresh "$img" --to "$work/ours" --layout tree
if command -v tsk_recover > /dev/null; then run tsk tsk_recover -e "$img" "$work/tsk"; fi
if command -v photorec > /dev/null; then
  run photorec photorec /d "$work/photorec/f" /cmd "$img" partition_none,options,mode_ext2,fileopt,everything,enable,search
fi

python3 - "$work" "$img.manifest" <<'PY'
import hashlib, os, re, sys
work, manifest = sys.argv[1], sys.argv[2]
old = [l.rstrip("\n").split("\t") for l in open(manifest, encoding="utf-8")]
old = [(f, n, h) for s, f, n, h in old if s == "formatted"]
by_hash = {}
for f, n, h in old:
    by_hash.setdefault(h, []).append((f, n))

def at_place(rel, folder, name):
    if rel == folder + name:
        return True
    parts = rel.split("/", 1)
    # Our lost folders, and The Sleuth Kit's folder of orphan files.
    if not re.fullmatch(r"LostFolder\d+|\$OrphanFiles", parts[0]) or len(parts) < 2:
        return False
    segs = folder.split("/")[:-1]
    return any(parts[1] == "/".join(segs[k:]) + "/" + name for k in range(1, len(segs) + 1))

def timing(path):
    t = open(path).read()
    wall = re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1)
    parts = [float(x) for x in wall.split(":")]
    secs = parts[-1] + 60 * parts[-2] + (3600 * parts[-3] if len(parts) > 2 else 0)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t).group(1))
    return secs, rss

print(f"{len(old)} files of the volume formatted over")
for name in ("ours", "tsk", "photorec"):
    root = os.path.join(work, name)
    if not os.path.exists(os.path.join(work, name + ".time")):
        continue
    exact, named, placed = set(), set(), set()
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            h = hashlib.sha256(open(p, "rb").read()).hexdigest()
            for folder, n in by_hash.get(h, []):
                exact.add((folder, n))
                if f == n:
                    named.add((folder, n))
                    if at_place(os.path.relpath(p, root), folder, n):
                        placed.add((folder, n))
    secs, rss = timing(os.path.join(work, name + ".time"))
    print(f"{name:9s} {secs:7.2f} s  {rss / 1024:6.0f} MiB peak  byte-exact {len(exact):5d}  "
          f"with name {len(named):5d}  at folder {len(placed):5d}")
PY
