#!/usr/bin/env python3
"""Scores the carvers' output per format: score_formats.py MANIFEST DIR...
For every original: byte-exact (an output with its hash), longer (an output
that starts with the whole original), shorter (an output holding the
original's first KiB that is shorter), or missed. Prints one table."""
import collections, hashlib, os, sys

manifest, outs = sys.argv[1], sys.argv[2:]
orig = [l.rstrip("\n").split("\t") for l in open(manifest) if l.strip()]
# Extensions that stand for the same format in the table.
alias = {"m2ts": "mts", "vob": "mpg", "jpeg": "jpg", "tiff": "tif"}

def score(outdir):
    by_hash, by_prefix = set(), collections.defaultdict(list)
    for dp, _, fn in os.walk(outdir):
        for n in fn:
            if n in ("report.xml", "photorec.log", "audit.txt"):
                continue
            d = open(os.path.join(dp, n), "rb").read()
            by_hash.add(hashlib.sha256(d).hexdigest())
            by_prefix[hashlib.sha256(d[:1024]).hexdigest()].append(d)
    res = {}
    files = {}
    for ext, name, size, h in orig:
        size = int(size)
        if h in by_hash:
            res[name] = "exact"
            continue
        data = open(os.path.join(os.path.dirname(manifest), "files", name), "rb").read()
        cands = by_prefix.get(hashlib.sha256(data[:1024]).hexdigest(), [])
        if any(len(c) > size and c[:size] == data for c in cands):
            res[name] = "longer"
        elif cands:
            res[name] = "shorter" if any(len(c) < size for c in cands) else "other"
        else:
            res[name] = "missed"
    return res

results = [score(o) for o in outs]
tools = [os.path.basename(o.rstrip("/")).replace("out-", "") for o in outs]
per = collections.defaultdict(lambda: [collections.Counter() for _ in outs])
for ext, name, size, h in orig:
    fmt = alias.get(ext, ext)
    for i, r in enumerate(results):
        per[fmt][i][r[name]] += 1
print(f"{len(orig)} files; per format: exact/longer/shorter/missed(/other) for " + ", ".join(tools))
print(f"{'format':7} {'n':>3}  " + "  ".join(f"{t:>20}" for t in tools))
def cell(c):
    s = f"{c['exact']}/{c['longer']}/{c['shorter']}/{c['missed']}"
    return s + (f"/{c['other']}" if c["other"] else "")
for fmt in sorted(per):
    n = sum(per[fmt][0].values())
    print(f"{fmt:7} {n:>3}  " + "  ".join(f"{cell(c):>20}" for c in per[fmt]))
for i, t in enumerate(tools):
    c = collections.Counter(results[i].values())
    print(f"{t}: exact {c['exact']}, longer {c['longer']}, shorter {c['shorter']}, missed {c['missed']}, other {c['other']}")
    bad = sorted(n for n, r in results[i].items() if r != "exact")
    print(f"  not exact: {' '.join(f'{n}={results[i][n]}' for n in bad)}")
