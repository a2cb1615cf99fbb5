#!/usr/bin/env bash
# Makes an NTFS image whose MFT holds about FILES file records, every other one
# deleted, for timing how the quick scan grows with the size of the MFT. The
# files are small (resident data, up to 600 bytes) so that a million of them
# fit in a few GiB; they sit 1,000 to a folder, which keeps ntfs-3g's index
# updates cheap. Made through ntfs-3g with one small program doing the
# creates and unlinks, since a shell loop would cost a process per file.
#   make_record_image.sh IMAGE [FILES]
set -euo pipefail
IMG=${1:?usage: make_record_image.sh IMAGE [FILES]}
FILES=${2:-100000}
PER=1000
MNT=$(mktemp -d "${TMPDIR:-/tmp}/ntfs-records-XXXXXX")
trap 'mountpoint -q "$MNT" && umount "$MNT"; rmdir "$MNT"' EXIT
rm -f "$IMG"
BYTES=$(( FILES * 3072 + (1 << 30) ))
truncate -s "$BYTES" "$IMG"
mkntfs -F -q -Q -s 512 -c 4096 "$IMG" >/dev/null 2>&1
ntfs-3g -o big_writes "$IMG" "$MNT"
python3 - "$MNT" "$FILES" "$PER" <<'PY'
import os, random, sys
root, files, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261208)
folders = (files + per - 1) // per
for d in range(folders):
    dpath = os.path.join(root, "dir%04d" % d)
    os.mkdir(dpath)
    for i in range(min(per, files - d * per)):
        fd = os.open(os.path.join(dpath, "f%04d_%04d.txt" % (d, i)), os.O_CREAT | os.O_WRONLY, 0o644)
        os.write(fd, rng.randbytes(rng.randint(1, 600)))
        os.close(fd)
# Deleted only once every file exists: ntfs-3g hands a freed record to the
# next new file, which would leave no deleted records behind.
for d in range(folders):
    dpath = os.path.join(root, "dir%04d" % d)
    for i in range(1, min(per, files - d * per), 2):
        os.unlink(os.path.join(dpath, "f%04d_%04d.txt" % (d, i)))
PY
sync
umount "$MNT"
