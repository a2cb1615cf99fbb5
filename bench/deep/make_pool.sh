#!/usr/bin/env bash
# The pictures the deep-scan benchmark's files are made from (ImageMagick);
# make_files.py gives each copy its own hash.
#   make_pool.sh DIR
set -euo pipefail
pool=${1:?usage: make_pool.sh DIR}
mkdir -p "$pool"
n=0
for geom in 320x240 640x480 1024x768 1600x1200; do
  n=$((n + 1))
  convert -size "$geom" plasma:fractal -quality 92 "$pool/p$n.jpg"
done
convert -size 640x480 plasma:fractal -attenuate 0.4 +noise Gaussian -quality 95 "$pool/n1.jpg"
convert -size 1600x1200 plasma:fractal -attenuate 0.4 +noise Gaussian -quality 90 "$pool/n2.jpg"
convert -size 320x240 gradient:blue-yellow -depth 8 "$pool/g1.png"
convert -size 400x300 plasma:fractal -depth 8 "$pool/p1.png"
convert -size 640x480 plasma:fractal -attenuate 0.2 +noise Gaussian -depth 8 "$pool/n1.png"
