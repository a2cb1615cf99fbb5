#!/usr/bin/env bash
# The scan window against `dunmere-cli scan` on the same sources: quick scans
# of a FAT32 and an NTFS image, a deep scan of a 1 GiB image holding random
# data, both volumes and zeros. The quick scans run on the big benchmark
# images (bench/fat/make_bench32.sh: 20,000 files in 500 folders;
# bench/ntfs/make_bench_image.sh: NTFS_FILES files, half deleted), so the
# window's fixed cost of opening is weighed against a real scan. Three figures
# per source:
#   in-process  bench_gui_scan alternates the window and the command line's
#               scan path (OpenEngine + RunScan) in one process: the window's
#               own cost, everything else equal (median of RUNS);
#   cpu         the same runs' CPU time of the whole process (worker and UI
#               thread), which machine load does not stretch;
#   process     wall time of `dunmere-cli scan` (which also lists what it
#               found) against a process that starts Qt and scans through the
#               window (median of RUNS).
# Target: window / command line at most 1.05.
#   bench/gui_scan/run_gui_scan_bench.sh BUILD_DIR [RUNS] [NTFS_FILES]
set -euo pipefail
build=$(cd "${1:?usage: run_gui_scan_bench.sh BUILD_DIR [RUNS] [NTFS_FILES]}" && pwd)
runs=${2:-5}
ntfs_files=${3:-100000}
root=$(cd "$(dirname "$0")/../.." && pwd)
cli=$build/cli/dunmere-cli
bench=$build/bench/gui_scan/bench_gui_scan
for p in "$cli" "$bench"; do [ -x "$p" ] || { echo "build $(basename "$p") first" >&2; exit 1; }; done
for t in mkfs.fat mcopy mkntfs; do command -v $t >/dev/null || { echo "missing tool: $t" >&2; exit 77; }; done
export QT_QPA_PLATFORM=offscreen MTOOLS_SKIP_CHECK=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DUNMERE_DATA_DIR=$work/data

echo "making the images ($ntfs_files NTFS files)..." >&2
bash "$root/tests/fixtures/make_cli_images.sh" "$work/img" both 50 >/dev/null
bash "$root/bench/fat/make_bench32.sh" "$work/img/fat32big.img" >/dev/null
bash "$root/bench/ntfs/make_bench_image.sh" "$work/img/ntfsbig.img" "$ntfs_files" >/dev/null
# No file system at its start, so the deep pass reads the whole GiB: random
# data, the two volumes (pictures to carve, directories and file records),
# more random data, zeros.
deep=$work/img/deep1g.img
{ head -c 64M /dev/urandom; cat "$work/img/fat32.img" "$work/img/ntfs.img"; head -c 256M /dev/urandom; } > "$deep"
truncate -s 1G "$deep"
cat "$work/img"/*.img >/dev/null

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf '%-6s %-5s %9s %9s %7s   %9s %9s %7s   %9s %9s %7s\n' image mode win_s cli_s ratio wincpu_s clicpu_s ratio \
  winproc_s cliproc_s ratio
for row in "fat32big.img quick" "ntfsbig.img quick" "deep1g.img deep"; do
  set -- $row
  img=$work/img/$1 mode=$2
  line=$("$bench" "$img" "$mode" "$runs")
  win=$(sed -E 's/.*: window ([0-9.]+) s.*/\1/' <<<"$line")
  clip=$(sed -E 's/.*: window [0-9.]+ s, cli path ([0-9.]+) s.*/\1/' <<<"$line")
  ratio=$(sed -E 's/.*, ratio ([0-9.]+);.*/\1/' <<<"$line")
  winc=$(sed -E 's/.*cpu window ([0-9.]+) s.*/\1/' <<<"$line")
  clic=$(sed -E 's/.*cpu window [0-9.]+ s, cli path ([0-9.]+) s.*/\1/' <<<"$line")
  cratio=$(sed -E 's/.*cli path [0-9.]+ s, ratio ([0-9.]+) \(.*/\1/' <<<"$line")
  flags=""; [ "$mode" = deep ] && flags="--deep --fresh"
  c_times=() w_times=()
  for i in $(seq 1 "$runs"); do
    t0=$(now); "$cli" scan $flags "$img" >/dev/null 2>&1; t1=$(now)
    "$bench" "$img" "$mode" --window-only >/dev/null; t2=$(now)
    c_times+=("$(awk "BEGIN{print $t1 - $t0}")")
    w_times+=("$(awk "BEGIN{print $t2 - $t1}")")
  done
  cm=$(printf '%s\n' "${c_times[@]}" | median)
  wm=$(printf '%s\n' "${w_times[@]}" | median)
  printf '%-6s %-5s %9.4f %9.4f %7.3f   %9.4f %9.4f %7.3f   %9.4f %9.4f %7.3f\n' "${1%.img}" "$mode" "$win" "$clip" \
    "$ratio" "$winc" "$clic" "$cratio" "$wm" "$cm" "$(awk "BEGIN{print $wm / $cm}")"
done
