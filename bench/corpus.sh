#!/usr/bin/env bash
# Builds the corpus the dump-compression study measures: ROM-like content
# from the Debian packages `scripts/install-deps.sh --bench` installs, one
# file per kind, so that each kind's figures stay apart.
#   bench/corpus.sh BUILD_DIR OUT_DIR
# BUILD_DIR holds a built tree (the agent image and kartex_tiles); OUT_DIR
# receives code-arm.bin, code-thumb.bin, tiles4.bin, tiles8.bin, sound.bin
# and text.bin, each cut to at most CAP bytes (default 2 MiB; the tiles to
# TILES_CAP, default 640 KiB: converting one picture takes three ffmpeg
# runs, and the later pictures are small).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: bench/corpus.sh BUILD_DIR OUT_DIR" >&2
  exit 2
fi
build=$1
out=$2
cap=${CAP:-2097152}
tiles_cap=${TILES_CAP:-655360}
tiles=$build/bench/kartex_tiles
agent=$build/agent/agent.bin
for f in "$tiles" "$agent"; do
  [ -e "$f" ] || { echo "corpus: $f is missing: build the tree first" >&2; exit 1; }
done
for tool in ffmpeg ffprobe arm-none-eabi-objcopy groff; do
  command -v "$tool" >/dev/null || { echo "corpus: $tool not found: run scripts/install-deps.sh --bench" >&2; exit 1; }
done
for dir in /usr/arm-linux-gnueabi/lib /usr/arm-linux-gnueabihf/lib /usr/share/games/frozen-bubble; do
  [ -d "$dir" ] || { echo "corpus: $dir is missing: run scripts/install-deps.sh --bench" >&2; exit 1; }
done

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first CAP (or $3) bytes of what came in.
cut_to_cap() { head -c "${3:-$cap}" "$1" > "$2"; }
full() { [ -e "$1" ] && [ "$(stat -c %s "$1")" -ge "${2:-$cap}" ]; }

# ---- Code: the .text of shared objects; armel builds ARM code, armhf Thumb-2 ----
text_of() {
  local lib=$1 dest=$2
  for so in "$lib"/libc.so.6 "$lib"/libstdc++.so.6 "$lib"/libm.so.6 "$lib"/ld-linux*.so.3 "$lib"/libgcc_s.so.1 \
            "$lib"/libresolv.so.2 "$lib"/libnss_dns.so.2 "$lib"/libthread_db.so.1; do
    [ -e "$so" ] || continue
    arm-none-eabi-objcopy -O binary -j .text "$so" "$work/one.text"
    cat "$work/one.text" >> "$dest"
  done
}
: > "$work/arm"
cat "$agent" >> "$work/arm"  # our own ARM code first
text_of /usr/arm-linux-gnueabi/lib "$work/arm"
cut_to_cap "$work/arm" "$out/code-arm.bin"
: > "$work/thumb"
text_of /usr/arm-linux-gnueabihf/lib "$work/thumb"
cut_to_cap "$work/thumb" "$out/code-thumb.bin"

# ---- Pictures as 8x8 tiles of 4 and 8 bits a pixel ----
: > "$work/t4"
: > "$work/t8"
# Largest files first (backgrounds, then sprite sheets and icons): each
# conversion then brings more bytes. Ties by name, so the order is fixed.
find /usr/share/games/frozen-bubble/gfx /usr/share/icons/Adwaita/256x256 -name '*.png' -printf '%s %p\n' 2>/dev/null |
  LC_ALL=C sort -k1,1nr -k2 | cut -d' ' -f2- > "$work/pictures"
while read -r png; do
  if full "$work/t4" "$tiles_cap" && full "$work/t8" "$tiles_cap"; then break; fi
  dims=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$png" 2>/dev/null) || continue
  w=${dims%,*}
  h=${dims#*,}
  [[ $w =~ ^[0-9]+$ && $h =~ ^[0-9]+$ ]] || continue
  if [ "$w" -gt 256 ]; then h=$((h * 256 / w)); w=256; fi
  if [ "$h" -gt 256 ]; then w=$((w * 256 / h)); h=256; fi
  w=$((w / 8 * 8))
  h=$((h / 8 * 8))
  [ "$w" -ge 8 ] && [ "$h" -ge 8 ] || continue
  for bpp in 4 8; do
    full "$work/t$bpp" "$tiles_cap" && continue
    colors=$((bpp == 4 ? 16 : 256))
    ffmpeg -v error -y -i "$png" -vf "scale=$w:$h:flags=area,format=rgb24,split[a][b];[a]palettegen=max_colors=$colors:reserve_transparent=0[p];[b][p]paletteuse=dither=none" \
      -frames:v 1 -f rawvideo -pix_fmt pal8 "$work/picture.raw" 2>/dev/null || continue
    "$tiles" "$bpp" "$w" "$h" "$work/picture.raw" >> "$work/t$bpp"
  done
done < "$work/pictures"
cut_to_cap "$work/t4" "$out/tiles4.bin" "$tiles_cap"
cut_to_cap "$work/t8" "$out/tiles8.bin" "$tiles_cap"

# ---- Sound: 8-bit signed mono PCM at 13379 Hz, as the console's direct sound plays it ----
: > "$work/sound"
find /usr/share/games/frozen-bubble/snd /usr/share/sounds/freedesktop/stereo -name '*.og[ga]' 2>/dev/null | LC_ALL=C sort > "$work/sounds"
while read -r clip; do
  full "$work/sound" && break
  ffmpeg -v error -y -i "$clip" -ac 1 -ar 13379 -f s8 "$work/clip.raw" 2>/dev/null || continue
  cat "$work/clip.raw" >> "$work/sound"
done < "$work/sounds"
cut_to_cap "$work/sound" "$out/sound.bin"

# ---- Text: the licence texts and a long manual page, rendered ----
: > "$work/text"
for licence in /usr/share/common-licenses/*; do
  [ -f "$licence" ] && cat "$licence" >> "$work/text"
done
for page in /usr/share/man/man1/ffmpeg-all.1.gz /usr/share/man/man1/groff.1.gz /usr/share/man/man1/cmake.1.gz; do
  [ -e "$page" ] && zcat "$page" | groff -man -Tascii -P-cbou 2>/dev/null >> "$work/text"
done
cut_to_cap "$work/text" "$out/text.bin"

for kind in code-arm code-thumb tiles4 tiles8 sound text; do
  size=$(stat -c %s "$out/$kind.bin")
  [ "$size" -ge 65536 ] || { echo "corpus: $kind has only $size bytes" >&2; exit 1; }
  echo "corpus: $kind.bin $size bytes"
done
