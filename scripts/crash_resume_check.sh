#!/usr/bin/env bash
# Interrupts a deep scan again and again and checks that taking it up gives
# exactly the files of one uninterrupted scan: none twice, none lost.
#
#   crash_resume_check.sh [--kills N] [--size MIB] [--image IMG] [--cli PATH] [--seed S] [--timed]
#
# Each round starts `dunmere-cli scan --deep` (which takes up the earlier,
# interrupted scan) and ends it at a random point of its sector pass,
# alternating a Ctrl-C (the scan saves its position) with kill -9 (it dies
# between saves, and the next round must drop what it wrote after the last
# saved position). The point is a percent the program itself stops at
# (DUNMERE_INTERRUPT_AT), so every round is cut where it was meant to be on
# any machine. --timed sends real signals after a random delay instead, which
# also lands between reports, but whether a round is cut at all then depends
# on the machine's speed: for soak runs, not for the suite. Then a
# last round runs to the end and its list is compared with the list of a
# scan that was never interrupted. Defaults: 20 interruptions of a 1 GiB FAT32
# image made with mkfs.fat and mtools (deleted and kept files, a deleted
# folder). Exit 0 when the lists match, 1 when not, 77 when a tool is missing.
set -euo pipefail

kills=20
size=1024
image=""
cli=""
seed=${RANDOM}
timed=0
while [ $# -gt 0 ]; do
  case $1 in
    --kills) kills=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --image) image=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --timed) timed=1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")/.." && pwd)
