#!/usr/bin/env python3
"""Checks that every #include of the program's sources goes down the layers.

  base < platform < storage < engine < {ntfs, fat, exfat, carving} < scan < app/core < {cli, app/gui}
  ui sits on base only; app/gui may also include ui.

A folder may include its own headers and those of any layer below it, never
one beside it or above it; subfolders belong to their layer. Only platform/
includes the system's own headers (POSIX, Linux, libblkid, libudev, Windows),
so a port replaces one folder. While a move is under way, files that still do
may be listed in scripts/os_header_exceptions.txt, a list that may only
shrink (none are now). Tests and
benchmarks may reach into any layer and are not checked. Prints each fault and
exits 1 when there is one.
"""
import pathlib
import re
import sys

ORDER = ["base", "platform", "storage", "engine", "ntfs", "fat", "exfat", "carving", "scan", "app/core", "cli", "app/gui", "ui"]

# What each folder may include besides itself.
ALLOWED = {
    "base": set(),
    "platform": {"base"},
    "storage": {"base", "platform"},
    "engine": {"base", "platform", "storage"},
    "ntfs": {"base", "platform", "storage", "engine"},
    "fat": {"base", "platform", "storage", "engine"},
    "exfat": {"base", "platform", "storage", "engine"},
    "carving": {"base", "platform", "storage", "engine"},
    "scan": {"base", "platform", "storage", "engine", "ntfs", "fat", "exfat", "carving"},
    "app/core": {"base", "platform", "storage", "engine", "ntfs", "fat", "exfat", "carving", "scan"},
    "cli": {"base", "platform", "storage", "engine", "ntfs", "fat", "exfat", "carving", "scan", "app/core"},
    "app/gui": {"base", "platform", "storage", "engine", "ntfs", "fat", "exfat", "carving", "scan", "app/core", "ui"},
    "ui": {"base"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s*<([^>]+)>', re.M)
# Headers of the operating system rather than of C++ or a portable library.
OS_HEADER = re.compile(
    r"^(sys/|linux/|asm/|arpa/|netinet/|net/|blkid/|libudev\.h$|unistd\.h$|fcntl\.h$|dirent\.h$|"
    r"signal\.h$|poll\.h$|pwd\.h$|grp\.h$|termios\.h$|spawn\.h$|dlfcn\.h$|pthread\.h$|mntent\.h$|"
    r"windows\.h$|win[a-z0-9_]*\.h$|io\.h$|direct\.h$|shellapi\.h$|shlobj\.h$|[a-z]+api\.h$|ntdd[a-z]*\.h$|"
    r"setupapi\.h$|cfgmgr32\.h$|dbt\.h$|bcrypt\.h$|ntstatus\.h$|tlhelp32\.h$)", re.I)
EXCEPTIONS = "scripts/os_header_exceptions.txt"


def folder_of(rel: str) -> str | None:
    """The layer folder a path inside the tree belongs to, or None."""
    for layer in sorted(ORDER, key=len, reverse=True):
        if rel == layer or rel.startswith(layer + "/"):
            return layer
    return None


def sources(root: pathlib.Path, layer: str):
    """The layer's .h/.cpp files, subfolders included; app/core is not app/gui's."""
    for path in sorted((root / layer).rglob("*")):
        if path.suffix in (".h", ".cpp") and folder_of(path.relative_to(root).as_posix()) == layer:
            yield path


def read_exceptions(root: pathlib.Path) -> set[str]:
    path = root / EXCEPTIONS
    if not path.exists():
        return set()
    lines = (line.split("#", 1)[0].strip() for line in path.read_text(encoding="utf-8").splitlines())
    return {line for line in lines if line}


def check(root: pathlib.Path) -> list[str]:
    problems = []
    exceptions = read_exceptions(root)
    still_needed = set()
    for layer in ORDER:
        for path in sources(root, layer):
            rel = path.relative_to(root).as_posix()
            text = path.read_text(encoding="utf-8", errors="replace")
            if layer != "platform":
                for m in SYSTEM_INCLUDE.finditer(text):
                    if not OS_HEADER.match(m.group(1)):
                        continue
                    if rel in exceptions:
                        still_needed.add(rel)
                        continue
                    lineno = text.count("\n", 0, m.start()) + 1
                    problems.append(f"{rel}:{lineno}: includes <{m.group(1)}>: system calls belong in platform/")
            for lineno, match in ((text.count("\n", 0, m.start()) + 1, m) for m in INCLUDE.finditer(text)):
                target = match.group(1)
                to = folder_of(target)
                if to is None:
                    problems.append(f"{path.relative_to(root)}:{lineno}: includes \"{target}\", which is in no layer")
                elif to != layer and to not in ALLOWED[layer]:
                    problems.append(f"{path.relative_to(root)}:{lineno}: {layer} includes \"{target}\" ({to})")
    for rel in sorted(exceptions - still_needed):
        problems.append(f"{EXCEPTIONS}: {rel} includes no system header any more (or is gone): take it off the list")
    return problems


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) against the layer order", file=sys.stderr)
        return 1
    listed = len(read_exceptions(root))
    print("layers: every include goes down the layer order; system headers only in platform/"
          + (f" and {listed} listed file(s)" if listed else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
