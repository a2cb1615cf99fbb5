#!/usr/bin/env bash
# Takes the screenshots of the user guide (docs/shots/*.png) from the real
# program under a virtual X server: starts build/app/gui/dunmere with two image
# files, walks the pages with xdotool and crops each shot to the window. The
# second image holds the sample FAT32 volume (samples/fat32-deleted.img.xz)
# between stretches of random data, 1 GiB in all, so that a deep scan of it
# runs long enough to be seen and finds the sample's deleted files.
# Usage: scripts/make_guide_shots.sh [BUILD_DIR]   (needs xvfb-run, xdotool,
# ImageMagick's import, mkfs.fat and xz; the program must be built).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
program=$build/app/gui/dunmere
for t in xvfb-run xdotool import mkfs.fat xz; do
  command -v $t >/dev/null 2>&1 || { echo "missing tool: $t" >&2; exit 77; }
done
[ -x "$program" ] || { echo "build the program first: $program" >&2; exit 1; }

if [ "${1:-}" != "--inside" ] && [ -z "${DUNMERE_SHOTS_INSIDE:-}" ]; then
  export DUNMERE_SHOTS_INSIDE=1
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build"
fi

work=$(mktemp -d)
trap 'kill $pid 2>/dev/null && wait $pid 2>/dev/null; rm -rf "$work"' EXIT
export DUNMERE_DATA_DIR=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
truncate -s 64M "$work/camera-card.img"
mkfs.fat -n CAMERA "$work/camera-card.img" >/dev/null
{ head -c 200M /dev/urandom; xz -dc "$here/samples/fat32-deleted.img.xz"; head -c 200M /dev/urandom; } > "$work/usb-stick.img"
truncate -s 1G "$work/usb-stick.img"
out=$here/docs/shots
mkdir -p "$out"

"$program" "$work/camera-card.img" "$work/usb-stick.img" &
pid=$!
for _ in $(seq 50); do
  wid=$(xdotool search --name "Korvanex Dunmere Pro" 2>/dev/null | head -1) && [ -n "$wid" ] && break
  sleep 0.2
done
[ -n "${wid:-}" ] || { echo "the program's window did not appear" >&2; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$wid")"

click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; sleep 0.8; }
shot() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1.png"; }
hover() { xdotool mousemove $((X + $1)) $((Y + $2)); sleep 0.8; }

hover 180 339;  shot 1-mode            # the pointer over "Deleted Recovery" explains it
click 180 339                          # "Deleted Recovery"
click 200 216;  xdotool key End Up Up; sleep 0.8; shot 2-location   # the camera card
click 828 643;  shot 3-file-types      # "Select Types"
click 911 18;   hover 930 85; shot 4-assist-menu
xdotool key Escape; sleep 0.3; xdotool key Escape; sleep 0.3
click 56 643;   click 56 643           # back to the modes
click 840 339;  shot 5-disk-image      # "Create Disk Image"
click 56 643                           # back to the modes
click 620 339                          # "Deep Recovery"
click 200 216;  xdotool key End; sleep 0.5   # the 1 GiB image, the last row
click 948 643                          # "Scan"
sleep 3;        shot 6-scan            # the scan window over the main window
# The scan, then the type search, run until only the main window is left.
for _ in $(seq 600); do
  [ "$(xdotool search --onlyvisible --pid $pid 2>/dev/null | wc -l)" -le 1 ] && break
  sleep 0.2
done
sleep 1;        shot 7-results         # the first type of the first category listed
click 140 263                          # the text files listed
click 66 263                           # and all of them checked
click 281 192;  shot 8-checked         # one of them unchecked again
echo "shots written to $out"