[ -n "$cli" ] || cli=$here/build/cli/dunmere-cli
[ -x "$cli" ] || { echo "no dunmere-cli at $cli (build it, or pass --cli)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DUNMERE_DATA_DIR=$work/data
mkdir -p "$DUNMERE_DATA_DIR"
RANDOM=$seed
echo "seed $seed"

if [ -z "$image" ]; then
  for t in mkfs.fat mcopy mmd mdel mdeltree python3; do
    command -v $t >/dev/null || { echo "missing tool: $t" >&2; exit 77; }
  done
  image=$work/deep.img
  truncate -s "${size}M" "$image"
  mkfs.fat -F 32 -n CRASHTEST "$image" >/dev/null
  export MTOOLS_SKIP_CHECK=1
  # Files of every kind the deep engines know: pictures and documents for
  # carving, folders for the deep FAT engine; about a third of the volume.
  python3 - "$work/src" "$size" <<'PY'
import os, random, sys, zlib, struct
out, size = sys.argv[1], int(sys.argv[2])
r = random.Random(5)
def png(w, h):
    raw = b"".join(b"\x00" + r.randbytes(w * 3) for _ in range(h))
    def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
budget = size * 1024 * 1024 // 3
n = 0
while budget > 0:
    folder = os.path.join(out, "Set%03d" % (n // 40))
    os.makedirs(folder, exist_ok=True)
    kind = n % 3
    if kind == 0:
        data, name = png(r.randint(40, 400), r.randint(40, 300)), "pic%05d.png" % n
    elif kind == 1:
        data, name = ("%PDF-1.4\n" + "text %d\n" % n * r.randint(50, 4000) + "%%EOF\n").encode(), "doc%05d.pdf" % n
    else:
        data, name = r.randbytes(r.randint(1000, 400000)), "blob%05d.bin" % n
    open(os.path.join(folder, name), "wb").write(data)
    budget -= len(data)
    n += 1
PY
  for d in "$work/src"/*; do
    b=$(basename "$d")
    mmd -i "$image" "::/$b"
    mcopy -i "$image" "$d"/* "::/$b/"
  done
  # Every other folder deleted whole, and every fifth file of the rest.
  i=0
  for d in "$work/src"/*; do
    b=$(basename "$d")
    if [ $((i % 2)) -eq 0 ]; then
      mdeltree -i "$image" "::/$b"
    else
      j=0
      for f in "$d"/*; do
        [ $((j % 5)) -eq 0 ] && mdel -i "$image" "::/$b/$(basename "$f")"
        j=$((j + 1))
      done
    fi
    i=$((i + 1))
  done
  rm -rf "$work/src"
fi

list() {  # the sorted JSON lines of a finished scan
  grep '^{' "$1" | sort
}

# The reference: one scan never interrupted. Timed on its second run, when
# the image is in the page cache as it is for the rounds.
"$cli" scan --deep --fresh --json "$image" >"$work/ref.out" 2>"$work/ref.err" </dev/null
t0=$(date +%s%N)
"$cli" scan --deep --fresh --json "$image" >"$work/ref.out" 2>"$work/ref.err" </dev/null
t1=$(date +%s%N)
ms=$(((t1 - t0) / 1000000))
list "$work/ref.out" >"$work/ref.sorted"
echo "uninterrupted deep scan: $(wc -l <"$work/ref.sorted") items in ${ms} ms"
[ -s "$work/ref.sorted" ] || { echo "the reference scan found nothing" >&2; exit 1; }
rm -rf "$DUNMERE_DATA_DIR"/*

# Interruptions are counted only when they cut a scan short; a round that
# finished before its signal starts the next one afresh.
sigs=0
fresh=1
rounds=0
resumed=0
while [ $sigs -lt "$kills" ] && [ $rounds -lt $((kills * 4)) ]; do
  rounds=$((rounds + 1))
  # Ctrl-C and kill -9 alternate.
  if [ $((sigs % 2)) -eq 0 ]; then sig=INT; else sig=KILL; fi
  extra=()
  [ $fresh -eq 1 ] && extra=(--fresh)
  if [ $timed -eq 0 ]; then
    # Ctrl-C rounds stop where they are asked and save the position; the
    # first round is one, so a later round always has a scan to take up.
    pct=$((RANDOM % 90 + 5))
    rc=0
    DUNMERE_INTERRUPT_AT="$pct:$sig" "$cli" scan --deep "${extra[@]}" --json "$image" \
      >"$work/run.out" 2>"$work/run.err" </dev/null || rc=$?
    at="at ${pct}%"
  else
    "$cli" scan --deep "${extra[@]}" --json "$image" >"$work/run.out" 2>"$work/run.err" </dev/null &
    pid=$!
    # Within the first two thirds of a whole scan's time: a taken-up scan has
    # less left to do.
    span=$((ms * 2 / 3))
    [ $span -gt 20 ] || span=20
    wait_ms=$((RANDOM % span + 5))
    sleep "$(printf '%d.%03d' $((wait_ms / 1000)) $((wait_ms % 1000)))"
    kill -s $sig $pid 2>/dev/null || true
    rc=0
    wait $pid 2>/dev/null || rc=$?
    at="after ${wait_ms} ms"
  fi
  grep -q "resuming" "$work/run.err" && resumed=$((resumed + 1))
  if [ $rc -eq 130 ] || [ $rc -eq 137 ]; then
    sigs=$((sigs + 1))
    fresh=0
    echo "round $rounds: SIG$sig $at cut the scan short (exit $rc)"
  else
    fresh=1
    echo "round $rounds: the scan ended (exit $rc) before SIG$sig $at"
  fi
done
[ $fresh -eq 0 ] || { echo "no interrupted scan to take up (the scans end too fast)" >&2; exit 1; }

"$cli" scan --deep --json "$image" >"$work/last.out" 2>"$work/last.err" </dev/null
# A scan stopped in its quick part saves no position: the next one starts
# afresh, which is right too. Taking up must have happened at least once.
grep -q "resuming" "$work/last.err" && resumed=$((resumed + 1))
echo "scans that took up an interrupted one: $resumed"
[ $resumed -gt 0 ] || { echo "no scan took up an interrupted one" >&2; exit 1; }
list "$work/last.out" >"$work/last.sorted"
dups=$(uniq -d "$work/last.sorted" | wc -l)
refdups=$(uniq -d "$work/ref.sorted" | wc -l)
if cmp -s "$work/ref.sorted" "$work/last.sorted"; then
  echo "PASS: after $sigs interruptions the resumed scan lists exactly the $(wc -l <"$work/ref.sorted") items of the uninterrupted one"
  exit 0
fi
echo "FAIL: the resumed scan differs from the uninterrupted one (items listed twice: $dups, in the reference: $refdups)"
echo "--- only in the uninterrupted scan (lost):"
comm -23 "$work/ref.sorted" "$work/last.sorted" | head -20
echo "--- only in the resumed scan (extra or twice):"
comm -13 "$work/ref.sorted" "$work/last.sorted" | head -20
exit 1
