#!/usr/bin/env bash
# Deep scan beside PhotoRec and foremost on three images of MIB MiB each
# (not run by the tests):
#   fat32  a FAT32 volume filled with mtools, then quick-formatted again
#   ntfs   an NTFS volume filled through ntfs-3g, then mkntfs -Q again
#   carve  real files at sector-aligned offsets with random gaps, no volume
# Every image is read into the page cache first; dd gives the raw read speed.
# Each tool is timed as a whole process (timed.py: wall time and peak memory,
# dd's too) and writes to a tmpfs folder (Dunmere its scan logs too), so that
# all of them write to memory alike; every file it writes is hashed and compared with the manifest of the
# originals. The deep scan is also timed alone (scan --deep, nothing written
# out). Dunmere's runs and dd's are repeated (RUNS, default 5) and the median
# counts; PhotoRec and foremost run once.
# Usage: run_deep_bench.sh BUILD_DIR [MIB [DATA_MIB]]
#   MIB: image size (default 1024); DATA_MIB: real file data per image (default 600)
#   WORK=dir to choose the work folder (default /tmp/dunmere-deep-bench; removed at the end unless KEEP=1)
#   OUT=dir for what the tools write (default a folder in /dev/shm when it is a
#   tmpfs with room, else WORK/out)
set -euo pipefail
build=$(cd "${1:?usage: run_deep_bench.sh BUILD_DIR [MIB [DATA_MIB]]}" && pwd)
mib=${2:-1024}
data_mib=${3:-600}
here=$(cd "$(dirname "$0")" && pwd)
cli="$build/cli/dunmere-cli"
[ -x "$cli" ] || { echo "build dunmere-cli first (cmake --build $build --target dunmere-cli)" >&2; exit 1; }
for t in mkfs.fat mcopy mkntfs ntfs-3g convert photorec foremost python3 sha256sum; do
  command -v "$t" >/dev/null 2>&1 || { echo "missing tool: $t" >&2; exit 77; }
done
[ -e /dev/fuse ] || { echo "no /dev/fuse for ntfs-3g" >&2; exit 77; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
work=${WORK:-/tmp/dunmere-deep-bench}
runs=${RUNS:-5}
rm -rf "$work"
mkdir -p "$work/pool" "$work/mnt" "$work/times"
out=${OUT:-}
if [ -z "$out" ]; then
  # The tools write about DATA_MIB each; kept apart from the images' disk.
  free_mib=$(df -m --output=avail /dev/shm 2>/dev/null | tail -1 | tr -d ' ' || echo 0)
  if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ "${free_mib:-0}" -gt $((3 * data_mib + 512)) ]; then
    out=$(mktemp -d /dev/shm/dunmere-deep-bench-out.XXXXXX)
  else
    out="$work/out"
  fi
