#!/usr/bin/env bash
# Builds dunmere-cli and recovers the deleted files of the sample images into
# ./recovered/<sample>/, then says where they went.
#   scripts/run-sample.sh [DEST]      (DEST defaults to ./recovered)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest_root=${1:-$PWD/recovered}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target dunmere-cli
cli=$root/build/cli/dunmere-cli

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
for sample in "$root"/samples/*.img.xz; do
  name=$(basename "$sample" .img.xz)
  image=$tmp/$name.img
  xz -dc "$sample" > "$image"
  dest=$dest_root/$name
  echo
  echo "== $name: recovering deleted files into $dest"
  # The image is a throw-away copy in a temporary folder, so writing to the
  # same drive cannot harm what is being recovered: hence --force.
  if "$cli" recover "$image" --to "$dest" --force; then
    echo "-- $name: files are in $dest (one folder per category):"
    (cd "$dest" && find . -type f | sed 's|^\./|   |' | sort)
  else
    echo "-- $name: recovery did not complete (see the messages above)"
    status=1
  fi
done
echo
echo "Scan logs are kept in \${DUNMERE_DATA_DIR:-~/.local/share/Free Dunmere}/ScanLog."
echo "What each sample holds is listed in samples/MANIFEST.txt (sha256 of every deleted file)."
exit $status
