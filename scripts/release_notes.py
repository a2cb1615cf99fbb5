#!/usr/bin/env python3
"""Reads CHANGELOG.md and writes what is made from it: the Debian package's
changelog and the AppStream release list of the metainfo file. The build runs
it (packaging/CMakeLists.txt); by hand:

  release_notes.py top CHANGELOG.md
      prints "VERSION DATE" of the newest entry
  release_notes.py debian CHANGELOG.md PACKAGE REVISION "MAINTAINER <MAIL>" OUT
      the Debian changelog, every entry as version VERSION-REVISION
  release_notes.py metainfo CHANGELOG.md TEMPLATE OUT
      TEMPLATE with its "@RELEASES@" line replaced by the <release> elements

An entry is a heading "## VERSION - YYYY-MM-DD" followed by items, each
starting with "- " (longer items go on over lines indented by two blanks).
Text in `backticks` is a command or a name; Debian shows it plain, AppStream
as code.
"""
import datetime
import html
import re
import sys
import textwrap

HEADING = re.compile(r"^## (\d+(?:\.\d+)+) - (\d{4}-\d{2}-\d{2})\s*$")


class Entry:
    def __init__(self, version, date):
        self.version = version
        self.date = date
        self.items = []


def parse(path):
    entries = []
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    for number, line in enumerate(lines, 1):
        where = f"{path}:{number}"
        if line.startswith("## "):
            m = HEADING.match(line)
            if not m:
                sys.exit(f"{where}: a release heading is '## VERSION - YYYY-MM-DD'")
            datetime.date.fromisoformat(m.group(2))
            entries.append(Entry(m.group(1), m.group(2)))
        elif not entries or not line.strip():
            continue
        elif line.startswith("- "):
            entries[-1].items.append(line[2:].strip())
        elif line.startswith("  ") and entries[-1].items:
            entries[-1].items[-1] += " " + line.strip()
        else:
            sys.exit(f"{where}: an entry holds items starting with '- '")
    if not entries:
        sys.exit(f"{path}: no release entry")
    for e in entries:
        if not e.items:
            sys.exit(f"{path}: {e.version} says nothing")
    versions = [tuple(int(n) for n in e.version.split(".")) for e in entries]
    if versions != sorted(versions, reverse=True) or len(set(versions)) != len(versions):
        sys.exit(f"{path}: the entries go from the newest version to the oldest, each once")
    return entries


def plain(text):
    return text.replace("`", "")


def debian(entries, package, revision, maintainer):
    out = []
    for e in entries:
        out.append(f"{package} ({e.version}-{revision}) unstable; urgency=medium")
        out.append("")
        for item in e.items:
            out.extend(textwrap.wrap(plain(item), width=78, initial_indent="  * ", subsequent_indent="    ",
                                     break_long_words=False, break_on_hyphens=False))
        out.append("")
        day = datetime.datetime.strptime(e.date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        # RFC 5322 date in English whatever the locale (dpkg-parsechangelog's format).
        weekday = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")[day.weekday()]
        month = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")[day.month - 1]
        out.append(f" -- {maintainer}  {weekday}, {day.day:02d} {month} {day.year} 00:00:00 +0000")
        out.append("")
    return "\n".join(out)


def appstream_text(item):
    parts = item.split("`")
    return "".join(html.escape(p, quote=False) if i % 2 == 0 else f"<code>{html.escape(p, quote=False)}</code>"
                   for i, p in enumerate(parts))


def releases(entries, indent):
    pad = " " * indent
    out = [f"{pad}<releases>"]
    for e in entries:
        out.append(f'{pad}  <release version="{e.version}" date="{e.date}">')
        out.append(f"{pad}    <description>")
        out.append(f"{pad}      <ul>")
        out.extend(f"{pad}        <li>{appstream_text(item)}</li>" for item in e.items)
        out.append(f"{pad}      </ul>")
        out.append(f"{pad}    </description>")
        out.append(f"{pad}  </release>")
    out.append(f"{pad}</releases>")
    return "\n".join(out)


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) == 3 and argv[1] == "top":
        e = parse(argv[2])[0]
        print(e.version, e.date)
    elif len(argv) == 7 and argv[1] == "debian":
        write(argv[6], debian(parse(argv[2]), argv[3], argv[4], argv[5]))
    elif len(argv) == 5 and argv[1] == "metainfo":
        with open(argv[3], encoding="utf-8") as f:
            template = f.read()
        m = re.search(r"^( *)@RELEASES@\n", template, re.M)
        if not m:
            sys.exit(f"{argv[3]}: no '@RELEASES@' line")
        text = template[:m.start()] + releases(parse(argv[2]), len(m.group(1))) + "\n" + template[m.end():]
        write(argv[4], text)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
