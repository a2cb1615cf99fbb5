#!/usr/bin/env python3
"""Renders the program's icon for the desktop from the skin's logo drawing
(scripts/make_skin_pictures.py): a PNG in each size the hicolor theme names,
and the drawing itself as the scalable icon, under app/gui/dist/icons/.

Run it (or scripts/make_skin_pictures.sh, which runs it too) after changing
the logo; the outputs are committed, so the build needs neither this script
nor rsvg-convert.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_skin_pictures as skin  # noqa: E402

OUT = os.path.join(skin.ROOT, "app", "gui", "dist", "icons", "hicolor")
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
NAME = "dunmere"


def main():
    drawing = skin.logo(ring=True) + "\n"
    scalable = os.path.join(OUT, "scalable", "apps", NAME + ".svg")
    os.makedirs(os.path.dirname(scalable), exist_ok=True)
    with open(scalable, "w", encoding="utf-8") as f:
        f.write(drawing)
    for size in SIZES:
        png = os.path.join(OUT, f"{size}x{size}", "apps", NAME + ".png")
        os.makedirs(os.path.dirname(png), exist_ok=True)
        subprocess.run(["rsvg-convert", "-b", "none", "-w", str(size), "-h", str(size), scalable, "-o", png],
                       check=True)
    print(f"{NAME}.svg and {len(SIZES)} PNG sizes written to {os.path.normpath(OUT)}")


if __name__ == "__main__":
    main()
