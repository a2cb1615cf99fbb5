#!/usr/bin/env bash
# Regenerates the skin's PNG pictures from their SVG drawings, and the desktop
# icons from the logo's (needs python3 and rsvg-convert from librsvg2-bin).
# The PNGs are committed; the build only packs and installs them.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing (apt-get install librsvg2-bin)" >&2; exit 1; }
python3 "$here/make_skin_pictures.py"
python3 "$here/make_icons.py"
