#!/usr/bin/env bash
# Makes the seed inputs of the fuzz targets in fuzz/seeds/<target>/ from real
# tools: mkntfs and ntfs-3g (FUSE), mkfs.fat and mtools, ImageMagick, zip,
# ffmpeg, sox, and the program's own command line for the scan logs
# (DUNMERE_CLI=path/to/dunmere-cli; those seeds are skipped without it).
# The seeds are committed; run this again only to renew them.
#   fuzz/make_seeds.sh [OUTDIR]      (default fuzz/seeds)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=${1:-$HERE/seeds}
for t in mkntfs ntfs-3g mkfs.fat mcopy mmd mdel convert zip python3 dd; do
  command -v "$t" >/dev/null 2>&1 || { echo "missing tool: $t" >&2; exit 77; }
done
[ -e /dev/fuse ] || { echo "no /dev/fuse" >&2; exit 77; }
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/dunmere-seeds-XXXXXX")
MNT=$WORK/mnt
mkdir -p "$MNT"
cleanup() { mountpoint -q "$MNT" && umount "$MNT" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
seed() { mkdir -p "$OUT/$1"; cat > "$OUT/$1/$2"; }
cut_bytes() { dd if="$1" bs=1 skip="$2" count="$3" status=none; }  # FILE OFFSET COUNT

# ---- pictures, archives and other media (carving, JPEG, PNG, skin archive) --
M=$WORK/media
mkdir -p "$M"
convert -size 48x32 gradient:red-blue -quality 80 "$M/a.jpg"
convert -size 24x24 plasma:fractal -seed 3 -interlace JPEG "$M/progressive.jpg"
convert -size 40x20 gradient:green-yellow "$M/a.png"
convert -size 16x16 xc:white -fill black -draw 'circle 8,8 4,4' -interlace PNG "$M/interlaced.png"
convert -size 20x20 xc:orange "$M/a.gif"
convert -size 20x20 xc:navy "$M/a.bmp"
convert -size 20x20 xc:teal -compress lzw "$M/a.tif"
printf 'some text for the archive\n%.0s' $(seq 1 40) > "$M/text.txt"
(cd "$M" && zip -q -9 a.zip text.txt a.png && zip -q -0 stored.zip a.gif)
gzip -9 -c "$M/text.txt" > "$M/text.gz"
if command -v sox >/dev/null; then sox -n -r 8000 -c 1 "$M/a.wav" synth 0.2 sine 440 2>/dev/null || true; fi
if command -v ffmpeg >/dev/null; then
  ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=0.3 -ar 8000 -b:a 8k "$M/a.mp3" 2>/dev/null || true
  ffmpeg -loglevel error -f lavfi -i testsrc=size=32x32:rate=5:duration=0.4 -pix_fmt yuv420p "$M/a.mp4" 2>/dev/null || true
fi
printf '%%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%%%EOF\n' > "$M/a.pdf"
for f in a.jpg progressive.jpg; do seed jpeg_walk "$f" < "$M/$f"; done
for f in a.png interlaced.png; do seed png_walk "$f" < "$M/$f"; done
for f in "$M"/*; do
  [ "$(stat -c %s "$f")" -le 24000 ] && seed carve_identify "$(basename "$f")" < "$f"
done
seed zip_reader a.zip < "$M/a.zip"
seed zip_reader stored.zip < "$M/stored.zip"

# ---- language files and config.ini --------------------------------------
# Both files in one input, split at the first NUL: config.ini, then the
# language file it names.
LANG_DIR=$HERE/../languages
if [ -d "$LANG_DIR" ]; then
  seed ini_file config.ini < "$LANG_DIR/config.ini"
  head -c 6000 "$LANG_DIR/Languages/English.ini" | seed ini_file English.ini
  { cat "$LANG_DIR/config.ini"; printf '\0'; head -c 6000 "$LANG_DIR/Languages/English.ini"; } | seed language_table english
  { printf '\xff\xfe'; printf '[DefaultLanguage]\r\nDefault=English\r\n' | iconv -f utf-8 -t utf-16le; printf '\0';
    printf '[Messages]\nMSG0101=Hello\n'; } | seed language_table utf16
fi

# ---- FAT: boot sectors, directory clusters, whole images -------------------
fat_image() {  # NAME SIZE-KiB FAT-BITS
  local img=$WORK/$1
  dd if=/dev/zero of="$img" bs=1K count="$2" status=none
  mkfs.fat -F "$3" -s 1 -S 512 -n SEEDS "$img" >/dev/null
  export MTOOLS_SKIP_CHECK=1
  mmd -i "$img" ::/Photos ::/Photos/Old ::/Docs
  mcopy -i "$img" "$M/a.jpg" ::/Photos/holiday_picture_long_name.jpg
  mcopy -i "$img" "$M/a.png" ::/Photos/Old/SMALL.PNG
  mcopy -i "$img" "$M/text.txt" "::/Docs/A rather long document name.txt"
  mcopy -i "$img" "$M/a.gif" ::/deleted_picture.gif
  mcopy -i "$img" "$M/a.pdf" ::/Docs/gone.pdf
  mdel -i "$img" ::/deleted_picture.gif ::/Docs/gone.pdf
}
fat_image fat12.img 256 12
fat_image fat16.img 4200 16
fat_image fat32.img 34000 32
for t in 12 16 32; do
  cut_bytes "$WORK/fat$t.img" 0 512 | seed fat_boot "fat$t"
done
# Directory clusters: every 512-byte sector of the images that holds entries.
$PY - "$WORK" "$OUT" <<'EOF'
import os, sys
work, out = sys.argv[1], sys.argv[2]
os.makedirs(f"{out}/fat_dir_entries", exist_ok=True)
os.makedirs(f"{out}/fat_dir_sector", exist_ok=True)
n = 0
for name in ("fat12.img", "fat16.img", "fat32.img"):
    data = open(f"{work}/{name}", "rb").read()
    for off in range(512, len(data), 512):
        s = data[off:off + 512]
        if s[11] == 0x0F or (s[0:2] == b".\x20" and s[11] & 0x10):
            open(f"{out}/fat_dir_entries/{name}_{off:x}", "wb").write(s)
            open(f"{out}/fat_dir_sector/{name}_{off:x}", "wb").write(s)
            n += 1
        if n > 12:
            break
EOF
# Whole images for the quick FAT engine, without the empty tail (the target
# pads them back).
$PY - "$WORK/fat12.img" "$OUT/quick_fat/fat12" <<'EOF'
import os, sys
data = open(sys.argv[1], "rb").read().rstrip(b"\0")
os.makedirs(os.path.dirname(sys.argv[2]), exist_ok=True)
open(sys.argv[2], "wb").write(data)
EOF

# ---- NTFS: boot sector, FILE records, run lists, attribute lists, LZNT1 ----
NIMG=$WORK/ntfs.img
truncate -s 2M "$NIMG"
mkntfs -F -q -Q -s 512 -c 512 -L seeds "$NIMG" >/dev/null 2>&1
ntfs-3g -o compression "$NIMG" "$MNT" || { echo "cannot mount with ntfs-3g" >&2; exit 77; }
mkdir "$MNT/Folder" "$MNT/Packed"
cp "$M/a.jpg" "$MNT/Folder/picture with a long name.jpg"
cp "$M/a.png" "$MNT/small.png"
printf 'resident\n' > "$MNT/tiny.txt"
$PY -c "import os,sys; os.setxattr(sys.argv[1], 'system.ntfs_attrib_be', (0x10 | 0x800).to_bytes(4, 'big'))" "$MNT/Packed"
seq -f 'line %06g of a compressible text' 1 600 > "$MNT/Packed/packed.txt"
# Enough names for one file that its names spill into an attribute list.
printf 'many names\n' > "$MNT/Folder/linked.txt"
for i in $(seq 1 60); do ln "$MNT/Folder/linked.txt" "$MNT/Folder/another_name_for_the_same_file_$i.txt"; done
cp "$M/text.txt" "$MNT/deleted.txt"
sync
rm "$MNT/deleted.txt"
sync
umount "$MNT"
cut_bytes "$NIMG" 0 512 | seed ntfs_boot mkntfs
$PY - "$NIMG" "$OUT" <<'EOF'
import os, struct, sys
img, out = sys.argv[1], sys.argv[2]
data = open(img, "rb").read()
bps = struct.unpack_from("<H", data, 11)[0]
spc = data[13]
cluster = bps * spc
mft = struct.unpack_from("<Q", data, 48)[0] * cluster
def mk(d): os.makedirs(f"{out}/{d}", exist_ok=True)
for d in ("ntfs_record", "ntfs_run_list", "ntfs_attribute_list", "lznt1"): mk(d)
def fixup(rec):
    rec = bytearray(rec)
    uo, uc = struct.unpack_from("<HH", rec, 4)
    for i in range(1, uc):
        rec[i * 512 - 2:i * 512] = rec[uo + 2 * i:uo + 2 * i + 2]
    return bytes(rec)
records, runs, lists, comp = 0, 0, 0, 0
for n in range(0, 128):
    rec = data[mft + n * 1024:mft + (n + 1) * 1024]
    if rec[:4] != b"FILE":
        continue
    in_use = struct.unpack_from("<H", rec, 22)[0] & 1
    if n in (0, 5, 6) or (n >= 24 and in_use) or (n >= 24 and records < 16):
        open(f"{out}/ntfs_record/rec{n}", "wb").write(rec)
        records += 1
    fixed = fixup(rec)
    pos = struct.unpack_from("<H", fixed, 20)[0]
    while pos + 16 <= len(fixed):
        t, ln = struct.unpack_from("<II", fixed, pos)
        if t == 0xFFFFFFFF or ln < 16 or pos + ln > len(fixed):
            break
        a = fixed[pos:pos + ln]
        if a[8] and t == 0x20:
            # A list too long for its record lies in clusters of its own.
            ro = struct.unpack_from("<H", a, 32)[0]
            hdr = a[ro]
            lc, lo = hdr & 15, hdr >> 4
            lcn = int.from_bytes(a[ro + 1 + lc:ro + 1 + lc + lo], "little", signed=True)
            real = struct.unpack_from("<Q", a, 48)[0]
            open(f"{out}/ntfs_attribute_list/rec{n}", "wb").write(data[lcn * cluster:lcn * cluster + real])
            lists += 1
        if a[8]:
            ro = struct.unpack_from("<H", a, 32)[0]
            if runs < 8:
                open(f"{out}/ntfs_run_list/rec{n}_{t:x}", "wb").write(a[ro:])
                runs += 1
            flags = struct.unpack_from("<H", a, 12)[0]
            if t == 0x80 and flags & 0xFF and comp < 3:
                # The first compression unit's clusters, as the reader gets them.
                lcn, r = 0, ro
                hdr = a[r]
                lc, lo = hdr & 15, hdr >> 4
                cnt = int.from_bytes(a[r + 1:r + 1 + lc], "little")
                lcn = int.from_bytes(a[r + 1 + lc:r + 1 + lc + lo], "little", signed=True)
                unit = min(cnt, 16) * cluster
                open(f"{out}/lznt1/unit{comp}", "wb").write(data[lcn * cluster:lcn * cluster + unit])
                comp += 1
        elif t == 0x20:
            vo, vl = struct.unpack_from("<HI", a, 20)[0], struct.unpack_from("<I", a, 16)[0]
            open(f"{out}/ntfs_attribute_list/rec{n}", "wb").write(a[vo:vo + vl])
            lists += 1
        pos += ln
print(f"ntfs: {records} records, {runs} run lists, {lists} attribute lists, {comp} compression units")
# The quick NTFS engine's image, without the empty tail (the target pads it).
mk("quick_ntfs")
open(f"{out}/quick_ntfs/mkntfs", "wb").write(data[:-512].rstrip(b"\0"))
EOF

# ---- exFAT: boot regions, directory clusters, tables, a whole image --------
# mkfs.exfat formats; exfat-fuse writes and deletes through a loop device.
if command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null && command -v losetup >/dev/null; then
  exfat_image() {  # NAME SIZE SECTOR-BYTES CLUSTER-BYTES
    local img=$WORK/$1 loop
    truncate -s "$2" "$img"
    # The loop device's sector size is the one mkfs.exfat formats with.
    loop=$(losetup -f --show -b "$3" "$img")
    mkfs.exfat -c "$4" -b 4K -L SEEDS "$loop" >/dev/null
    mount.exfat-fuse "$loop" "$MNT" >/dev/null 2>&1 || { losetup -d "$loop"; echo "cannot mount with exfat-fuse" >&2; exit 77; }
    mkdir -p "$MNT/Photos/Old" "$MNT/Docs" "$MNT/Gone/Inner"
    cp "$M/a.jpg" "$MNT/Photos/holiday picture with a long name.jpg"
    cp "$M/a.png" "$MNT/Photos/Old/SMALL.PNG"
    cp "$M/text.txt" "$MNT/Docs/A rather long document name.txt"
    cp "$M/a.gif" "$MNT/deleted picture.gif"
    cp "$M/a.pdf" "$MNT/Docs/gone.pdf"
    cp "$M/a.png" "$MNT/Gone/Inner/inside a deleted folder.png"
    for i in 1 2 3; do head -c 1500 "$M/text.txt" > "$MNT/Docs/piece $i.txt"; done
    rm "$MNT/Docs/piece 2.txt"
    cat "$M/text.txt" "$M/text.txt" > "$MNT/Docs/fragmented.txt"
    rm "$MNT/deleted picture.gif" "$MNT/Docs/gone.pdf" "$MNT/Docs/fragmented.txt"
    rm -r "$MNT/Gone"
    umount "$MNT"
    losetup -d "$loop"
  }
  exfat_image exfat512.img 1M 512 512
  exfat_image exfat4k.img 4M 4096 4096
  $PY - "$WORK" "$OUT" <<'EOF'
import os, struct, sys
work, out = sys.argv[1], sys.argv[2]
for d in ("exfat_boot", "exfat_entry_set", "exfat_tables", "quick_exfat", "deep_exfat"):
    os.makedirs(f"{out}/{d}", exist_ok=True)
for name in ("exfat512.img", "exfat4k.img"):
    data = open(f"{work}/{name}", "rb").read()
    bps = 1 << data[108]
    cb = bps << data[109]
    fat_off, fat_len, heap, count, root = struct.unpack_from("<IIIII", data, 80)
    open(f"{out}/exfat_boot/{name}", "wb").write(data[:12 * bps])
    def cluster(c):
        at = heap * bps + (c - 2) * cb
        return data[at:at + cb]
    # Every cluster that opens with a file entry, in use or deleted, and the root.
    n = 0
    for c in range(2, count + 2):
        body = cluster(c)
        if c == root or body[0] in (0x85, 0x05):
            open(f"{out}/exfat_entry_set/{name}_{c}", "wb").write(body.rstrip(b"\0") or body[:32])
            n += 1
    # The up-case table and the FAT, each after a chain's start and length.
    root_dir = cluster(root)
    for i in range(0, len(root_dir), 32):
        if root_dir[i] == 0x82:
            first, length = struct.unpack_from("<IQ", root_dir, i + 20)
            at = heap * bps + (first - 2) * cb
            open(f"{out}/exfat_tables/{name}_upcase", "wb").write(struct.pack("<II", 0, 0) + data[at:at + length])
    fat = data[fat_off * bps:fat_off * bps + min(fat_len * bps, 4 * (count + 2))]
    open(f"{out}/exfat_tables/{name}_fat", "wb").write(struct.pack("<II", root, 64) + fat)
    print(f"exfat {name}: {n} directory clusters")
    # The deep target's input: cluster size (512 bytes << n), root, the heap.
    shift = (cb // 512).bit_length() - 1
    heap_bytes = data[heap * bps:heap * bps + (4 << 20)].rstrip(b"\0")
    open(f"{out}/deep_exfat/{name}", "wb").write(bytes([shift, (root - 2) % 32]) + heap_bytes)
# The quick engine's image, without the empty tail (the target pads it).
data = open(f"{work}/exfat512.img", "rb").read()
open(f"{out}/quick_exfat/exfat512", "wb").write(data.rstrip(b"\0"))
EOF
else
  echo "mkfs.exfat, exfat-fuse or losetup missing: exFAT seeds left as they are" >&2
fi

# ---- deep scan: a FAT volume and pictures at sector boundaries ------------
{
  cat "$OUT/quick_fat/fat12"
  for f in a.jpg a.png a.gif a.pdf; do
    cat "$M/$f"; head -c $(( (512 - $(stat -c %s "$M/$f") % 512) % 512 )) /dev/zero
  done
} | seed deep_scan fat_and_pictures

# ---- scan logs from a real scan (the program's own command line) ----------
if [ -n "${DUNMERE_CLI:-}" ] && [ -x "$DUNMERE_CLI" ]; then
  DATA=$WORK/data
  mkdir -p "$DATA"
  DUNMERE_DATA_DIR=$DATA "$DUNMERE_CLI" scan "$WORK/fat16.img" >/dev/null 2>&1 || true
  DUNMERE_DATA_DIR=$DATA "$DUNMERE_CLI" scan --deep "$WORK/fat12.img" >/dev/null 2>&1 || true
  $PY - "$DATA/ScanLog" "$OUT" <<'EOF'
import os, sys
logs, out = sys.argv[1], sys.argv[2]
for d in ("scan_log", "relation_text", "resume_config", "kept_records"):
    os.makedirs(f"{out}/{d}", exist_ok=True)
n = 0
for root, _, files in os.walk(logs):
    for f in sorted(files):
        p = os.path.join(root, f)
        b = open(p, "rb").read()
        if f.endswith("_Relation"):
            open(f"{out}/relation_text/{n}", "wb").write(b[:4000])
        elif f == "config":
            open(f"{out}/resume_config/{n}", "wb").write(b)
        elif not f.endswith("_DirInfo") and not f.startswith("."):
            rel = open(p + "_Relation", "rb").read() if os.path.exists(p + "_Relation") else b""
            dirinfo = open(p + "_DirInfo", "rb").read() if os.path.exists(p + "_DirInfo") else b""
            # The three files in one input: lengths first (4 bytes each).
            rec = b[:346 * 24]
            blob = len(rec).to_bytes(4, "little") + len(rel).to_bytes(4, "little") + rec + rel + dirinfo
            open(f"{out}/scan_log/{n}", "wb").write(blob)
            cnt = len(rec) // 346
            open(f"{out}/kept_records/{n}", "wb").write(f"{f}\t{max(cnt - 3, 0)}\n".encode() + b"\0" + rec)
        n += 1
EOF
else
  echo "DUNMERE_CLI not set: scan-log seeds left as they are" >&2
fi
# A hand-written resume entry list and relation text beside the real ones.
mkdir -p "$OUT/relation_text" "$OUT/kept_records" "$OUT/resume_config"
printf ' | 0:0 - [0,1,2] | 5:1 - [3] | 7:2 - [4,5]' > "$OUT/relation_text/hand"
printf 'fat.log\t2\nother.log\tx\n../evil\t1\n\0' > "$OUT/kept_records/hand"
echo "seeds in $OUT:"
for d in "$OUT"/*/; do printf '  %-22s %3d files %7d bytes\n' "$(basename "$d")" "$(ls "$d" | wc -l)" "$(cat "$d"/* | wc -c)"; done
