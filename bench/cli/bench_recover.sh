#!/usr/bin/env bash
# dunmere-cli recover against The Sleuth Kit's tsk_recover -e, end to end, on
# the same generated FAT32 and NTFS images in the same run: wall time of each
# (median of RUNS), their ratio, and how many of the deleted files each gets
# back byte-exact (by sha256 against the image's manifest).
#   bench/cli/bench_recover.sh [SCALE] [RUNS]
# SCALE (default 25) adds 4 x SCALE deleted files of 1-90 KB to each image.
# Needs the quick engines in the build; without one that row says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scale=${1:-25}
runs=${2:-3}
build=${DUNMERE_BUILD_DIR:-$root/build}
cli=$build/cli/dunmere-cli

command -v tsk_recover >/dev/null || { echo "tsk_recover missing (apt-get install sleuthkit)" >&2; exit 77; }
if [ ! -x "$cli" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target dunmere-cli >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DUNMERE_DATA_DIR=$work/data
bash "$root/tests/fixtures/make_cli_images.sh" "$work/img" both "$scale"

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Deleted files of the manifest found byte-exact anywhere below a folder.
exact() { # manifest folder
  local have
  have=$(find "$2" -type f -print0 | xargs -0 -r sha256sum | cut -d' ' -f1 | sort -u)
  cut -d' ' -f1 "$1" | sort -u | comm -12 - <(echo "$have") | wc -l
}

printf '%-6s %7s %12s %12s %8s %14s %14s\n' fs files dunmere_s tsk_s ratio dunmere_exact tsk_exact
for fs in fat32 ntfs; do
  img=$work/img/$fs.img
  manifest=$work/img/$fs.deleted
  total=$(wc -l < "$manifest")
  d_times=() t_times=()
  d_ok=1
  for i in $(seq 1 "$runs"); do
    rm -rf "$work/d" "$work/t"
    t0=$(now)
    if ! "$cli" recover "$img" --to "$work/d" --force >"$work/d.log" 2>&1; then
      if grep -q "no quick engine" "$work/d.log"; then d_ok=0; else cat "$work/d.log" >&2; d_ok=0; fi
    fi
    t1=$(now)
    tsk_recover -e "$img" "$work/t" >/dev/null
    t2=$(now)
    d_times+=("$(awk "BEGIN{print $t1 - $t0}")")
    t_times+=("$(awk "BEGIN{print $t2 - $t1}")")
  done
  t_med=$(printf '%s\n' "${t_times[@]}" | median)
  t_exact=$(exact "$manifest" "$work/t")
  if [ "$d_ok" = 1 ]; then
    d_med=$(printf '%s\n' "${d_times[@]}" | median)
    ratio=$(awk "BEGIN{printf \"%.2f\", $d_med / $t_med}")
    d_exact=$(exact "$manifest" "$work/d")
    printf '%-6s %7s %12.3f %12.3f %8s %14s %14s\n' "$fs" "$total" "$d_med" "$t_med" "$ratio" "$d_exact/$total" "$t_exact/$total"
  else
    printf '%-6s %7s %12s %12.3f %8s %14s %14s   (%s)\n' "$fs" "$total" "-" "$t_med" "-" "-" "$t_exact/$total" \
      "$(head -1 "$work/d.log")"
  fi
done
echo "ratio = dunmere-cli time / tsk_recover time (below 1: dunmere is faster); median of $runs runs"
