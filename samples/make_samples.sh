#!/usr/bin/env bash
# Remakes the sample images: a small FAT32 and a small NTFS volume, each with
# deleted photos, documents, an archive and a deleted folder ("Summer Trip"),
# made by mkfs.fat + mtools and mkntfs + ntfs-3g (the same recipe the tests
# use). Writes <name>.img.xz beside this script and MANIFEST.txt listing the
# sha256 of every deleted file, so a recovery can be checked byte for byte.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v xz >/dev/null || { echo "missing tool: xz" >&2; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../tests/fixtures/make_cli_images.sh" "$work" both

{
  echo "Dunmere sample images. Each holds deleted files; recover them with"
  echo "  scripts/run-sample.sh"
  echo "or by hand:"
  echo "  xz -dk samples/fat32-deleted.img.xz && dunmere-cli recover samples/fat32-deleted.img --to recovered --force"
  echo
  for name in fat32 ntfs; do
    xz -9e -T1 -c "$work/$name.img" > "$here/$name-deleted.img.xz"
    echo "== $name-deleted.img.xz"
    echo "image sha256 (uncompressed): $(sha256sum "$work/$name.img" | cut -d' ' -f1)"
    echo "image size: $(stat -c %s "$work/$name.img") bytes"
    echo "deleted files (sha256  size  path):"
    sed 's/^/  /' "$work/$name.deleted"
    echo "files left in place:"
    sed 's/^/  /' "$work/$name.kept"
    echo
  done
} > "$here/MANIFEST.txt"
ls -l "$here"/*.img.xz
