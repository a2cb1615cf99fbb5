#!/usr/bin/env python3
"""Scores one tool's output folder against make_formatted_over_images.sh's manifest.
Usage: score.py MANIFEST EXPECT_IMAGE OUT_DIR TOOL IMAGE T0 T1
Prints one JSON line: survived (old files whose record and data are intact),
exact (of them, back byte-exact), named (and under their own name), path (and
at their old folder path below wherever the tool put them), new_deleted (the
new FAT volume's deleted file back byte-exact; -1 when there is none), files
(everything the tool wrote) and secs."""
import hashlib, json, os, sys

manifest, expect_image, outdir, tool, image, t0, t1 = sys.argv[1:8]
found = {}
files = 0
skip = {"report.xml", "photorec.log"}
for dp, dn, fn in os.walk(outdir):
    for n in fn:
        if n in skip:
            continue
        p = os.path.join(dp, n)
        files += 1
        with open(p, "rb") as fh:
            h = hashlib.sha256(fh.read()).hexdigest()
        found.setdefault(h, []).append(os.path.relpath(p, outdir).replace(os.sep, "/"))
survived = exact = named = path = 0
new_deleted = -1
for line in open(manifest, encoding="utf-8"):
    img, folder, name, h, size, expect = line.rstrip("\n").split("\t")
    if img != expect_image:
        continue
    paths = found.get(h, [])
    if expect == "fat-deleted":
        new_deleted = 1 if paths else 0
        continue
    if expect not in ("named", "exact"):
        continue
    survived += 1
    exact += bool(paths)
    named += any(p.rsplit("/", 1)[-1] == name for p in paths)
    path += any(p == folder + name or p.endswith("/" + folder + name) for p in paths)
print(json.dumps({"image": image, "tool": tool, "survived": survived, "exact": exact, "named": named,
                  "path": path, "new_deleted": new_deleted, "files": files,
                  "secs": float(t1) - float(t0)}))
