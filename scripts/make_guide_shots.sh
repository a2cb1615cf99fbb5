#!/usr/bin/env bash
# Takes the screenshots of the user guide (docs/shots/*.png) from the real
# program under a virtual X server: starts build/app/gui/dunmere with two image
# files, walks the pages with xdotool and crops each shot to the window. The
# second image holds the sample FAT32 volume (samples/fat32-deleted.img.xz)
# between stretches of random data, 1 GiB in all, so that a deep scan of it
# runs long enough to be seen and finds the sample's deleted files. Then it
# previews a picture in the pane and in the preview window, copies checked
# pictures out to a folder on another file system (/dev/shm), and images a
# loop device over a sparse 6 GiB file (skipped where losetup is refused).
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
dest=$(mktemp -d /dev/shm/dunmere-shots.XXXXXX)
loop=
cleanup() {
  kill $pid 2>/dev/null && wait $pid 2>/dev/null
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$work" "$dest"
}
trap cleanup EXIT
export DUNMERE_DATA_DIR=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
truncate -s 64M "$work/camera-card.img"
mkfs.fat -n CAMERA "$work/camera-card.img" >/dev/null
{ head -c 200M /dev/urandom; xz -dc "$here/samples/fat32-deleted.img.xz"; head -c 200M /dev/urandom; } > "$work/usb-stick.img"
truncate -s 1G "$work/usb-stick.img"
out=$here/docs/shots
mkdir -p "$out"
# A disk to image: a loop device, listed as a disk of its own.
truncate -s 6G "$work/old-disk.bin"
loop=$(losetup --find --show "$work/old-disk.bin" 2>/dev/null) || loop=

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
# The program's newest window other than the main one (there is no window
# manager to ask which is active), its place and size in PX, PY, PWIDTH, PHEIGHT.
front() {
  local w; w=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | grep -vx "$wid" | tail -1 || true)
  [ -n "$w" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$w" | sed 's/^/P/')"
}
shot_front() { front; import -window root -crop "${PWIDTH}x${PHEIGHT}+${PX}+${PY}" +repage "$out/$1.png"; }
click_front() { front; xdotool mousemove $((PX + $1)) $((PY + $2)) click 1; sleep 0.8; }
# The same, counted from the window's bottom right corner.
click_front_br() { front; xdotool mousemove $((PX + PWIDTH - $1)) $((PY + PHEIGHT - $2)) click 1; sleep 0.8; }
# Waits until the program shows n windows or more (the main window is one).
wait_windows() {
  for _ in $(seq 100); do
    [ "$(xdotool search --onlyvisible --pid $pid 2>/dev/null | wc -l)" -ge "$1" ] && return 0
    sleep 0.1
  done
}
# Types a path into the file dialog in front and accepts it.
type_path() { sleep 1; xdotool key ctrl+a; xdotool type --delay 20 "$1"; sleep 0.3; xdotool key Return; sleep 1; }

hover 180 339;  shot 1-mode            # the pointer over "Deleted Recovery" explains it
click 180 339                          # "Deleted Recovery"
click 200 360;  shot 2-location        # the camera card (the loop device is listed first)
click 828 643;  shot 3-file-types      # "Select Types"
click 911 18;   hover 930 85; shot 4-assist-menu
xdotool key Escape; sleep 0.3; xdotool key Escape; sleep 0.3
click 56 643;   click 56 643           # back to the modes
click 840 339;  shot 5-disk-image      # "Create Disk Image"
click 56 643                           # back to the modes
click 620 339                          # "Deep Recovery"
click 200 216;  xdotool key End; sleep 0.5   # the 1 GiB image, the last row
click 948 643                          # "Scan"
wait_windows 2; sleep 0.7; shot 6-scan # the scan window over the main window
# The scan, then the type search, run until only the main window is left.
for _ in $(seq 600); do
  [ "$(xdotool search --onlyvisible --pid $pid 2>/dev/null | wc -l)" -le 1 ] && break
  sleep 0.2
done
sleep 1;        shot 7-results         # the first type of the first category listed
click 140 263                          # the text files listed
click 66 263                           # and all of them checked
click 265 192;  shot 8-checked         # one of them unchecked again
click 66 263;   click 66 263           # the text files all checked, then none
# A picture: previewed in the pane when its row is selected, and in the
# preview window on a double-click.
click 130 165                          # JPG/JPEG
click 360 192;  sleep 1; shot 9-pane-preview   # "Beach Day.jpg"
xdotool mousemove $((X + 360)) $((Y + 192)) click --repeat 2 --delay 80 1
wait_windows 2; sleep 1.5; shot_front 10-preview
xdotool key Escape; sleep 0.8
# Copy-out: the pictures checked, to a folder on another file system.
click 46 151                           # Photo checked
click 948 643                          # "Recover": the folder dialog
type_path "$dest"
wait_windows 2; sleep 2
click_front 57 214;  shot_front 11-copy-out   # "Details": what became of each file
click_front_br 58 26                          # "Finish"
# A disk image of the loop device, then the offer to scan it.
if [ -n "$loop" ]; then
  click 80 59                          # the "Location" tab
  click 56 643                         # back to the modes
  click 840 339                        # "Create Disk Image": the loop device is chosen
  click 943 643                        # "Create Image": the save dialog
  type_path "$work/old-disk.img"
  wait_windows 2; sleep 2.5; shot_front 12-imaging
  for _ in $(seq 300); do               # until the question after the copy
    if front && [ "$PWIDTH" -lt 440 ]; then break; fi
    sleep 0.2
  done
  sleep 0.5; shot_front 13-scan-offer
  click_front_br 158 26                # "Yes": deep-scan mode with the image chosen
  sleep 1;   click 80 59              # the file-type page comes first; the location tab
  shot 14-image-chosen                 # shows the new image chosen
fi
echo "shots written to $out"
