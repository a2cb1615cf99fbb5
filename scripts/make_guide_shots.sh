#!/usr/bin/env bash
# Takes the screenshots of the user guide (docs/shots/*.png) from the real
# program under a virtual X server: starts build/app/gui/dunmere with two image
# files, walks the pages with xdotool and crops each shot to its window. The
# second image holds the sample FAT32 volume (samples/fat32-deleted.img.xz)
# between stretches of random data, 1 GiB in all, so that a deep scan of it
# runs long enough to be seen and finds the sample's deleted files. Then it
# previews a picture in the pane and in the preview window, copies checked
# pictures out to a folder on another file system (/dev/shm), and images a
# loop device over a sparse 6 GiB file (skipped where losetup is refused).
#
# Nothing is clicked at a fixed place: the program, asked by
# DUNMERE_DUMP_CONTROLS, keeps a file saying where each window, named control,
# list row, check box, header section and menu entry is on the screen, and the
# script clicks those by name and waits for them to appear or go. The only
# sleeps let painting finish before a shot.
#
# Usage: scripts/make_guide_shots.sh [BUILD_DIR]   (needs Xvfb (xvfb-run),
# xdotool, ImageMagick's import and convert, mkfs.fat and xz; the program must
# be built). The virtual screen is display :96 unless DUNMERE_SHOTS_DISPLAY
# names another number.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
program=$build/app/gui/dunmere
for t in xvfb-run xdotool import convert mkfs.fat xz; do
  command -v $t >/dev/null 2>&1 || { echo "missing tool: $t" >&2; exit 77; }
done
[ -x "$program" ] || { echo "build the program first: $program" >&2; exit 1; }

if [ -z "${DUNMERE_SHOTS_INSIDE:-}" ]; then
  export DUNMERE_SHOTS_INSIDE=1
  exec xvfb-run -n "${DUNMERE_SHOTS_DISPLAY:-96}" -s "-screen 0 1600x1000x24 -nolisten tcp" "$0" "$build"
fi

work=$(mktemp -d)
# Image files and the copy-out folder show their paths in the shots: short
# ones that read well.
images=${TMPDIR:-/tmp}/guide-images
dest=/dev/shm/recovered
rm -rf "$images" "$dest" && mkdir -p "$images" "$dest"
loop=
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$work" "$dest" "$images"
}
trap cleanup EXIT
export DUNMERE_DATA_DIR=$work/data XDG_RUNTIME_DIR=$work/run
export DUNMERE_DUMP_CONTROLS=$work/controls.txt
dump=$DUNMERE_DUMP_CONTROLS
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
truncate -s 64M "$images/camera-card.img"
mkfs.fat -n CAMERA "$images/camera-card.img" >/dev/null
{ head -c 200M /dev/urandom; xz -dc "$here/samples/fat32-deleted.img.xz"; head -c 200M /dev/urandom; } > "$images/usb-stick.img"
truncate -s 1G "$images/usb-stick.img"
out=$here/docs/shots
mkdir -p "$out"
# A disk to image: a loop device, listed as a disk of its own.
truncate -s 6G "$work/old-disk.bin"
loop=$(losetup --find --show "$work/old-disk.bin" 2>/dev/null) || loop=

# ---- finding things by name in the program's list of what is on the screen ----

