#!/usr/bin/env python3
"""Scores one tool's output against a manifest (folder<TAB>name<TAB>sha256<TAB>size).
Usage: score.py MANIFEST OUT_DIR TIME_FILE IMAGE_BYTES TOOL IMAGE_KIND EXPECT
EXPECT: "all" (every file should come back with name and folder), "fat" (files
in a folder: the reformat clears the old root, so the top folder's own name is
gone; name and folder path below it must come back), or a file listing
"folder<TAB>name" of the files expected back with name and folder.
Prints one JSON line."""
import hashlib, json, os, re, sys

manifest, outdir, timefile, size, tool, kind, expect = sys.argv[1:8]
size = int(size)
orig = [l.rstrip("\n").split("\t") for l in open(manifest, encoding="utf-8") if l.strip()]
by_hash = {h: (f, n, int(s)) for f, n, h, s in orig}
# Every original differs from the others within its first KiB.
PREFIX = 1024

def prefix_of(path, n=PREFIX):
    with open(path, "rb") as fh:
        return hashlib.sha256(fh.read(n)).hexdigest()

t = open(timefile).read()
wall = re.search(r"Elapsed \(wall clock\) time.*: (.*)", t).group(1)
parts = [float(x) for x in wall.split(":")]
secs = parts[-1] + 60 * parts[-2] + (3600 * parts[-3] if len(parts) > 2 else 0)
rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t).group(1))

prefix_map = {}
src_root = os.environ.get("BENCH_SRC")  # the original files, to hash their first 4 KiB
if src_root:
    for f, n, h, s in orig:
        if int(s) > PREFIX:
            prefix_map[prefix_of(os.path.join(src_root, f, n))] = int(s)

exact, named, files, oversized, cut, other = set(), set(), 0, 0, 0, 0
skip = {"report.xml", "audit.txt", "photorec.log"}
for dp, dn, fn in os.walk(outdir):
    for name in fn:
        if name in skip:
            continue
        p = os.path.join(dp, name)
        files += 1
        with open(p, "rb") as fh:
            h = hashlib.sha256(fh.read()).hexdigest()
        if h in by_hash:
            exact.add(h)
            f, n, s = by_hash[h]
            rel = os.path.relpath(p, outdir).replace(os.sep, "/")
            if expect == "fat" and f:
                # the top folder's name lived in the old root: only a lost-folder name can stand there
                below = f.split("/", 1)[1]
                if rel.endswith("/" + below + n):
                    named.add(h)
            elif rel == f + n or rel.endswith("/" + f + n):
                named.add(h)
            continue
        ps = prefix_map.get(prefix_of(p))
        if ps is None:
            other += 1
        elif os.path.getsize(p) > ps:
            oversized += 1
        else:
            cut += 1
if expect in ("all", "fat"):
    want = [h for f, n, h, s in orig if expect == "all" or f]
else:
    keep = {tuple(l.rstrip("\n").split("\t")[:2]) for l in open(expect, encoding="utf-8") if l.strip()}
    want = [h for f, n, h, s in orig if (f, n) in keep]
def missed_by_type():
    # Pictures without a JFIF/Exif header (SOI then the quantization table) are counted apart.
    out = {}
    for f, n, h, s in orig:
        if h in exact:
            continue
        kind = n.rsplit(".", 1)[-1]
        if kind == "jpg" and src_root:
            with open(os.path.join(src_root, f, n), "rb") as fh:
                if fh.read(4)[3:] == b"\xdb":
                    kind = "jpg(no JFIF)"
        out[kind] = out.get(kind, 0) + 1
    return out

print(json.dumps({
    "image": kind, "tool": tool, "secs": secs, "mbps": size / 1e6 / secs if secs else 0, "rss_mb": rss / 1024,
    "files_out": files, "exact": len(exact), "named": len(named), "originals": len(orig),
    "expected": len(want), "expected_exact": sum(1 for h in want if h in exact),
    "expected_named": sum(1 for h in want if h in named),
    "missed_by_type": missed_by_type(),
    "exact_by_type": {k: sum(1 for h in exact if by_hash[h][1].rsplit(".", 1)[-1] == k)
                      for k in sorted({n.rsplit(".", 1)[-1] for f, n, h, s in orig})},
    "missing_expected": [by_hash[h][0] + by_hash[h][1] for h in want if h not in named][:8],
    "oversized": oversized, "cut": cut, "other": other}, ensure_ascii=False))
