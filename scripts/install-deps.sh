#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the benchmarks use
# (--bench, --sanitize, --package: those of the benchmarks' peers, of the
# sanitizer build, of making and checking the Debian packages too).
# Only what is missing is fetched, so a second run costs a few dpkg queries.
set -euo pipefail

BUILD_PKGS=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
            libblkid-dev libudev-dev zlib1g-dev libstb-dev qt6-base-dev qt6-tools-dev libqt6opengl6-dev libgl-dev)
# Third-party tools that make the test fixtures (file systems and media files),
# and the load the stress run of the suite puts beside it.
FIXTURE_PKGS=(dosfstools mtools fusefat ntfs-3g exfatprogs exfat-fuse e2fsprogs fdisk util-linux xxd
              imagemagick ffmpeg sox zip p7zip-full gcab sqlite3 fonts-dejavu-core
              python3 xvfb xauth xdotool librsvg2-bin xz-utils
              nbdkit libnbd-bin fuse3 stress-ng)
# Peers the benchmarks compare against.
# What the preview uses where installed (pictures beyond the built-in formats,
# PDF pages, the player); LibreOffice is left to the person (it is large).
# Qt's own texts in the languages offered: its file dialog's buttons and labels.
PREVIEW_PKGS=(qt6-image-formats-plugins poppler-utils mpv ghostscript qt6-translations-l10n)
BENCH_PKGS=(sleuthkit testdisk foremost time)
# The sanitizer build and the fuzz targets are made with clang; libFuzzer and
# the sanitizer runtimes come with its compiler-rt.
SANITIZE_PKGS=(clang libclang-rt-14-dev)
# Making the Debian packages (CPack's dependency list needs dpkg-shlibdeps and
# file) and checking them (scripts/package.sh --check): lintian, the AppStream
# and desktop-entry validators, man for the installed manual pages.
PACKAGE_PKGS=(dpkg-dev file lintian appstream desktop-file-utils man-db)

want=("${BUILD_PKGS[@]}" "${FIXTURE_PKGS[@]}" "${PREVIEW_PKGS[@]}")
[ "${1:-}" = "--bench" ] && want+=("${BENCH_PKGS[@]}")
[ "${1:-}" = "--sanitize" ] && want+=("${SANITIZE_PKGS[@]}")
[ "${1:-}" = "--package" ] && want+=("${PACKAGE_PKGS[@]}")

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
