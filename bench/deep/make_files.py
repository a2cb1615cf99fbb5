#!/usr/bin/env python3
"""Writes a tree of real, unique files (JPEG, PNG, PDF, ZIP, text) for the
deep-scan benchmark and a manifest:  folder ("a/b/" or "")<TAB>name<TAB>sha256<TAB>size
Usage: make_files.py POOL_DIR OUT_DIR MANIFEST MIB SEED [flat]
POOL_DIR holds pictures made by ImageMagick; each copy gets a comment of its
own (JPEG COM segment, PNG tEXt chunk) so that every file has its own hash."""
import hashlib, io, os, random, struct, sys, zipfile, zlib

pool, out, manifest, mib, seed = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
flat = len(sys.argv) > 6 and sys.argv[6] == "flat"
rng = random.Random(seed)
jpgs = [open(os.path.join(pool, n), "rb").read() for n in sorted(os.listdir(pool)) if n.endswith(".jpg")]
pngs = [open(os.path.join(pool, n), "rb").read() for n in sorted(os.listdir(pool)) if n.endswith(".png")]
words = ("the quick brown fox jumps over lazy dog report budget meeting lake summer "
         "invoice draft final revised notes minutes agenda project holiday").split()

def jpeg(i):
    # The comment goes after the JFIF header, as encoders write it. One in
    # ten has no JFIF header at all (SOI then the quantization table), as
    # many cameras and phones write them.
    base = rng.choice(jpgs)
    app0 = 4 + struct.unpack(">H", base[4:6])[0]
    tag = f"dunmere bench picture {seed}-{i} {rng.random()}".encode()
    com = b"\xff\xfe" + struct.pack(">H", len(tag) + 2) + tag
    if rng.random() < 0.1:
        dqt = app0 + 2 + struct.unpack(">H", base[app0 + 2:app0 + 4])[0]
        return base[:2] + base[app0:dqt] + com + base[dqt:]
    return base[:app0] + com + base[app0:]

def png(i):
    base = rng.choice(pngs)
    data = b"Comment\x00" + f"dunmere bench {seed}-{i} {rng.random()}".encode()
    chunk = struct.pack(">I", len(data)) + b"tEXt" + data + struct.pack(">I", zlib.crc32(b"tEXt" + data))
    return base[:33] + chunk + base[33:]

def text(i):
    n = rng.choice((2, 10, 40, 200, 800, 3000))
    return "".join(f"{k:06d} " + " ".join(rng.choice(words) for _ in range(10)) + "\n" for k in range(n)).encode()

def pdf(i):
    # A small valid PDF: one page of text plus an image-like stream of noise.
    body = text(i)[:4000].decode().replace("(", "").replace(")", "").splitlines()
    content = "BT /F1 10 Tf 40 800 Td 12 TL " + " ".join(f"({l}) '" for l in body[:60]) + " ET"
    noise = zlib.compress(rng.randbytes(rng.choice((1, 20, 200, 900)) * 1024), 0)
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
            b"/Resources << /Font << /F1 5 0 R >> >> >>",
            b"<< /Length %d >>\nstream\n" % len(content) + content.encode() + b"\nendstream",
            b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
            b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(noise) + noise + b"\nendstream"]
    buf = io.BytesIO()
    buf.write(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offs = []
    for k, o in enumerate(objs, 1):
        offs.append(buf.tell())
        buf.write(b"%d 0 obj\n" % k + o + b"\nendobj\n")
    x = buf.tell()
    buf.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1))
    for o in offs:
        buf.write(b"%010d 00000 n \n" % o)
    buf.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, x))
    return buf.getvalue()

def zipf(i):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for k in range(rng.randint(1, 6)):
            if rng.random() < 0.5:
                z.writestr(f"part {k} of archive {i}.txt", text(i))
            else:
                z.writestr(f"data{k}.bin", rng.randbytes(rng.randint(100, 400000)))
    return buf.getvalue()

kinds = [("jpg", jpeg, 0.4), ("png", png, 0.15), ("pdf", pdf, 0.15), ("zip", zipf, 0.15), ("txt", text, 0.15)]
stems = {"jpg": "photo {i:04d} taken at the lake in the summer", "png": "screen capture {i:04d} of the new design",
         "pdf": "Quarterly report {i:04d} for the board (final)", "zip": "archive {i:04d} of old project files",
         "txt": "meeting notes {i:04d} about the budget résumé"}
folders = [""]
if not flat:
    tops = ["Holiday Photos from 2023 and 2024", "Scanned Documents of the Office", "Projects in Progress",
            "Family Archive — Ölmütz", "Music and Other Stuff"]
    for t in tops:
        folders.append(t + "/")
        for s in range(3):
            sub = f"{t}/Subfolder {s} with a rather long descriptive name"
            folders.append(sub + "/")
            if s == 0:
                folders.append(sub + "/Deeper still, level three/")
limit = mib << 20
total, i = 0, 0
lines = []
while total < limit:
    i += 1
    r, acc = rng.random(), 0.0
    for ext, fn, p in kinds:
        acc += p
        if r < acc:
            break
    data = fn(i)
    # Only a few files sit in the root folder.
    folder = "" if (flat or rng.random() < 0.03) else rng.choice(folders[1:])
    name = stems[ext].format(i=i) + "." + ext
    d = os.path.join(out, folder)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)
    lines.append(f"{folder}\t{name}\t{hashlib.sha256(data).hexdigest()}\t{len(data)}")
    total += len(data)
with open(manifest, "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
print(f"{i} files, {total >> 20} MiB")
