#!/usr/bin/env python3
"""Lays the benchmark's files one after another on a raw image:
lay_out.py FILES_DIR IMAGE MANIFEST SEED
Every file starts at a sector boundary; before it lie 0..64 sectors of random
bytes, zeros or "old data" (pieces of other files, as a used disk keeps them);
half the files keep random old data in the rest of their last sector.
The manifest lists format<TAB>name<TAB>size<TAB>sha256."""
import hashlib, os, random, sys

src, img, manifest, seed = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
rng = random.Random(seed)
names = []
for sub in ("samples", "large"):
    d = os.path.join(src, sub)
    for n in sorted(os.listdir(d)):
        p = os.path.join(d, n)
        ext = n.rsplit(".", 1)[-1].lower() if "." in n else ""
        # Inputs of the tools and files no carver is asked for.
        if ext in ("txt", "bin", "") or os.path.getsize(p) == 0:
            continue
        names.append(p)
rng.shuffle(names)
blobs = [open(p, "rb").read() for p in names]
with open(img, "wb") as f, open(manifest, "w") as m:
    pos = 0
    for p, data in zip(names, blobs):
        gap = 512 * rng.randint(1, 64)
        kind = rng.random()
        if kind < 0.4:
            filler = rng.randbytes(gap)
        elif kind < 0.7:
            filler = bytes(gap)
        else:  # old data: the middle of some other file
            other = rng.choice(blobs)
            at = rng.randrange(max(1, len(other) // 2), max(2, len(other)))
            filler = (other[at:] + rng.randbytes(gap))[:gap]
            # no other file's first sector: only its middle
        f.write(filler)
        pos += gap
        f.write(data)
        slack = (-len(data)) % 512
        f.write(rng.randbytes(slack) if rng.random() < 0.5 else bytes(slack))
        pos += len(data) + slack
        ext = os.path.basename(p).rsplit(".", 1)[-1].lower()
        m.write(f"{ext}\t{os.path.basename(os.path.dirname(p))}/{os.path.basename(p)}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}\n")
    f.write(rng.randbytes(512 * 64))
print(f"{len(names)} files on {os.path.getsize(img) >> 20} MiB", file=sys.stderr)
