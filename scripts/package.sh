#!/usr/bin/env bash
# Makes the Debian packages from the release build in build/ (what
# scripts/test.sh built; only the packaged programs are brought up to date):
#   scripts/package.sh          build/packages/dunmere_VERSION_ARCH.deb (the desktop program)
#                               and dunmere-cli_VERSION_ARCH.deb (the command line, no Qt)
#   scripts/package.sh --check  the same, then, as root on Debian 12 (CI): lintian, the
#                               AppStream and desktop-entry validators, apt-get install of
#                               both, the installed programs run (a sample recovered, the
#                               window shown under Xvfb), manual page and completion
#                               looked up, and a purge that must leave nothing behind.
# The check installs on this machine and purges again, also when it fails; it
# refuses to start where a dunmere package is installed already.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  *) echo "usage: scripts/package.sh [--check]" >&2; exit 2 ;;
esac
# dpkg-shlibdeps and file for the packages' dependencies; lintian and the
# validators for the check.
bash scripts/install-deps.sh --package

build=build
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)" --target dunmere dunmere-cli dunmere_installed_files
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
gui=$(ls "$root/$build"/packages/dunmere_*.deb)
cli=$(ls "$root/$build"/packages/dunmere-cli_*.deb)
echo "$gui"
echo "$cli"
[ $check = 1 ] || exit 0

# ---------------------------------------------------------------- check
if [ "$(id -u)" -ne 0 ]; then
  echo "package.sh --check installs the packages: run it as root" >&2
  exit 1
fi
for p in dunmere dunmere-cli; do
  state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  if [ -n "$state" ] && [ "$state" != not-installed ]; then
    echo "package.sh --check: $p is installed on this machine already; the check would purge it" >&2
    exit 1
  fi
done
fail() { echo "package.sh --check: $*" >&2; exit 1; }
step() { echo "-- $*"; }

