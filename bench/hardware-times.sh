#!/usr/bin/env bash
# How long each command takes on the real cable, console and chips, as the
# simulator's hardware clock gives it: writes docs/hardware-times.md.
#
#   bench/hardware-times.sh [KARTEX_BINARY] [OUTPUT]
#
# Defaults: build/kartex and docs/hardware-times.md. Every figure is
# simulated hardware time (--sim=stats), so it is the same on any machine;
# the run itself takes some minutes of wall time.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
kartex=$(realpath "${1:-$root/build/kartex}")
out=$(realpath -m "${2:-$root/docs/hardware-times.md}")
[ -x "$kartex" ] || { echo "hardware-times: no kartex binary at $kartex (build first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

random_file() {  # NAME BYTES [SEED]: the same pseudo-random bytes on every run
  (set +o pipefail; openssl enc -aes-128-ctr -nosalt -K "6b617274657800${3:-00}" -iv 0 -in /dev/zero 2>/dev/null |
    head -c "$2" >"$1")
}

rows=()

# One command on the kept simulator in DIR: its hardware time, the link's
# share and the effective rate over BYTES. LABEL and CART describe the row.
measure() {
  local label=$1 cart=$2 bytes=$3 dir=$4
  shift 4
  local text line seconds busy
  text=$("$kartex" --sim="state=$dir,stats" "$@" 2>&1) || { echo "hardware-times: '$*' failed:" >&2; echo "$text" >&2; exit 1; }
  line=$(grep '^sim: hardware time' <<<"$text")
  seconds=$(sed -E 's/^sim: hardware time ([0-9.]+) s.*/\1/' <<<"$line")
  busy=$(sed -E 's/.*link busy ([0-9.]+)%.*/\1/' <<<"$line")
  local rate="-"
  if [ "$bytes" -gt 0 ]; then rate=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b / s / 1000 }'); fi
  rows+=("| \`$label\` | $cart | $seconds | $busy | $rate |")
}

# A cartridge in DIR, with the agent already running (a first command has
# uploaded it and identified the cartridge), as for every command after the
# first in a session.
cartridge() {
  local dir=$1
  shift
  rm -rf "$dir"
  local text
  text=$("$kartex" --sim="state=$dir${1:+,$1}" fr warmup.bin 0 4 2>&1) ||
    { echo "hardware-times: setting up $dir ($1) failed:" >&2; echo "$text" >&2; exit 1; }
}

MiB=$((1024 * 1024))
random_file rom32.bin $((32 * MiB))
random_file data16.bin $((16 * MiB))
random_file other16.bin $((16 * MiB)) 01

# The first command of a session: handshake, agent upload, identification.
rm -rf first
measure "fr FILE 0 4" "first command: upload and identification (4 MiB mask ROM)" 0 first fr first.bin 0 4

cartridge mask4
measure "fr FILE" "4 MiB mask ROM" $((4 * MiB)) mask4 fr out.bin
# A game's header (the generated ROM's) in front of pseudo-random bytes.
{ head -c 192 out.bin; tail -c +193 rom32.bin; } >game32.bin
cartridge mask32 "rom=$work/game32.bin"
measure "fr FILE" "32 MiB mask ROM" $((32 * MiB)) mask32 fr out.bin

for chip in 2/18 3/17 8/8896; do
  cartridge "flash$chip" "chip=$chip,size=16"
  measure "fw FILE" "16 MiB, chip=$chip, blank" $((16 * MiB)) "flash$chip" fw data16.bin
done
measure "fw FILE" "16 MiB, chip=3/17, the same file again" $((16 * MiB)) flash3/17 fw data16.bin
measure "fw FILE" "16 MiB, chip=3/17, other data (erase first)" $((16 * MiB)) flash3/17 fw other16.bin
measure "fe" "16 MiB, chip=3/17, written" $((16 * MiB)) flash3/17 fe
# The JEDEC kind: word programs of 11 us, one halfword at a time
head -c $((2 * MiB)) data16.bin >data2.bin
cartridge flash6/22c4 "chip=6/22c4"
measure "fw FILE" "2 MiB, chip=6/22c4, blank" $((2 * MiB)) flash6/22c4 fw data2.bin

for part in sram32k eeprom512 eeprom8k flash64k:1f3d flash64k:bfd4 flash64k:c21c flash64k:321b \
            flash128k:c209 flash128k:6213 sram256k sram1m romsave; do
  case $part in
    sram32k) bytes=32768 ;;
    eeprom512) bytes=512 ;;
    eeprom8k) bytes=8192 ;;
    flash64k*) bytes=65536 ;;
    flash128k*) bytes=131072 ;;
    sram256k) bytes=262144 ;;
    sram1m) bytes=$MiB ;;
    romsave) bytes=$((0xFE000)) ;;  # the save size the tool reports for it
  esac
  case $part in
    sram256k | sram1m) cart="chip=3/17,size=16" ;;
    romsave) cart="chip=3/8802,size=32" ;;
    *) cart="" ;;
  esac
  dir="save-${part/:/-}"
  cartridge "$dir" "${cart:+$cart,}save=$part"
  random_file "save.bin" "$bytes"
  random_file "other.bin" "$bytes" 02
  measure "sw FILE" "save=$part" "$bytes" "$dir" sw save.bin
  measure "sr FILE" "save=$part" "$bytes" "$dir" sr back.bin
  # Only what differs is written: the same file again is the compare alone.
  measure "sw FILE" "save=$part, the same file again" "$bytes" "$dir" sw save.bin
  measure "sw FILE" "save=$part, other data" "$bytes" "$dir" sw other.bin
done

mkdir -p "$(dirname "$out")"
{
  echo "# How long each command takes on the hardware"
  echo
  echo "Simulated hardware time of each command, from the simulator's clock"
  echo "(\`--sim=stats\`): link clock 2 MHz (16 µs a word), USB turn-around 1 ms,"
  echo "the console's CPU at 16.78 MHz with the wait states of the memory it"
  echo "touches, and the chips' typical program and erase times. Every row but"
  echo "the first is a command after the first of a session: the agent already"
  echo "runs. Data is pseudo-random; \`fw\` verifies by default. kB/s is the"
  echo "command's bytes over its whole time."
  echo
  echo "Regenerate: \`bench/hardware-times.sh [build/kartex]\`."
  echo
  echo "| command | cartridge | hardware time (s) | link busy (%) | effective kB/s |"
  echo "|---|---|---:|---:|---:|"
  printf '%s\n' "${rows[@]}"
} >"$out"
echo "wrote $out"
