#!/usr/bin/env bash
# Makes real files of the carvable formats for the format benchmark:
# make_format_files.sh OUTDIR
# The small samples of the signature tests, plus larger files of the same
# formats (longer clips, bigger pictures, fuller databases and archives), so
# that most files span many sectors and end somewhere inside their last one.
set -euo pipefail
out=${1:?usage: make_format_files.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
mkdir -p "$out/samples" "$out/large"
bash "$root/tests/fixtures/make_media_samples.sh" "$out/samples" >/dev/null
cd "$out/large"
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
vid=(-f lavfi -i testsrc=size=320x240:rate=25:duration=4)
vid2=(-f lavfi -i mandelbrot=size=160x120:rate=15 -t 3)
aud=(-f lavfi -i sine=frequency=330:duration=4)

ff "${vid[@]}" -c:v mpeg4 -pix_fmt yuv420p clip.mp4
ff "${vid2[@]}" -c:v libx264 -pix_fmt yuv420p clip2.mp4 2>/dev/null || ff "${vid2[@]}" -c:v mpeg4 clip2.mp4
ff "${vid[@]}" -c:v mpeg4 -pix_fmt yuv420p -f mov clip.mov
ff "${vid2[@]}" -c:v mjpeg -f mov clip2.mov
ff "${vid[@]}" -c:v h263 -s 176x144 -pix_fmt yuv420p clip.3gp
ff "${vid[@]}" -c:v mpeg4 clip.mkv
ff "${vid2[@]}" "${aud[@]}" -shortest -c:v mpeg4 -c:a mp2 clip2.mkv
ff "${vid[@]}" -c:v flv1 clip.flv
ff "${vid2[@]}" "${aud[@]}" -shortest -c:v flv1 -c:a mp3 -ar 22050 clip2.flv 2>/dev/null || ff "${vid2[@]}" -c:v flv1 clip2.flv
ff "${vid[@]}" -c:v mpeg1video -f mpeg clip.mpg
ff "${vid2[@]}" "${aud[@]}" -shortest -c:v mpeg2video -c:a mp2 -f vob clip.vob
ff "${vid[@]}" -c:v mpeg2video -f mxf clip.mxf
ff "${vid[@]}" -c:v rv10 -f rm clip.rm
ff "${vid[@]}" -c:v mpeg4 clip.avi
ff "${vid[@]}" -c:v wmv2 clip.wmv
ff "${vid[@]}" -c:v flv1 -f swf clip.swf
ff "${vid2[@]}" -c:v mjpeg -f swf clip2.swf
ff "${vid[@]}" -c:v mpeg2video -f mpegts clip.ts
ff "${vid[@]}" -c:v mpeg2video -f mpegts -mpegts_m2ts_mode 1 clip.m2ts
ff "${aud[@]}" -c:a libmp3lame -id3v2_version 3 -write_id3v1 1 -metadata title=Clip clip.mp3
ff "${aud[@]}" -c:a mp2 -f mp2 clip.mp2
ff -f lavfi -i sine=frequency=500:duration=2:sample_rate=48000 -ac 2 -c:a mp2 -b:a 192k -f mp2 clip2.mp2
ff -f lavfi -i sine=frequency=440:duration=3:sample_rate=8000 -c:a adpcm_yamaha -f mmf clip.mmf
sox -n -r 22050 -c 2 -b 16 clip.wav synth 2 sine 300

convert -size 800x600 plasma:fractal -seed 21 -quality 90 photo.jpg
convert -size 640x480 plasma:fractal -seed 22 photo.png
convert -size 320x240 plasma:fractal -seed 23 photo.gif
convert -size 200x150 plasma: -seed 24 -delay 10 \( +clone -negate \) \( +clone -flip \) anim.gif
convert -size 300x200 plasma: -seed 25 BMP3:photo.bmp
convert -size 320x240 plasma:fractal -seed 26 photo.tif
convert -size 320x240 plasma:fractal -seed 27 -compress lzw photo-lzw.tif
convert -size 320x240 plasma:fractal -seed 28 photo.psd
convert -size 400x300 gradient:red-blue -seed 29 photo2.psd
convert -size 48x48 plasma: -seed 30 \( +clone -resize 32x32 \) \( +clone -resize 16x16 \) photo.ico

head -c 200000 /dev/urandom > rnd.bin
seq 1 40000 > count.txt
gzip -9 -n -c count.txt > count.gz
gzip -1 -c rnd.bin > rnd.gz
rm -f bundle.zip bundle.7z
zip -q -X bundle.zip count.txt rnd.bin
7z a -bd -bso0 bundle.7z count.txt
gcab -c -z bundle.cab count.txt
rm -f big.db
sqlite3 big.db "create table t(a integer primary key, b text); with recursive c(x) as (select 1 union all select x+1 from c where x<3000) insert into t select x, printf('row %d %s', x, hex(randomblob(20))) from c;"
for f in DejaVuSerif.ttf DejaVuSansMono.ttf; do
  [ -f /usr/share/fonts/truetype/dejavu/$f ] && cp /usr/share/fonts/truetype/dejavu/$f .
done
python3 - <<'PY'
import struct, zlib
def track(ev): return b'MTrk' + struct.pack('>I', len(ev)) + ev
notes = b''.join(b'\x00\x90%c\x40\x60\x80%c\x40' % (40 + i % 40, 40 + i % 40) for i in range(400))
open('long.mid', 'wb').write(b'MThd' + struct.pack('>IHHH', 6, 1, 2, 96)
    + track(b'\x00\xff\x51\x03\x07\xa1\x20\x00\xff\x2f\x00') + track(notes + b'\x00\xff\x2f\x00'))
def block(typ, flags, rest):
    hdr = struct.pack('<BHH', typ, flags, 7 + len(rest)) + rest
    return struct.pack('<H', zlib.crc32(hdr) & 0xFFFF) + hdr
out = b'Rar!\x1a\x07\x00' + block(0x73, 0, b'\x00' * 6)
for name in (b'count.txt', b'rnd.bin'):
    data = open(name.decode(), 'rb').read()[:30000]
    fh = struct.pack('<IIBIIBBHI', len(data), len(data), 3, zlib.crc32(data), 0x5A000000, 29, 0x30, len(name), 0x20) + name
    out += block(0x74, 0x8000, fh) + data
open('bundle.rar', 'wb').write(out + bytes.fromhex('c43d7b00400700'))
PY
rm -f rnd.bin count.txt
