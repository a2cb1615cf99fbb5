#!/usr/bin/env bash
# The exFAT bench image: a 4 GiB volume (mkfs.exfat defaults: 32 KiB
# clusters) with 20,000 files of 1 byte to 24 KB in 500 folders, written
# through exfat-fuse on a loop device; then about half deleted through it
# (50 folders whole, the odd files of the others). Writes IMAGE (sparse) and
# IMAGE.manifest (state<TAB>folder/<TAB>name<TAB>sha256) and says how long
# the making took. Needs root, a free loop device and FUSE (exit 77 if not).
# Usage: make_bench_exfat.sh IMAGE
set -euo pipefail
img=${1:?usage: make_bench_exfat.sh IMAGE}
for t in mkfs.exfat mount.exfat-fuse losetup python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh)" >&2; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "loop devices need root" >&2; exit 77; }
[ -c /dev/fuse ] && [ -w /dev/fuse ] || { echo "no usable /dev/fuse" >&2; exit 77; }
export LC_ALL=C.UTF-8
t0=$(date +%s.%N)
work=$(mktemp -d)
mnt="$work/mnt"
mkdir -p "$mnt"
loop=""
cleanup() {
  local rc=$?
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt" 2>/dev/null || umount -l "$mnt" || true; fi
  [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
  rm -rf "$work"
  [ $rc = 0 ] || rm -f "$img" "$img.manifest"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

python3 - "$work/src" "$img.manifest.tmp" <<'PY'
import hashlib, os, random, sys
root, manifest = sys.argv[1], sys.argv[2]
r = random.Random(20261209)
lines = []
for d in range(500):
    folder = f"Folder {d:03d} of the bench"
    os.makedirs(os.path.join(root, folder))
    whole = d % 10 == 9  # 50 folders are deleted whole
    for f in range(40):
        gone = whole or f % 2 == 1
        name = f"{'Gone' if gone else 'Kept'} file {f:02d} in folder {d:03d}.dat"
        data = r.randbytes(r.randint(1, 24000))
        with open(os.path.join(root, folder, name), "wb") as fh:
            fh.write(data)
        lines.append(f"{'deleted' if gone else 'live'}\t{folder}/\t{name}\t{hashlib.sha256(data).hexdigest()}")
with open(manifest, "w") as fh:
    fh.write("\n".join(lines) + "\n")
PY
t1=$(date +%s.%N)

rm -f "$img"
truncate -s 4G "$img"
loop=$(losetup -f --show "$img")
mkfs.exfat -L BENCH "$loop" >/dev/null
mount.exfat-fuse "$loop" "$mnt" >/dev/null
cp -r "$work/src"/. "$mnt"/
t2=$(date +%s.%N)
for d in $(seq -f '%03g' 0 499); do
  if [ $((10#$d % 10)) -eq 9 ]; then
    rm -r "$mnt/Folder $d of the bench"
  else
    rm "$mnt/Folder $d of the bench"/Gone*
  fi
done
umount "$mnt"
losetup -d "$loop"
loop=""
mv "$img.manifest.tmp" "$img.manifest"
t3=$(date +%s.%N)
awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v kib="$(du -k "$img" | cut -f1)" 'BEGIN {
  printf "bench image made in %.1f s: files generated %.1f s, written through exfat-fuse %.1f s, deleted %.1f s; %d MiB on disk\n",
    d - a, b - a, c - b, d - c, kib / 1024 }' >&2
