#!/bin/sh
# The video stream's frames per second in simulated hardware time, whole
# frames against changes, on three clips made here with ffmpeg: a still
# picture with a square moving across it, a slow pan across a detailed
# picture, and full motion (mandelbrot). Prints a Markdown table.
#
#   bench/vts-fps.sh [BUILD_DIR] [FRAMES]
set -eu
build=$(cd "${1:-build}" && pwd)
frames=${2:-40}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ff() { ffmpeg -nostdin -v error -y "$@" </dev/null; }
ff -f lavfi -i "testsrc2=size=960x240:rate=1" -frames:v 1 "$dir/wide.ppm"
# The moving square and the pan at 200 frames a second, faster than either
# stream goes, so that every frame sent shows a picture of its own (2 and 1
# clip pixels on from the one before) and a fast stream is not credited
# with pictures that repeat; mandelbrot at 25: every pixel changes in
# every picture, and neither stream reaches 25 frames a second on it.
ff -loop 1 -framerate 200 -i "$dir/wide.ppm" -f lavfi -i "color=c=yellow:s=40x40:r=200" -filter_complex \
   "[0]crop=320:240:0:0[bg];[bg][1]overlay=x='mod(t*400\,280)':y=100:shortest=1" \
   -r 200 -t 4 -c:v ffv1 -g 1 "$dir/moving-object.avi"
ff -loop 1 -framerate 200 -i "$dir/wide.ppm" -vf "crop=320:240:x='min(t*200\,640)':y=0" -r 200 -t 4 -c:v ffv1 -g 1 "$dir/slow-pan.avi"
ff -f lavfi -i "mandelbrot=size=320x240:rate=25" -t 20 -c:v ffv1 -g 1 "$dir/mandelbrot.avi"
cd "$dir"
"$build/bench/kartex_vts_fps" --frames="$frames" moving-object.avi slow-pan.avi mandelbrot.avi
