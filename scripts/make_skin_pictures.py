#!/usr/bin/env python3
"""Draws the skin's pictures as SVG and renders them to PNG with rsvg-convert.

Run scripts/make_skin_pictures.sh after changing a drawing; the PNGs are
committed so that the build needs neither this script nor its tools.
"""
import os
import re
import subprocess
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SKIN = os.path.join(ROOT, "skin")
# The colour of each category's pictures.
COLOURS = {"Photo": "#2f8fd8", "Audio": "#8e44ad", "Video": "#d35400", "Document": "#27ae60",
           "Archive": "#b7950b", "Others": "#7f8c8d"}
CAMERAS = {"nikon", "canon", "sony", "kodak", "fuji", "mamiya", "sigma", "olympus",
           "epson", "pentax", "minolta"}


def option_pictures():
    """(category, picture name) of every option row of the file-format table."""
    with open(os.path.join(ROOT, "engine", "formats", "file_formats.cpp"), encoding="utf-8") as f:
        text = f.read()
    row = re.compile(r'\{C::k(\w+), "([^"]*)", "[^"]*", "[^"]*", "([^"]*)\.png"')
    return [(cat, icon) for cat, caption, icon in row.findall(text) if caption]
FONT = "DejaVu Sans"


def render(svg, out, tmp):
    path = os.path.join(tmp, "p.svg")
    with open(path, "w") as f:
        f.write(svg)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    subprocess.run(["rsvg-convert", "-b", "none", path, "-o", out], check=True)


