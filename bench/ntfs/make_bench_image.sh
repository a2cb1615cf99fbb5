#!/usr/bin/env bash
# Makes the benchmark volume: an NTFS image with about 100,000 MFT records,
# half of them deleted files, spread over 200 folders. Writes IMAGE and
# IMAGE.deleted.tsv (path <TAB> sha256 of every deleted file). CLUSTER
# (bytes, default 4096) up to 2 MiB makes the volume with that cluster size
# on 512-byte sectors; the volume grows so that every file gets its clusters.
# FOLDERS (default 200) spreads the files over that many folders.
#   make_bench_image.sh IMAGE [FILES] [CLUSTER] [FOLDERS]
set -euo pipefail
IMG=${1:?usage: make_bench_image.sh IMAGE [FILES] [CLUSTER] [FOLDERS]}
FILES=${2:-100000}
CLUSTER=${3:-4096}
FOLDERS=${4:-200}
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3
MNT=$(mktemp -d "${TMPDIR:-/tmp}/ntfs-bench-XXXXXX")
trap 'mountpoint -q "$MNT" && umount "$MNT"; rmdir "$MNT"' EXIT
rm -f "$IMG"
BYTES=$(( FILES * CLUSTER * 3 / 2 ))
[ "$BYTES" -lt $((2 << 30)) ] && BYTES=$((2 << 30))
truncate -s "$BYTES" "$IMG"
mkntfs -F -q -Q -s 512 -c "$CLUSTER" "$IMG" >/dev/null 2>&1
ntfs-3g -o big_writes "$IMG" "$MNT" 2>/dev/null || ntfs-3g "$IMG" "$MNT"
$PY - "$MNT" "$FILES" "$IMG.deleted.tsv" "$FOLDERS" <<'PY'
import hashlib, os, random, sys
root, files, manifest = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = random.Random(20261208)
folders = int(sys.argv[4])
per = files // folders
deleted = []
for d in range(folders):
    dpath = os.path.join(root, "dir%03d" % d)
    os.mkdir(dpath)
    for i in range(per):
        # Mostly small files, some resident, a few of tens of KiB.
        size = rng.choice([200, 700, 1500, 3000, 5000, 9000, 20000, 60000])
        size = max(1, size + rng.randint(-100, 100))
        data = rng.randbytes(size)
        name = "f%03d_%05d.%s" % (d, i, rng.choice(["txt", "jpg", "doc", "bin", "pdf"]))
        with open(os.path.join(dpath, name), "wb") as f:
            f.write(data)
        if i % 2 == 1:
            deleted.append(("dir%03d/%s" % (d, name), hashlib.sha256(data).hexdigest()))
with open(manifest, "w") as m:
    for p, h in deleted:
        os.remove(os.path.join(root, p))
        m.write("%s\t%s\n" % (p, h))
PY
sync
umount "$MNT"
