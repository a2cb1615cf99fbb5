#!/usr/bin/env python3
"""Checks that every #include of the program's sources goes down the layers.

  base < platform < storage < engine < {ntfs, fat, carving} < scan < app/core < {cli, app/gui}
  ui sits on base only; app/gui may also include ui.

A folder may include its own headers and those of any layer below it, never
one beside it or above it. Tests and benchmarks may reach into any layer and
are not checked. Prints each wrong-way include and exits 1 when there is one.
"""
import pathlib
import re
import sys

ORDER = ["base", "platform", "storage", "engine", "ntfs", "fat", "carving", "scan", "app/core", "cli", "app/gui", "ui"]

# What each folder may include besides itself.
ALLOWED = {
    "base": set(),
    "platform": {"base"},
    "storage": {"base", "platform"},
    "engine": {"base", "platform", "storage"},
    "ntfs": {"base", "platform", "storage", "engine"},
    "fat": {"base", "platform", "storage", "engine"},
    "carving": {"base", "platform", "storage", "engine"},
    "scan": {"base", "platform", "storage", "engine", "ntfs", "fat", "carving"},
    "app/core": {"base", "platform", "storage", "engine", "ntfs", "fat", "carving", "scan"},
    "cli": {"base", "platform", "storage", "engine", "ntfs", "fat", "carving", "scan", "app/core"},
    "app/gui": {"base", "platform", "storage", "engine", "ntfs", "fat", "carving", "scan", "app/core", "ui"},
    "ui": {"base"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def folder_of(rel: str) -> str | None:
    """The layer folder a path inside the tree belongs to, or None."""
    for layer in sorted(ORDER, key=len, reverse=True):
        if rel == layer or rel.startswith(layer + "/"):
            return layer
    return None


def check(root: pathlib.Path) -> list[str]:
    problems = []
    for layer in ORDER:
        for path in sorted((root / layer).glob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for lineno, match in ((text.count("\n", 0, m.start()) + 1, m) for m in INCLUDE.finditer(text)):
                target = match.group(1)
                to = folder_of(target)
                if to is None:
                    problems.append(f"{path.relative_to(root)}:{lineno}: includes \"{target}\", which is in no layer")
                elif to != layer and to not in ALLOWED[layer]:
                    problems.append(f"{path.relative_to(root)}:{lineno}: {layer} includes \"{target}\" ({to})")
    return problems


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) against the layer order", file=sys.stderr)
        return 1
    print("layers: every include goes down the layer order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