# place KIND NAME [WINDOW]: the first visible KIND (window, control, row,
# check, header, action) called NAME, or starting with NAME when it ends in
# '*', in a window of class WINDOW when given. Sets RX RY RW RH and its centre
# CX CY; fails when there is none.
place() {
  local line
  line=$(awk -F'\t' -v k="$1" -v n="$2" -v w="${3:-}" '
    BEGIN { prefix = substr(n, length(n)) == "*"; if (prefix) n = substr(n, 1, length(n) - 1) }
    $1 == k && (w == "" || $2 == w) && (prefix ? (n == "" || index($3, n) == 1) : $3 == n) {
      print $4, $5, $6, $7; exit
    }' "$dump" 2>/dev/null) || true
  [ -n "$line" ] || return 1
  read -r RX RY RW RH <<<"$line"
  CX=$((RX + RW / 2)) CY=$((RY + RH / 2))
}
# What the program shows, for a message when something never came.
shown() { cut -f1-3 "$dump" 2>/dev/null | grep -v '^control' | head -40 >&2 || true; }
# Waits until it is there (a scan may take minutes: the bound is an hour).
wait_for() {
  for _ in $(seq 36000); do
    place "$@" && return 0
    sleep 0.1
  done
  echo "never shown: $*" >&2; shown; exit 1
}
wait_gone() {
  for _ in $(seq 36000); do
    place "$@" || return 0
    sleep 0.1
  done
  echo "never went: $*" >&2; exit 1
}
settle() { sleep 0.5; }  # painting finishes
click() { wait_for "$@"; xdotool mousemove $CX $CY click 1; settle; }
double_click() { wait_for "$@"; xdotool mousemove $CX $CY click --repeat 2 --delay 80 1; settle; }
hover() { wait_for "$@"; xdotool mousemove $CX $CY; settle; }
# shot NAME [CLASS]: the window of that class (the main window by default).
shot() {
  wait_for window '*' "${2:-FileRecoveryWnd}"
  settle
  import -window root -crop "${RW}x${RH}+${RX}+${RY}" +repage "$out/$1.png"
}
# shot_all NAME: every window of the program together (a menu may reach past
# the main window).
shot_all() {
  settle
  local box
  box=$(awk -F'\t' '$1 == "window" {
      if (n++ == 0) { x0 = $4; y0 = $5; x1 = $4 + $6; y1 = $5 + $7 }
      if ($4 < x0) x0 = $4
      if ($5 < y0) y0 = $5
      if ($4 + $6 > x1) x1 = $4 + $6
      if ($5 + $7 > y1) y1 = $5 + $7
    } END { printf "%dx%d+%d+%d", x1 - x0, y1 - y0, x0, y0 }' "$dump")
  import -window root -crop "$box" +repage "$out/$1.png"
}
# How many windows of the program the X server shows now (the list file may
# lag behind it by a moment).
mapped() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
# Types a path into the file dialog and accepts it.
type_path() {
  wait_for window '*' QFileDialog
  click control fileNameEdit QFileDialog
  xdotool key ctrl+a
  xdotool type --delay 20 "$1"
  xdotool key Return
  wait_gone window '*' QFileDialog
}

# ---- the pages ----

"$program" "$images/camera-card.img" "$images/usb-stick.img" &
pid=$!
xdotool search --sync --name "Dunmere" >/dev/null
wait_for control BtnDeletedRecovery

hover control BtnDeletedRecovery; shot 1-mode   # the pointer over a mode explains it
click control BtnDeletedRecovery
click row "$images/camera-card.img"; shot 2-location
click control BtnAdvanceScan                   # "Select Types"
wait_for control OptPhotoFile; shot 3-file-types
click control BtnAssist
hover action Language QMenu                    # the languages open beside the menu
wait_for action Deutsch QMenu; shot_all 4-assist-menu
xdotool key Escape; xdotool key Escape; wait_gone window '*' QMenu
click control BtnPrev; click control BtnPrev   # back to the modes
click control BtnCreateImageMode
wait_for control BtnCreateImage
[ -n "$loop" ] && click row "${loop#/dev/}"    # the panel describes the disk chosen
shot 5-disk-image
click control BtnPrev                          # back to the modes
click control BtnDeepRecovery
click row "$images/usb-stick.img"
click control BtnScan
# The scan window over the main window, with some progress: the program is
# stopped for the shot, so that the scan cannot end in between.
wait_for window '*' UIScanProcessWnd
sleep 0.3
kill -STOP "$pid"
[ "$(mapped)" -ge 2 ] || { kill -CONT "$pid"; echo "the scan ended before its shot" >&2; exit 1; }
shot 6-scan
kill -CONT "$pid"
# The scan, then the type search, until the results page is shown alone.
wait_gone window '*' UIScanProcessWnd
wait_gone window '*' UISearchProcessWnd
wait_for control FileList

# The folder view, a folder of the sample chosen: names, sizes, dates and
# the folder each file was in. The Path column is widened by its divider.
click control BtnFolderView
click row "Summer Trip*"
wait_for row "Beach Day.jpg"
wait_for header Path
xdotool mousemove $((RX + RW - 1)) $CY mousedown 1 mousemove $((RX + RW + 90)) $CY mouseup 1
settle
shot 7-results
# Back to the types: the text files listed, all of them checked, one
# unchecked again.
click control BtnTypeView
click row "TXT Files*"
wait_for row "Tiny Note.txt"
click check "TXT Files*"
click check "Tiny Note.txt"
shot 8-checked
click check "TXT Files*"; click check "TXT Files*"   # all checked, then none
# A picture: previewed in the pane when its row is selected, and in the
# preview window on a double-click.
click row "JPG/JPEG*"
click row "Beach Day.jpg"
wait_gone window '*' UIPreviewProcessWnd
shot 9-pane-preview
double_click row "Beach Day.jpg"
wait_for control PreviewEdit UIPreviewWnd; sleep 1; shot 10-preview UIPreviewWnd
xdotool key Escape; wait_gone window '*' UIPreviewWnd
# Copy-out: the pictures checked, to a folder on another file system.
click check "Photo*"
click control BtnRecover                       # the folder dialog
type_path "$dest"
wait_for control FinishBtn UIRecoverProcessWnd  # every file copied
click control DetailBtn UIRecoverProcessWnd    # what became of each file
shot 11-copy-out UIRecoverProcessWnd
click control FinishBtn UIRecoverProcessWnd
wait_gone window '*' UIRecoverProcessWnd
# The guide itself, from the menu.
click control BtnAssist
click action Help QMenu
wait_for control GuideText UIHelpWnd; sleep 1; shot 15-help UIHelpWnd
click control closebtn UIHelpWnd; wait_gone window '*' UIHelpWnd
# A disk image of the loop device, then the offer to scan it.
if [ -n "$loop" ]; then
  click control TabScan                        # the location page
  click control BtnPrev                        # back to the modes
  click control BtnCreateImageMode
  click row "${loop#/dev/}"
  click control BtnCreateImage                 # the save dialog
  type_path "$images/old-disk.img"
  wait_for window '*' UICreateImageProcessWnd
  sleep 1
  kill -STOP "$pid"                            # still copying for the shot
  [ "$(mapped)" -ge 2 ] || { kill -CONT "$pid"; echo "the image was made before its shot" >&2; exit 1; }
  shot 12-imaging UICreateImageProcessWnd
  kill -CONT "$pid"
  wait_for control okbtn UIMessageBox          # the question after the copy
  shot 13-scan-offer UIMessageBox
  click control okbtn UIMessageBox             # "Yes": deep-scan mode, the image chosen
  wait_gone window '*' UIMessageBox
  wait_for control OptPhotoFile                # the file-type page comes first
  click control TabScan                        # the location tab shows the new image chosen
  wait_for row "$images/old-disk.img"
  shot 14-image-chosen
fi
# Shots of many colours are kept small.
for f in "$out"/*.png; do
  [ "$(stat -c %s "$f")" -le 153600 ] || convert "$f" -colors 256 "$f"
done
echo "shots written to $out"
