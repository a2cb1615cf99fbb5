#!/usr/bin/env bash
# What the quick FAT scan's look for lost folders costs on a 32 GB card: a
# sparse 32 GiB FAT32 image (mkfs.fat, 32 KiB clusters like a formatted
# SDHC card) with 4,000 files in 40 folders through mtools, four folders
# deleted whole (one of them lost: its root slot taken by a new folder) and
# files deleted from three more. The quick scan runs without the look, with
# its default limit and with no limit; the bytes each read are turned into
# the time a card would take (80 MB/s sequential, 4 MiB runs; 1.5 MB/s for
# 4 KiB random reads, the other way to read one sector per free cluster).
# Usage: run_card_bench.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?usage: run_card_bench.sh BUILD_DIR [WORK_DIR]}
work=${2:-/tmp/dunmere-card-bench}
for t in mkfs.fat mcopy mdeltree mdel mmd python3; do
  command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh --bench)" >&2; exit 77; }
done
driver="$build/bench/fat/fat_bench"
[ -x "$driver" ] || { echo "build the fat_bench target first" >&2; exit 1; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
mkdir -p "$work"
img="$work/card32.img"
if [ ! -f "$img.done" ]; then
  rm -rf "$work/src" "$img"
  python3 - "$work/src" <<'PY'
import os, random, sys
r = random.Random(7)
for d in range(40):
    fd = os.path.join(sys.argv[1], f"DCIM{d:03d}")
    os.makedirs(fd)
    for f in range(100):
        with open(os.path.join(fd, f"IMG_{d:03d}{f:02d}.JPG"), "wb") as fh:
            fh.write(r.randbytes(r.randint(2000, 60000)))
PY
  truncate -s 32G "$img"
  mkfs.fat -F 32 -s 64 "$img" >/dev/null
  mcopy -s -i "$img" "$work"/src/* ::/
  for d in 005 015 025 035; do mdeltree -i "$img" "::/DCIM$d"; done
  for d in 001 002 003; do mdel -i "$img" "::/DCIM$d/IMG_${d}1*.JPG"; done
  mmd -i "$img" ::/NEWDIR  # takes DCIM005's slot: that folder is lost
  rm -rf "$work/src"
  touch "$img.done"
fi
run() {  # run NAME LIMIT
  rm -rf "$work/out" "$work/out.data"
  "$driver" "$img" "$work/out" "$work/out.list" --lost-limit "$2" --scan-only > "$work/$1.txt"
  python3 - "$1" "$work/$1.txt" <<'PY'
import re, sys
t = open(sys.argv[2]).read()
ms = float(re.search(r"scan_ms ([\d.]+)", t).group(1))
rec = int(re.search(r"records (\d+)", t).group(1))
mib = float(re.search(r"look read ([\d.]+) MiB", t).group(1))
cut = "stopped at its limit" in t
card = mib * 1048576 / 80e6
print(f"{sys.argv[1]:14s} records {rec:5d}  scan {ms/1000:6.2f}s here  look read {mib:9.1f} MiB"
      f"{' (limit reached)' if cut else ''}  on a card at 80 MB/s: +{card:6.1f}s")
PY
}
echo "32 GiB FAT32, 32 KiB clusters, $(( $(stat -c %b "$img") * 512 / 1048576 )) MiB written"
run "no look" 0
run "limit 256 MiB" 268435456
run "no limit" 999999999999
python3 - "$img" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    b = f.read(512)
    spc, rs, nf, fsz = b[13], struct.unpack("<H", b[14:16])[0], b[16], struct.unpack("<I", b[36:40])[0]
    total = struct.unpack("<I", b[32:36])[0]
    f.seek(rs * 512)
    fat = f.read(fsz * 512)
clusters = (total - rs - nf * fsz) // spc
free = sum(1 for i in range(2, clusters + 2) if struct.unpack_from("<I", fat, 4 * i)[0] & 0x0FFFFFFF == 0)
print(f"free clusters {free}: one 4 KiB random read each at 1.5 MB/s would take {free * 4096 / 1.5e6 / 60:.0f} min,"
      f" reading them all in 4 MiB runs at 80 MB/s {free * spc * 512 / 80e6 / 60:.1f} min")
PY
