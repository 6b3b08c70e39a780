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
ff -loop 1 -i "$dir/wide.ppm" -vf "crop=320:240:0:0,drawbox=x='mod(t*40\,280)':y=100:w=40:h=40:color=yellow:t=fill" \
   -r 25 -t 20 -c:v ffv1 -g 1 "$dir/moving-object.avi"
ff -loop 1 -i "$dir/wide.ppm" -vf "crop=320:240:x='min(t*20\,640)':y=0" -r 25 -t 20 -c:v ffv1 -g 1 "$dir/slow-pan.avi"
ff -f lavfi -i "mandelbrot=size=320x240:rate=25" -t 20 -c:v ffv1 -g 1 "$dir/mandelbrot.avi"
cd "$dir"
"$build/bench/kartex_vts_fps" --frames="$frames" moving-object.avi slow-pan.avi mandelbrot.avi
