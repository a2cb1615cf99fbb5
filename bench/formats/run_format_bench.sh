#!/usr/bin/env bash
# Carving by format, beside PhotoRec (not run by the tests):
#   run_format_bench.sh BUILD_DIR [SEED]
# Makes real files of the carvable formats with the tools that write them
# (make_format_files.sh), lays them one after another on a raw image with
# random bytes, zeros or old data between them and, for half of them, old
# data in the rest of their last sector, then carves the image with
# `dunmere-cli recover --deep` and with PhotoRec and scores both per format:
# byte-exact, longer than the original, shorter, missed.
# WORK=dir picks the work folder (default /tmp/dunmere-format-bench), KEEP=1 keeps it;
# BEFORE=path/to/dunmere-cli adds another build's carving to the table.
set -euo pipefail
build=$(cd "${1:?usage: run_format_bench.sh BUILD_DIR [SEED]}" && pwd)
seed=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
cli=${CLI:-$build/cli/dunmere-cli}  # CLI=path compares another build
[ -x "$cli" ] || { echo "build dunmere-cli first" >&2; exit 1; }
for t in ffmpeg sox convert zip 7z gzip gcab sqlite3 photorec python3; do
  command -v "$t" >/dev/null 2>&1 || { echo "missing tool: $t" >&2; exit 77; }
done
work=${WORK:-/tmp/dunmere-format-bench}
rm -rf "$work"
mkdir -p "$work"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
echo "making the files" >&2
bash "$here/make_format_files.sh" "$work/files"
python3 "$here/lay_out.py" "$work/files" "$work/image.img" "$work/manifest" "$seed"
echo "dunmere" >&2
DUNMERE_DATA_DIR="$work/data" "$cli" recover --deep --fresh "$work/image.img" --to "$work/out-dunmere" --force \
  > "$work/dunmere.log" 2>&1 || echo "dunmere-cli exit $?" >&2
outs=("$work/out-dunmere")
if [ -n "${BEFORE:-}" ]; then
  echo "dunmere (before)" >&2
  DUNMERE_DATA_DIR="$work/data-before" "$BEFORE" recover --deep --fresh "$work/image.img" --to "$work/out-before" \
    --force > "$work/before.log" 2>&1 || echo "before: dunmere-cli exit $?" >&2
  outs=("$work/out-before" "${outs[@]}")
fi
echo "photorec" >&2
mkdir -p "$work/out-photorec"
(cd "$work/out-photorec" && photorec /log /d "$work/out-photorec/recup" /cmd "$work/image.img" \
   partition_none,options,paranoid,fileopt,everything,enable,wholespace,search < /dev/null > "$work/photorec.log" 2>&1) \
  || echo "photorec exit $?" >&2
python3 "$here/score_formats.py" "$work/manifest" "${outs[@]}" "$work/out-photorec"
