#!/usr/bin/env bash
# The FAT32 bench image: 20,000 files in 500 folders, about half deleted (50
# folders deleted whole with mdeltree, odd files deleted from the others).
# Writes IMAGE and IMAGE.manifest (state<TAB>folder/<TAB>name<TAB>sha256).
# Usage: make_bench32.sh IMAGE
set -euo pipefail
img=${1:?usage: make_bench32.sh IMAGE}
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
python3 - "$src" "$img.manifest" <<'PY'
import hashlib, os, random, sys
root, manifest = sys.argv[1], sys.argv[2]
r = random.Random(20261208)
lines = []
for d in range(500):
    folder = f"Folder {d:03d} of the bench"
    os.makedirs(os.path.join(root, folder))
    whole = d % 10 == 9  # 50 folders are deleted whole
    for f in range(40):
        gone = whole or f % 2 == 1
        name = f"{'Gone' if gone else 'Kept'} file {f:02d} in folder {d:03d}.dat"
        data = r.randbytes(r.randint(1, 24000))
        with open(os.path.join(root, folder, name), "wb") as fh:
            fh.write(data)
        lines.append(f"{'deleted' if gone else 'live'}\t{folder}/\t{name}\t{hashlib.sha256(data).hexdigest()}")
with open(manifest, "w") as fh:
    fh.write("\n".join(lines) + "\n")
PY
rm -f "$img"
truncate -s 400M "$img"
mkfs.fat -F 32 -s 8 "$img" >/dev/null
mcopy -s -i "$img" "$src"/* ::/
for d in $(seq -f '%03g' 0 499); do
  if [ $((10#$d % 10)) -eq 9 ]; then
    mdeltree -i "$img" "::/Folder $d of the bench"
  else
    mdel -i "$img" "::/Folder $d of the bench/Gone*"
  fi
done