fi
mkdir -p "$out"
cleanup() {
  mountpoint -q "$work/mnt" && umount "$work/mnt" 2>/dev/null
  rm -rf "$out"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
results="$work/results.jsonl"
: > "$results"
log() { echo "[$(date -u +%H:%M:%S)] $*" >&2; }
timed() { python3 "$here/timed.py" "$@"; }
# The median run's time file of NAME.1.time ... NAME.RUNS.time, copied to NAME.time.
median_time() {
  python3 - "$1" "$runs" <<'PY'
import re, shutil, sys
name, runs = sys.argv[1], int(sys.argv[2])
def wall(p):
    m, s = re.search(r"Elapsed \(wall clock\) time.*: (.*)", open(p).read()).group(1).split(":")[-2:]
    return 60 * float(m) + float(s)
files = sorted((wall(f"{name}.{i}.time"), f"{name}.{i}.time") for i in range(1, runs + 1))
shutil.copy(files[len(files) // 2][1], f"{name}.time")
PY
}
log "output of the tools in $out"

# --- Pictures from ImageMagick; make_files.py gives each copy its own hash ---
log "making the picture pool"
bash "$here/make_pool.sh" "$work/pool"

# --- (a) FAT32 filled with mtools, then quick-formatted again ---------------
log "FAT32 image"
python3 "$here/make_files.py" "$work/pool" "$work/src-fat32" "$work/fat32.manifest" "$data_mib" 1 >&2
img="$work/fat32.img"
truncate -s "${mib}M" "$img"
# 4 KiB clusters; small trial images need 512-byte ones to stay FAT32
# (mtools tells the FAT type from the cluster count).
spc=8
[ "$mib" -ge 300 ] || spc=1
mkfs.fat -F 32 -s $spc -n OLDVOLUME "$img" >/dev/null
mcopy -s -i "$img" "$work/src-fat32"/* ::/
mkfs.fat -F 32 -s $spc -n NEWVOLUME "$img" >/dev/null

# --- (b) NTFS filled through ntfs-3g, then mkntfs -Q again ------------------
log "NTFS image"
python3 "$here/make_files.py" "$work/pool" "$work/src-ntfs" "$work/ntfs.manifest" "$data_mib" 2 >&2
img="$work/ntfs.img"
truncate -s "${mib}M" "$img"
mkntfs -F -q -Q -s 512 -c 4096 -L old "$img" >/dev/null 2>&1
ntfs-3g "$img" "$work/mnt"
cp -r "$work/src-ntfs"/. "$work/mnt"/
sync
# ntfs-3g's inode numbers are the MFT record numbers.
(cd "$work/mnt" && find . -mindepth 1 -printf '%i\t%P\n') > "$work/ntfs.records"
umount "$work/mnt"
mkntfs -F -q -Q -s 512 -c 4096 -L new "$img" >/dev/null 2>&1
# The new format writes its own first MFT records over the old ones (the
# first user records included); a file is expected back with its name and
# folder when its own record and those of all its folders still hold their
# old names.
python3 - "$img" "$work/ntfs.records" "$work/ntfs.manifest" "$work/ntfs.expect" <<'PY2'
import struct, sys
img, records, manifest, expect = sys.argv[1:5]
f = open(img, "rb")
boot = f.read(512)
cluster = struct.unpack("<H", boot[11:13])[0] * boot[13]
mft = struct.unpack("<Q", boot[0x30:0x38])[0] * cluster
def alive(rec, path):
    f.seek(mft + rec * 1024)
    r = f.read(1024)
    return r[:4] == b"FILE" and path.rsplit("/", 1)[-1].encode("utf-16-le") in r
ok = {}
for line in open(records, encoding="utf-8"):
    rec, path = line.rstrip("\n").split("\t", 1)
    ok[path] = alive(int(rec), path)
n = lost = 0
with open(expect, "w", encoding="utf-8") as out:
    for line in open(manifest, encoding="utf-8"):
        folder, name = line.split("\t")[:2]
        parts = (folder + name).split("/")
        if all(ok.get("/".join(parts[:k + 1]), False) for k in range(len(parts))):
            out.write(f"{folder}\t{name}\n")
            n += 1
        else:
            lost += 1
print(f"NTFS: {n} files keep their record chain, {lost} lost a record to the new format", file=sys.stderr)
PY2

# --- (c) raw carving image --------------------------------------------------
log "carving image"
python3 "$here/make_files.py" "$work/pool" "$work/src-carve" "$work/carve.manifest" "$data_mib" 3 flat >&2
python3 "$here/make_carve_image.py" "$work/src-carve" "$work/carve.manifest" "$work/carve.img" "$mib"

# --- The runs ----------------------------------------------------------------
for kind in fat32 ntfs carve; do
  img="$work/$kind.img"
  bytes=$(stat -c %s "$img")
  expect=all
  [ "$kind" = fat32 ] && expect=fat
  [ "$kind" = ntfs ] && expect="$work/ntfs.expect"
  sync
  cat "$img" > /dev/null
  # dd and the scan alone in turns (dd, scan, dd, scan, ...): both only read,
  # and a machine that slows down meanwhile slows both.
  # From one timing process (timed.py --turns).
  t="$work/times/dunmere-scan-$kind"
  DUNMERE_DATA_DIR="$out/data-scan-$kind" timed --turns "$runs" \
    "$work/times/dd-$kind" -- dd if="$img" of=/dev/null bs=64k --- \
    "$t" --out "$t.log" --clear "$out/data-scan-$kind" -- "$cli" scan --deep --fresh "$img" ||
    echo "a run failed (above)" >&2
  rm -rf "$out/data-scan-$kind"
  median_time "$work/times/dd-$kind"
  python3 -c "import json,re,sys; m,s=re.search(r'Elapsed \(wall clock\) time.*: (.*)', open(sys.argv[2]).read()).group(1).split(':'); secs=60*float(m)+float(s); print(json.dumps({'image': sys.argv[1], 'tool': 'dd', 'secs': secs, 'mbps': int(sys.argv[3]) / 1e6 / secs}))" \
    "$kind" "$work/times/dd-$kind.time" "$bytes" >> "$results"

  log "$kind: dunmere deep scan and copy-out ($runs runs)"
  o="$out/dunmere-$kind"
  t="$work/times/dunmere-$kind"
  for i in $(seq "$runs"); do
    rm -rf "$o" "$out/data-$kind"
    DUNMERE_DATA_DIR="$out/data-$kind" timed "$t.$i.time" --out "$t.log" -- \
      "$cli" recover --deep --fresh "$img" --to "$o" --force --layout tree || echo "dunmere-cli exit $?" >&2
  done
  rm -rf "$out/data-$kind"
  median_time "$t"
  BENCH_SRC="$work/src-$kind" python3 "$here/score.py" "$work/$kind.manifest" "$o" "$t.time" "$bytes" dunmere "$kind" "$expect" >> "$results"
  rm -rf "$o"

  # The scan alone (timed above, in turns with dd), nothing written out: the
  # read speed of the pass.
  o="$out/dunmere-scan-$kind"
  t="$work/times/dunmere-scan-$kind"
  mkdir -p "$o"
  median_time "$t"
  BENCH_SRC="$work/src-$kind" python3 "$here/score.py" "$work/$kind.manifest" "$o" "$t.time" "$bytes" dunmere-scan "$kind" "$expect" >> "$results"
  rm -rf "$o"

  # What writing the originals alone costs in the same place: the floor for
  # copy-out, whatever the scan.
  o="$out/cp-$kind"
  timed "$work/times/cp-$kind.time" -- cp -r "$work/src-$kind" "$o" || echo "cp exit $?" >&2
  python3 -c "import json,re,sys; m,s=re.search(r'Elapsed \(wall clock\) time.*: (.*)', open(sys.argv[1]).read()).group(1).split(':'); print(json.dumps({'image': sys.argv[2], 'tool': 'cp', 'secs': 60*float(m)+float(s)}))" \
    "$work/times/cp-$kind.time" "$kind" >> "$results"
  rm -rf "$o"

  log "$kind: photorec"
  o="$out/photorec-$kind"
  mkdir -p "$o"
  (cd "$o" && timed "$work/times/photorec-$kind.time" --out "$work/times/photorec-$kind.log" -- \
     photorec /log /d "$o/recup" /cmd "$img" partition_none,options,paranoid,fileopt,everything,enable,wholespace,search) \
    || echo "photorec exit $?" >&2
  BENCH_SRC="$work/src-$kind" python3 "$here/score.py" "$work/$kind.manifest" "$o" "$work/times/photorec-$kind.time" "$bytes" photorec "$kind" "$expect" >> "$results"
  rm -rf "$o"

  log "$kind: foremost"
  o="$out/foremost-$kind"
  timed "$work/times/foremost-$kind.time" --out "$work/times/foremost-$kind.log" -- \
    foremost -Q -t all -i "$img" -o "$o" || echo "foremost exit $?" >&2
  BENCH_SRC="$work/src-$kind" python3 "$here/score.py" "$work/$kind.manifest" "$o" "$work/times/foremost-$kind.time" "$bytes" foremost "$kind" "$expect" >> "$results"
  rm -rf "$o"
done

python3 - "$results" "$mib" "$data_mib" "$out" "$runs" <<'PY'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
print(f"\nImages of {sys.argv[2]} MiB, about {sys.argv[3]} MiB of real files each; page cache warm; every tool")
print(f"timed as a whole process, writing to {sys.argv[4]}; Dunmere's figures the median of {sys.argv[5]} runs.\n")
print("out: files written; exact/named: originals back byte-exact / also at their name and folder path;")
print("oversz/cut: output that starts like an original but is longer/shorter; other: no original's start.\n")
print(f"{'image':6} {'tool':9} {'secs':>7} {'MB/s':>8} {'RSS MB':>7} {'out':>6} {'exact':>11} {'named':>11} {'oversz':>6} {'cut':>5} {'other':>6}")
by = {}
for r in rows:
    by[(r["image"], r["tool"])] = r
    if r["tool"] == "dd":
        print(f"{r['image']:6} {'dd':9} {r['secs']:7.2f} {r['mbps']:8.0f}")
        continue
    if r["tool"] == "cp":
        print(f"{r['image']:6} {'cp -r':9} {r['secs']:7.2f}            (the original files copied)")
        continue
    if r["tool"] == "dunmere-scan":
        print(f"{r['image']:6} {'scan only':9} {r['secs']:7.2f} {r['mbps']:8.1f} {r['rss_mb']:7.0f}   (scan --deep, nothing written out)")
        continue
    print(f"{r['image']:6} {r['tool']:9} {r['secs']:7.2f} {r['mbps']:8.1f} {r['rss_mb']:7.0f} {r['files_out']:6} "
          f"{str(r['exact']) + '/' + str(r['originals']):>11} {str(r['named']) + '/' + str(r['originals']):>11} "
          f"{r['oversized']:6} {r['cut']:5} {r['other']:6}")
    if r["missed_by_type"]:
        print(f"{'':16} not byte-exact by type: {r['missed_by_type']}")
print("\nTargets:")
def verdict(ok): return "met" if ok else "NOT met"
for img in ("fat32", "ntfs", "carve"):
    d, p, dd = by.get((img, "dunmere")), by.get((img, "photorec")), by.get((img, "dd"))
    if not d or not p or not dd:
        continue
    # Both recover runs write the files they find; dd only reads, so the scan
    # alone (nothing written) is what compares with it.
    print(f"  {img}: recover {d['mbps']:.1f} MB/s = {d['mbps'] / p['mbps']:.2f}x PhotoRec's (>= 10x: {verdict(d['mbps'] >= 10 * p['mbps'])})")
    s = by.get((img, "dunmere-scan"))
    if s:
        print(f"  {img}: scan alone {s['mbps']:.1f} MB/s = {s['mbps'] / dd['mbps']:.3f} of dd (>= 0.6: {verdict(s['mbps'] >= 0.6 * dd['mbps'])})")
        c = by.get((img, "cp"))
        if c:
            print(f"  {img}: recover {d['secs']:.2f} s against scan alone + cp -r of the originals {s['secs'] + c['secs']:.2f} s")
    print(f"  {img}: peak memory {d['rss_mb']:.0f} MB (< 500: {verdict(d['rss_mb'] < 500)})")
    if img in ("fat32", "ntfs"):
        what = ("in a folder (entry survives; top folder name is gone with the old root)" if img == "fat32"
                else "whose MFT record and those of its folders survive")
        print(f"  {img}: expected files {what}: {d['expected']}, byte-exact {d['expected_exact']}, "
              f"with name and folder {d['expected_named']}: {verdict(d['expected_named'] == d['expected'])}")
        if d["missing_expected"]:
            print(f"    first missing: {d['missing_expected']}")
    else:
        bad_d, bad_p = d["oversized"] + d["other"], p["oversized"] + p["other"]
        # Plain text is no format of the signature table: compared on the others.
        both = [k for k in d["exact_by_type"] if k != "txt"]
        ed, ep = (sum(r["exact_by_type"][k] for k in both) for r in (d, p))
        print(f"  carve: byte-exact in {'/'.join(both)}: {ed} vs PhotoRec {ep} (PhotoRec also {p['exact_by_type'].get('txt', 0)} txt), "
              f"false/oversized {bad_d} vs {bad_p}: {verdict(ed >= ep and bad_d <= bad_p)}")
PY
