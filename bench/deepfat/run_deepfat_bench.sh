#!/usr/bin/env bash
# Deep FAT scan + copy-out of everything found, beside tsk_recover -e, on a
# FAT32 image of 10,000 files in 250 folders (one in five deleted) that was
# then quick-formatted again with the same geometry. Prints the time ratio,
# peak memory and how many old files each brought back byte-exact.
# Usage: run_deepfat_bench.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?usage: run_deepfat_bench.sh BUILD_DIR [WORK_DIR]}
work=${2:-/tmp/dunmere-deepfat-bench}
for t in mkfs.fat mcopy mdel tsk_recover python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh --bench)" >&2; exit 77; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 77; }
driver="$build/bench/deepfat/deepfat_bench"
[ -x "$driver" ] || { echo "build the deepfat_bench target first" >&2; exit 1; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
mkdir -p "$work"
img="$work/reformat32.img"

if [ ! -f "$img" ] || [ ! -f "$img.manifest" ]; then
  rm -rf "$work/src" "$img"
  python3 - "$work/src" "$img.manifest" <<'PY'
import hashlib, os, random, sys
root, manifest = sys.argv[1], sys.argv[2]
r = random.Random(20261208)
lines = []
for d in range(250):
    sub = f"Folder {d:03d} of the bench/Inner folder {d:03d}"
    os.makedirs(os.path.join(root, sub))
    for f in range(40):
        name = f"File {f:02d} with a long name in folder {d:03d}.dat"
        data = r.randbytes(r.randint(1, 24000))
        with open(os.path.join(root, sub, name), "wb") as fh:
            fh.write(data)
        state = "deleted" if f % 5 == 4 else "live"
        lines.append(f"{state}\t{sub}/\t{name}\t{hashlib.sha256(data).hexdigest()}")
with open(manifest, "w") as fh:
    fh.write("\n".join(lines) + "\n")
PY
  truncate -s 300M "$img"
  mkfs.fat -F 32 -s 8 "$img" >/dev/null
  mcopy -s -i "$img" "$work/src"/* ::/
  for d in $(seq -f '%03g' 0 249); do
    mdel -i "$img" "::/Folder $d of the bench/Inner folder $d/File *4 with*" \
                   "::/Folder $d of the bench/Inner folder $d/File *9 with*"
  done
  mkfs.fat -F 32 -s 8 "$img" >/dev/null
  rm -rf "$work/src"
fi

rm -rf "$work/ours" "$work/ours.data" "$work/tsk"
sync
cat "$img" > /dev/null
/usr/bin/time -v -o "$work/ours.time" "$driver" "$img" "$work/ours" > "$work/ours.out"
/usr/bin/time -v -o "$work/tsk.time" tsk_recover -e "$img" "$work/tsk" > "$work/tsk.out" 2>&1

python3 - "$work" "$img.manifest" <<'PY'
import hashlib, os, re, sys
work, manifest = sys.argv[1], sys.argv[2]
orig = [l.rstrip("\n").split("\t") for l in open(manifest, encoding="utf-8")]
hashes = {h for s, f, n, h in orig}
inner = {(f.split("/")[1] + "/" + n): h for s, f, n, h in orig}

def timing(path):
    t = open(path).read()
    wall = re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1)
    parts = [float(x) for x in wall.split(":")]
    secs = parts[-1] + 60 * parts[-2] + (3600 * parts[-3] if len(parts) > 2 else 0)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t).group(1))
    return secs, rss

def stats(name, root, timefile):
    secs, rss = timing(timefile)
    files, exact, named = 0, set(), 0
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            h = hashlib.sha256(open(p, "rb").read()).hexdigest()
            files += 1
            if h in hashes:
                exact.add(h)
            rel = os.path.relpath(p, root).split("/")
            if len(rel) >= 2 and inner.get(rel[-2] + "/" + rel[-1]) == h:
                named += 1
    print(f"{name:18s} time {secs:7.2f}s  peak RSS {rss/1024:7.1f} MiB  files out {files:6d}  "
          f"old files byte-exact {len(exact):6d}/{len(orig)}  with folder and long name {named:6d}")
    return secs

print(f"image: {len(orig)} files in 250 folders two levels deep, {sum(1 for o in orig if o[0]=='deleted')} deleted, then reformatted")
a = stats("dunmere deep FAT", os.path.join(work, "ours"), os.path.join(work, "ours.time"))
b = stats("tsk_recover -e", os.path.join(work, "tsk"), os.path.join(work, "tsk.time"))
print(f"time ratio dunmere / tsk_recover -e: {a/b:.3f}")
PY
echo "driver: $(cat "$work/ours.out")"
