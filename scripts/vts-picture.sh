#!/usr/bin/env bash
# Makes docs/vts-frame.png: a test clip played on the simulator, its page
# as the console shows it after conversion to the 216-colour cube. Needs a
# build (build/kartex) and the ffmpeg command (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440 \
  -t 20 -c:v mpeg4 -q:v 2 -g 25 -c:a aac "$work/clip.mp4"
# Start pauses at the first key read, R seeks 15 s ahead at the second,
# B ends the stream at the fifth: the third frame shows about 0:15.7.
build/kartex --sim=keys=start@1,r@2,b@5,screens="$work/screens" vts "$work/clip.mp4" >"$work/out.txt"
cp "$work/screens/000004.png" docs/vts-frame.png
echo "docs/vts-frame.png written"
