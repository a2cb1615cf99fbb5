#!/usr/bin/env python3
"""The raw carving image of the deep-scan benchmark: the files of MANIFEST (from
make_files.py, in SRC) at sector-aligned offsets in shuffled order, with random
gaps (random bytes or zeros) between them, cut at MIB MiB; half of them with
old (random) data in the rest of their last sector.
Usage: make_carve_image.py SRC MANIFEST IMAGE MIB"""
import os, random, sys
src, manifest, img, mib = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
rng = random.Random(4)
names = [l.split("\t")[1] for l in open(manifest, encoding="utf-8") if l.strip()]
rng.shuffle(names)
limit = mib << 20
with open(img, "wb") as f:
    pos = 0
    for n in names:
        gap = 512 * rng.randint(0, 256)
        if rng.random() < 0.5:
            f.seek(pos)
            f.write(rng.randbytes(gap))   # random bytes between the files
        pos += gap
        data = open(os.path.join(src, n), "rb").read()
        if pos + len(data) > limit:
            break
        f.seek(pos)
        f.write(data)
        # Half the files keep old data in the rest of their last sector, as
        # on a disk used before; the others end in zeros.
        slack = (len(data) + 511) // 512 * 512 - len(data)
        if rng.random() < 0.5:
            f.write(rng.randbytes(slack))
        pos += len(data) + slack
    f.truncate(limit)