def svg(w, h, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">{body}</svg>')


def label_size(text):
    return 11 if len(text) <= 3 else 9 if len(text) == 4 else 7


def file_icon(colour, text):
    """A sheet of paper with a folded corner and a coloured band naming the type."""
    t = text.upper()
    return svg(32, 32, f'''
  <path d="M6 2 H20 L27 9 V30 H6 Z" fill="#ffffff" stroke="#8a96a3" stroke-width="1"/>
  <path d="M20 2 V9 H27" fill="#e4e9ee" stroke="#8a96a3" stroke-width="1"/>
  <rect x="2" y="15" width="26" height="12" rx="2" fill="{colour}"/>
  <text x="15" y="24.5" font-family="{FONT}" font-weight="bold" font-size="{label_size(t)}"
        text-anchor="middle" fill="#ffffff">{t}</text>''')


def camera_icon(colour, maker):
    letter = maker[0].upper()
    return svg(32, 32, f'''
  <rect x="2" y="9" width="28" height="19" rx="3" fill="#3d4752"/>
  <rect x="10" y="5" width="10" height="6" rx="1.5" fill="#3d4752"/>
  <circle cx="16" cy="18.5" r="7" fill="{colour}" stroke="#ffffff" stroke-width="1.5"/>
  <text x="16" y="22.5" font-family="{FONT}" font-weight="bold" font-size="10"
        text-anchor="middle" fill="#ffffff">{letter}</text>
  <rect x="24" y="11" width="4" height="2.5" rx="1" fill="#f1c40f"/>''')


def default_icon(colour, kind):
    glyphs = {
        "photo_default": '<path d="M9 24 L14 17 L18 21 L21 18 L25 24 Z" fill="#ffffff"/>'
                         '<circle cx="12" cy="14" r="2" fill="#ffffff"/>',
        "audio_default": '<path d="M13 12 V22 A2.5 2.5 0 1 1 11 19.6 V10 L22 8 V20 A2.5 2.5 0 1 1 20 17.6 V11 Z" '
                         'fill="#ffffff"/>',
        "video_default": '<rect x="9" y="13" width="11" height="9" rx="1" fill="#ffffff"/>'
                         '<path d="M20 16 L25 13 V22 L20 19 Z" fill="#ffffff"/>',
        "office_default": '<rect x="10" y="11" width="12" height="1.8" fill="#ffffff"/>'
                          '<rect x="10" y="15" width="12" height="1.8" fill="#ffffff"/>'
                          '<rect x="10" y="19" width="12" height="1.8" fill="#ffffff"/>'
                          '<rect x="10" y="23" width="8" height="1.8" fill="#ffffff"/>',
        "other": '<text x="16" y="23" font-family="' + FONT + '" font-weight="bold" font-size="12" '
                 'text-anchor="middle" fill="#ffffff">?</text>',
    }
    return svg(32, 32, f'''
  <rect x="4" y="3" width="24" height="26" rx="4" fill="{colour}"/>
  {glyphs[kind]}''')


def check_cells():
    """Controls.png: 64 x 128, check-box cells of 15 x 15 at y 106:
    unchecked at x 0, partial at x 15, checked at x 30, disabled at x 45."""
    def box(x, inner):
        return (f'<rect x="{x + 1.5}" y="107.5" width="12" height="12" rx="2" fill="#ffffff" '
                f'stroke="#6f7f8f" stroke-width="1"/>{inner}')
    return svg(64, 128,
               box(0, "") +
               box(15, '<rect x="19" y="111" width="7" height="6" fill="#2f8fd8"/>') +
               box(30, '<path d="M33.5 113.5 L36.5 116.5 L41.5 110.5" fill="none" stroke="#2f8fd8" '
                       'stroke-width="2.2" stroke-linecap="round" stroke-linejoin="round"/>') +
               f'<rect x="46.5" y="107.5" width="12" height="12" rx="2" fill="#e6e9ec" stroke="#b0b8c0"/>')


def header(kind):
    # 40 x 24 header cell: light gradient, a 1 px rule at the bottom and, for
    # the sort pictures, an arrow in the right-hand 13 pixels (corner 0,1,13,1).
    arrow = ""
    if kind == "asc":
        arrow = '<path d="M29 15 L33 9 L37 15 Z" fill="#50606f"/>'
    elif kind == "desc":
        arrow = '<path d="M29 9 L33 15 L37 9 Z" fill="#50606f"/>'
    return svg(40, 24, f'''
  <defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
    <stop offset="0" stop-color="#fbfcfd"/><stop offset="1" stop-color="#e3e8ed"/></linearGradient></defs>
  <rect width="40" height="24" fill="url(#g)"/>
  <rect y="23" width="40" height="1" fill="#c3ccd5"/>
  <rect x="39" y="3" width="1" height="18" fill="#d0d7de"/>{arrow}''')


def point():
    return svg(16, 16, '<circle cx="8" cy="8" r="4" fill="#2f8fd8"/>')


def button(states):
    # Three states side by side, each 90 x 30: normal, hot, pushed.
    body = ""
    for i, (top, bottom) in enumerate(states):
        x = i * 90
        body += (f'<defs><linearGradient id="b{i}" x1="0" y1="0" x2="0" y2="1"><stop offset="0" '
                 f'stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/></linearGradient></defs>'
                 f'<rect x="{x + 0.5}" y="0.5" width="89" height="29" rx="4" fill="url(#b{i})" '
                 f'stroke="#1f6fae"/>')
    return svg(270, 30, body)


def close_button():
    body = ""
    for i, bg in enumerate(["none", "#e04343", "#b22f2f"]):
        x = i * 28
        fill = "" if bg == "none" else f'<rect x="{x}" width="28" height="28" fill="{bg}"/>'
        body += fill + (f'<path d="M{x + 9} 9 L{x + 19} 19 M{x + 19} 9 L{x + 9} 19" stroke="#ffffff" '
                        f'stroke-width="2" stroke-linecap="round"/>')
    return svg(84, 28, body)


def caption():
    return svg(40, 36, '''
  <defs><linearGradient id="c" x1="0" y1="0" x2="0" y2="1">
    <stop offset="0" stop-color="#2b88d0"/><stop offset="1" stop-color="#1d6fb0"/></linearGradient></defs>
  <rect width="40" height="36" fill="url(#c)"/>''')


def box_icon(kind):
    colours = {"error": "#d9453b", "information": "#2f8fd8", "warning": "#e6a019",
               "question": "#2f8fd8", "confirm": "#27ae60"}
    glyph = {"error": "\u00d7", "information": "i", "warning": "!", "question": "?", "confirm": "\u2713"}[kind]
    shape = (f'<path d="M24 4 L45 42 H3 Z" fill="{colours[kind]}"/>' if kind == "warning"
             else f'<circle cx="24" cy="24" r="21" fill="{colours[kind]}"/>')
    y = 38 if kind == "warning" else 32
    return svg(48, 48, f'''{shape}
  <text x="24" y="{y}" font-family="{FONT}" font-weight="bold" font-size="24"
        text-anchor="middle" fill="#ffffff">{glyph}</text>''')


def mode_icon(kind):
    inner = {
        "deleted": '<path d="M22 22 H42 L40 48 H24 Z" fill="#ffffff"/><rect x="19" y="17" width="26" height="4" '
                   'rx="1" fill="#ffffff"/><rect x="28" y="13" width="8" height="4" fill="#ffffff"/>',
        "formatted": '<rect x="16" y="18" width="32" height="28" rx="3" fill="#ffffff"/><circle cx="32" cy="32" '
                     'r="6" fill="#2f8fd8"/>',
        "deep": '<circle cx="29" cy="29" r="10" fill="none" stroke="#ffffff" stroke-width="4"/>'
                '<path d="M36 36 L46 46" stroke="#ffffff" stroke-width="5" stroke-linecap="round"/>',
        "image": '<rect x="16" y="16" width="32" height="32" rx="3" fill="#ffffff"/><path d="M20 42 L28 30 L34 37 '
                 'L38 33 L44 42 Z" fill="#27ae60"/>',
    }[kind]
    colour = {"deleted": "#d35400", "formatted": "#2f8fd8", "deep": "#8e44ad", "image": "#27ae60"}[kind]
    return svg(64, 64, f'<rect x="2" y="2" width="60" height="60" rx="12" fill="{colour}"/>{inner}')


def step_icon(n, colour):
    return svg(32, 32, f'''<circle cx="16" cy="16" r="14" fill="{colour}"/>
  <text x="16" y="21.5" font-family="{FONT}" font-weight="bold" font-size="15" text-anchor="middle"
        fill="#ffffff">{n}</text>''')


def disk_icon(removable):
    colour = "#e67e22" if removable else "#5d6d7e"
    return svg(24, 24, f'''<rect x="2" y="6" width="20" height="12" rx="2" fill="{colour}"/>
  <circle cx="17.5" cy="12" r="1.5" fill="#7dff7d"/><rect x="5" y="11" width="8" height="2" fill="#ffffff"/>''')


def logo(ring=False):
    """The program's mark: a blue diamond on a white disc. The title bar is
    dark; where the background may be white (menus, the desktop's launchers,
    scripts/make_icons.py) a ring in the diamond's blue outlines the disc."""
    edge = ' stroke="#1f6fae" stroke-width="1.5"' if ring else ""
    return svg(32, 32, f'''<circle cx="16" cy="16" r="{14.25 if ring else 14}" fill="#ffffff"{edge}/>
  <path d="M16 6 L24 16 L16 26 L8 16 Z" fill="#2b88d0"/><circle cx="16" cy="16" r="3" fill="#ffffff"/>''')


def main():
    tmp = tempfile.mkdtemp()
    out = lambda rel: os.path.join(SKIN, rel)  # noqa: E731
    defaults = {"photo_default": COLOURS["Photo"], "audio_default": COLOURS["Audio"],
                "video_default": COLOURS["Video"], "office_default": COLOURS["Document"],
                "other": COLOURS["Others"]}
    done = set()
    for kind, colour in defaults.items():
        render(default_icon(colour, kind), out(f"FileIcon/{kind}.png"), tmp)
        done.add(kind)
    for category, pic in option_pictures():
        if pic in done:
            continue
        done.add(pic)
        if pic in CAMERAS:
            render(camera_icon(COLOURS[category], pic), out(f"FileIcon/{pic}.png"), tmp)
        else:
            render(file_icon(COLOURS[category], pic), out(f"FileIcon/{pic}.png"), tmp)
    render(check_cells(), out("Controls.png"), tmp)
    for kind, name in (("bg", "list_header_bg.png"), ("asc", "list_header_asc.png"),
                       ("desc", "list_header_desc.png")):
        render(header(kind), out(name), tmp)
    render(point(), out("point.png"), tmp)
    render(button([("#3a9ae4", "#1f74c0"), ("#52aaf0", "#2a86d4"), ("#1f6fae", "#185b90")]),
           out("common/button.png"), tmp)
    render(button([("#fdfdfd", "#e4e8ec"), ("#ffffff", "#eef3f7"), ("#dde3e8", "#cfd6dc")]).replace(
        "#1f6fae", "#9aa7b3"), out("common/button_light.png"), tmp)
    render(close_button(), out("common/close.png"), tmp)
    render(caption(), out("common/caption.png"), tmp)
    for kind in ("error", "information", "warning", "question", "confirm"):
        render(box_icon(kind), out(f"common/{kind}.png"), tmp)
    for kind in ("deleted", "formatted", "deep", "image"):
        render(mode_icon(kind), out(f"main/mode_{kind}.png"), tmp)
    for n, (name, colour) in enumerate((("location", "#0089be"), ("filetype", "#e47100"),
                                        ("recover", "#316d1e")), start=1):
        render(step_icon(n, colour), out(f"main/step_{name}.png"), tmp)
    render(disk_icon(False), out("main/disk.png"), tmp)
    render(disk_icon(True), out("main/disk_removable.png"), tmp)
    render(logo(), out("main/logo.png"), tmp)
    print(f"{len(done)} file-type pictures and the control pictures written to {os.path.normpath(SKIN)}")


if __name__ == "__main__":
    main()
