#!/usr/bin/env bash
# Carving speed against foremost on the same images (not run by the tests):
#   bench/carve/run_carve_bench.sh BUILD_DIR [MIB]
# Two images of MIB MiB (default 128): "dense", the media samples of
# tests/fixtures/make_media_samples.sh repeated with random gaps, and
# "sparse", random data with a few files. Both tools carve and write out
# everything they find; the figure is the ratio of wall-clock times.
set -euo pipefail
build=$(cd "${1:?usage: run_carve_bench.sh BUILD_DIR [MIB]}" && pwd)
mib=${2:-128}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
command -v foremost >/dev/null || { echo "needs foremost (apt-get install foremost)" >&2; exit 77; }
[ -x "$build/bench/carve/carve_bench" ] || cmake --build "$build" --target carve_bench
work=$(mktemp -d /tmp/carve-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
samples="$build/test-fixtures/media-samples"
[ -d "$samples" ] || "$root/tests/fixtures/make_media_samples.sh" "$samples" >/dev/null

python3 - "$samples" "$work" "$mib" <<'PY'
import os, random, sys
samples, work, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = sorted(n for n in os.listdir(samples) if '.' in n and not n.endswith(('.txt', '.bin')))
files = [open(os.path.join(samples, n), 'rb').read() for n in names]
rng = random.Random(1)
def build(path, density):
    limit = mib << 20
    with open(path, 'wb') as f:
        size = 0
        while size < limit:
            if rng.random() < density:
                data = rng.choice(files)
                data += bytes(-len(data) % 512)
            else:
                data = rng.randbytes(512 * rng.randint(1, 64))
            f.write(data)
            size += len(data)
build(os.path.join(work, 'dense.img'), 0.8)
build(os.path.join(work, 'sparse.img'), 0.02)
PY

for img in dense sparse; do
  sync
  t0=$(date +%s.%N)
  ours=$("$build/bench/carve/carve_bench" "$work/$img.img" "$work/$img.ours")
  t1=$(date +%s.%N)
  foremost -Q -t all -i "$work/$img.img" -o "$work/$img.foremost" >/dev/null 2>&1 || true
  t2=$(date +%s.%N)
  theirs=$(find "$work/$img.foremost" -type f ! -name audit.txt | wc -l)
  python3 - "$img" "$mib" "$t0" "$t1" "$t2" "$ours" "$theirs" <<'PY'
import sys
img, mib, t0, t1, t2, ours, theirs = sys.argv[1:]
a, b = float(t1) - float(t0), float(t2) - float(t1)
print(f"{img} {mib} MiB: dunmere {a:.2f} s ({ours.split()[1]} files; {ours}), "
      f"foremost {b:.2f} s ({theirs} files); time ratio dunmere/foremost {a / b:.2f}")
PY
  rm -rf "$work/$img.ours" "$work/$img.ours.data" "$work/$img.foremost"
done
