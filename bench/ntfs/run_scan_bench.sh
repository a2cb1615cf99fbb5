#!/usr/bin/env bash
# The quick NTFS scan alone, as `dunmere-cli scan IMAGE` runs it, beside
# `ntfsundelete --scan` (ntfs-3g) on the same images, in the same run: median
# wall time of 5 runs each, page cache warm. With two images, also how the
# time grows with the number of MFT records. With BEFORE=<older dunmere-cli>,
# that build is timed too and both builds' listings are compared.
#   run_scan_bench.sh DUNMERE_CLI IMAGE [LARGER_IMAGE]
# Images: make_bench_image.sh IMAGE FILES CLUSTER FOLDERS (e.g. 100000 4096 2000),
# or for the scaling figure make_record_image.sh IMAGE 100000 and
# make_record_image.sh LARGER_IMAGE 1000000 (small files, a million in 5 min).
# Beside the wall time, the CPU time (user + sys) of the same runs is given:
# on a machine shared with other work it is the steadier figure.
# Targets: ours / ntfsundelete <= 2; time ratio <= 1.1 x the record ratio.
set -euo pipefail
CLI=${1:?usage: run_scan_bench.sh DUNMERE_CLI IMAGE [LARGER_IMAGE]}
shift
command -v ntfsundelete >/dev/null || { echo "missing ntfsundelete (ntfs-3g)" >&2; exit 1; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/ntfs-scan-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export DUNMERE_DATA_DIR=$WORK/data

median() {  # median SECONDS...
  printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'
}
timed() {  # timed COMMAND...: the wall seconds of one run; its CPU seconds go to $WORK/cpu
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$WORK/time" "$@" > "$WORK/last.out" 2>&1 || true
  t1=$(date +%s.%N)
  awk '{print $1 + $2}' "$WORK/time" >> "$WORK/cpu"
  echo "$t1 - $t0" | bc -l
}
med5() {  # the median wall seconds of 5 runs; the median CPU seconds in $WORK/cpu.med
  local runs=()
  : > "$WORK/cpu"
  for _ in 1 2 3 4 5; do runs+=("$(timed "$@")"); done
  median $(cat "$WORK/cpu") > "$WORK/cpu.med"
  median "${runs[@]}"
}
records() {  # MFT records of an image: the size of $MFT's $DATA / 1024
  ntfsinfo -i 0 "$1" 2>/dev/null | awk '/Dumping attribute \$DATA/ {d=1} d && /Data size:/ {print int($3 / 1024); exit}'
}
listing() {  # listing CLI IMAGE OUT: the found items, sorted, one per line
  "$1" scan --json "$2" 2>/dev/null | LC_ALL=C sort > "$3"
}

declare -A ours oursCpu
for IMG in "$@"; do
  cat "$IMG" > /dev/null
  o=$(med5 "$CLI" scan "$IMG")
  oc=$(cat "$WORK/cpu.med")
  n=$(med5 ntfsundelete --scan "$IMG")
  nc=$(cat "$WORK/cpu.med")
  ours[$IMG]=$o
  oursCpu[$IMG]=$oc
  printf '%s: %s MFT records\n' "$IMG" "$(records "$IMG")"
  printf '  dunmere-cli scan     %8.3f s  (CPU %.3f s)\n' "$o" "$oc"
  printf '  ntfsundelete --scan  %8.3f s  (CPU %.3f s)\n' "$n" "$nc"
  printf '  ratio ours / ntfsundelete: %.2f, CPU %.2f (target <= 2)\n' "$(echo "$o / $n" | bc -l)" \
    "$(echo "$oc / $nc" | bc -l)"
  if [ -n "${BEFORE:-}" ]; then
    b=$(med5 "$BEFORE" scan "$IMG")
    printf '  before (%s)  %8.3f s, %.1f x slower than now\n' "$BEFORE" "$b" "$(echo "$b / $o" | bc -l)"
    listing "$BEFORE" "$IMG" "$WORK/before.txt"
    listing "$CLI" "$IMG" "$WORK/now.txt"
    if cmp -s "$WORK/before.txt" "$WORK/now.txt"; then
      echo "  listings: identical ($(wc -l < "$WORK/now.txt") items)"
    else
      echo "  listings: DIFFER"; diff "$WORK/before.txt" "$WORK/now.txt" | head -5
    fi
  fi
done
if [ $# -ge 2 ]; then
  a=$1 b=$2
  ra=$(records "$a") rb=$(records "$b")
  printf 'scaling: %.2f x the records took %.2f x the time, %.2f x the CPU time (target <= 1.1 x the record ratio)\n' \
    "$(echo "$rb / $ra" | bc -l)" "$(echo "${ours[$b]} / ${ours[$a]}" | bc -l)" \
    "$(echo "${oursCpu[$b]} / ${oursCpu[$a]}" | bc -l)"
fi
