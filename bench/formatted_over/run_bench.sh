#!/usr/bin/env bash
# Deep scan of NTFS volumes formatted over by another file system, beside The
# Sleuth Kit (tsk_recover -e) and PhotoRec on the same images (not run by the
# tests). The images come from tests/fixtures/make_formatted_over_images.sh
# with PNG pictures and zip archives added (formats PhotoRec knows):
#   ext2.img      mkfs.ext2 over a filled NTFS volume
#   fat.img       mkfs.fat (FAT16) over it, a file written and one deleted
#   fat32.img     the same with mkfs.fat -F 32
#   disk-fat.img  an MBR disk holding fat.img at sector 2048 (whole-disk scan;
#                 tsk_recover is given the partition's offset, -o 2048)
# Old NTFS files count when their record and data survived the format
# ("survived"); each tool's output is hashed and scored: byte-exact, with the
# file's own name, and at its old folder path. The new FAT volume's deleted
# file is scored apart.
# Usage: run_bench.sh BUILD_DIR   (WORK=dir for the work folder, KEEP=1 keeps it)
set -euo pipefail
build=$(cd "${1:?usage: run_bench.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
cli="$build/cli/dunmere-cli"
[ -x "$cli" ] || { echo "build dunmere-cli first (cmake --build $build --target dunmere-cli)" >&2; exit 1; }
for t in tsk_recover photorec python3; do
  command -v "$t" >/dev/null 2>&1 || { echo "missing tool: $t (apt-get install sleuthkit testdisk)" >&2; exit 77; }
done
work=${WORK:-/tmp/dunmere-formatted-over-bench}
rm -rf "$work"
mkdir -p "$work/out"
cleanup() { [ "${KEEP:-0}" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT
log() { echo "[$(date -u +%H:%M:%S)] $*" >&2; }

log "making the images"
FORMATTED_OVER_REAL_FILES=1 "$src/tests/fixtures/make_formatted_over_images.sh" "$work/images" >&2
results="$work/results.jsonl"
: > "$results"
secs() { python3 -c "import time; print(time.monotonic())"; }

for image in ext2.img fat.img fat32.img disk-fat.img; do
  img="$work/images/$image"
  expect=$image
  offset=0
  [ "$image" = disk-fat.img ] && { expect=fat.img; offset=2048; }

  log "$image: dunmere deep scan"
  o="$work/out/dunmere-$image"
  t0=$(secs)
  DUNMERE_DATA_DIR="$work/data-$image" "$cli" recover --deep --fresh "$img" --to "$o" --force --layout tree \
    > "$o.log" 2>&1 || echo "dunmere-cli exit $?" >&2
  t1=$(secs)
  python3 "$here/score.py" "$work/images/manifest.tsv" "$expect" "$o" dunmere "$image" "$t0" "$t1" >> "$results"

  log "$image: tsk_recover -e"
  o="$work/out/tsk-$image"
  mkdir -p "$o"
  t0=$(secs)
  tsk_recover -e -o "$offset" "$img" "$o" > "$o.log" 2>&1 || echo "tsk_recover exit $? ($(tail -1 "$o.log"))" >&2
  t1=$(secs)
  python3 "$here/score.py" "$work/images/manifest.tsv" "$expect" "$o" tsk_recover "$image" "$t0" "$t1" >> "$results"

  log "$image: photorec"
  o="$work/out/photorec-$image"
  mkdir -p "$o"
  t0=$(secs)
  (cd "$o" && photorec /log /d "$o/recup" /cmd "$img" \
     partition_none,options,paranoid,fileopt,everything,enable,wholespace,search < /dev/null > "$o.log" 2>&1) ||
    echo "photorec exit $?" >&2
  t1=$(secs)
  python3 "$here/score.py" "$work/images/manifest.tsv" "$expect" "$o" photorec "$image" "$t0" "$t1" >> "$results"
done

python3 - "$results" <<'PY'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
print("\nOld NTFS files whose record and data survived the format: back byte-exact / with their name /")
print("at their old folder path; the new FAT volume's deleted file; files written; seconds.\n")
print(f"{'image':14} {'tool':12} {'survived':>8} {'exact':>6} {'named':>6} {'path':>6} {'newdel':>6} {'out':>6} {'secs':>6}")
for r in rows:
    print(f"{r['image']:14} {r['tool']:12} {r['survived']:>8} {r['exact']:>6} {r['named']:>6} {r['path']:>6} "
          f"{r['new_deleted']:>6} {r['files']:>6} {r['secs']:>6.1f}")
PY