tmp=$(mktemp -d)
installed=0
cleanup() {
  if [ $installed = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 dunmere dunmere-cli >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

step "lintian"
lintian --fail-on error "$gui" "$cli"

step "AppStream and desktop entry of the package"
mkdir "$tmp/tree"
dpkg-deb -x "$gui" "$tmp/tree"
appstreamcli validate --pedantic --no-net "$tmp/tree/usr/share/metainfo/org.dunmere.dunmere.metainfo.xml"
appstreamcli validate-tree --pedantic --no-net "$tmp/tree"
desktop-file-validate "$tmp/tree/usr/share/applications/org.dunmere.dunmere.desktop"
# The helpers the desktop program names are packages of Debian 12.
for field in Recommends Suggests; do
  for p in $(dpkg-deb -f "$gui" "$field" | tr -d ',' | tr '|' ' '); do
    apt-cache show --no-all-versions "$p" >/dev/null 2>&1 || fail "$field names $p, which apt does not know"
  done
done

step "apt-get install"
# Without the recommended player and converters: the check needs none, and
# leaves the machine as it found it. An image without manual pages or
# documents (path-exclude in dpkg.cfg.d) still gets this package's.
export DEBIAN_FRONTEND=noninteractive
installed=1
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 \
  -o Dpkg::Options::=--path-include=/usr/share/man/man1/dunmere* \
  -o Dpkg::Options::=--path-include=/usr/share/doc/dunmere* \
  "$gui" "$cli" >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get install failed"; }
dpkg -L dunmere dunmere-cli | sort -u >"$tmp/files"
if ldd /usr/bin/dunmere-cli | grep -qi 'libqt'; then fail "dunmere-cli links Qt"; fi

step "the installed programs"
version=$(dpkg-deb -f "$cli" Version)
version=${version%-*}
[ "$(/usr/bin/dunmere-cli --version)" = "dunmere-cli $version" ] || fail "dunmere-cli --version: $(/usr/bin/dunmere-cli --version)"
[ "$(/usr/bin/dunmere --version)" = "dunmere $version" ] || fail "dunmere --version: $(/usr/bin/dunmere --version)"
# A sample image recovered with its folders; every deleted file must come
# back with the checksum samples/MANIFEST.txt gives. The data folder (scan
# logs) and the runtime folder (the one-copy-per-user lock) are the check's
# own, so nothing of the person running it is touched or in the way.
mkdir -m 700 "$tmp/run"
export DUNMERE_DATA_DIR=$tmp/data XDG_RUNTIME_DIR=$tmp/run
for sample in samples/*.img.xz; do
  name=$(basename "$sample")
  xz -dc "$sample" >"$tmp/image"
  /usr/bin/dunmere-cli recover "$tmp/image" --to "$tmp/out-$name" --layout tree --force >"$tmp/recover.log" 2>&1 ||
    { cat "$tmp/recover.log"; fail "recovery of $name failed"; }
  sed -n "/^== $name\$/,/^== /p" samples/MANIFEST.txt |
    sed -n '/^deleted files/,/^files left/p' |
    sed -nE 's/^  ([0-9a-f]{64})  [0-9]+  (.*)$/\1  \2/p' >"$tmp/expected"
  [ -s "$tmp/expected" ] || fail "samples/MANIFEST.txt lists no deleted files of $name"
  (cd "$tmp/out-$name" && sha256sum --quiet -c "$tmp/expected") || fail "$name: recovered files differ from samples/MANIFEST.txt"
  echo "   $name: $(wc -l <"$tmp/expected") deleted files recovered as the manifest lists them"
  rm -f "$tmp/image"
done
# The desktop program until its main window shows; WM_CLASS is the program's
# name (the title is the product's).
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" bash -c '
  /usr/bin/dunmere >"$0/gui.log" 2>&1 & program=$!
  window=$(timeout 120 xdotool search --sync --onlyvisible --class "^dunmere$" | head -n 1) || true
  kill $program 2>/dev/null; wait $program
  [ -n "$window" ]' "$tmp" || { cat "$tmp/gui.log"; fail "the window of /usr/bin/dunmere did not show"; }
echo "   dunmere showed its window"

step "manual pages and completion"
man -w dunmere-cli | grep -qx /usr/share/man/man1/dunmere-cli.1.gz || fail "man -w dunmere-cli: $(man -w dunmere-cli 2>&1)"
man -w dunmere | grep -qx /usr/share/man/man1/dunmere.1.gz || fail "man -w dunmere: $(man -w dunmere 2>&1)"
MANWIDTH=80 man dunmere-cli 2>/dev/null | grep -q -- '--layout' || fail "man dunmere-cli shows no --layout"
completions=$(bash -c '
  source /usr/share/bash-completion/completions/dunmere-cli
  complete -p dunmere-cli >/dev/null || exit 1
  COMP_WORDS=(dunmere-cli ""); COMP_CWORD=1; _dunmere_cli
  printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
  COMP_WORDS=(dunmere-cli recover --lay); COMP_CWORD=2; _dunmere_cli
  printf "%s\n" "${COMPREPLY[@]}"') || fail "the completion of dunmere-cli is not set"
[ "$completions" = "help image recover scan sources --layout" ] || fail "completion gave: $completions"

step "apt-get purge"
apt-get purge -y -q -o DPkg::Lock::Timeout=300 dunmere dunmere-cli >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get purge failed"; }
installed=0
# Every file of the packages is gone, and every folder of their own; the
# shared ones (/usr/share/man/man1, the icon theme's) stay.
left=()
while read -r f; do
  if [ -L "$f" ] || [ -f "$f" ]; then
    left+=("$f")
  elif [ -d "$f" ] && [[ $f == *dunmere* ]]; then
    left+=("$f/")
  fi
done <"$tmp/files"
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
if dpkg-query -W dunmere dunmere-cli >/dev/null 2>&1; then fail "dpkg still knows the packages"; fi
echo "-- packages made and checked in $SECONDS s"
