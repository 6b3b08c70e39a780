#!/usr/bin/env bash
# Builds kartex.exe and the Windows tests with mingw-w64 and runs them under
# wine in a temporary prefix: the banner and usage, --help, the no-cable
# line through the real SetupAPI search, --sim refused, the transport's
# tests against named pipes, the video frame source refusing files that
# DirectShow cannot play (vts itself stops at the missing cable first), and
# the frame source on clips that play, made here by ffmpeg, against
# ffmpeg's own decode. The video windows need an X server: without DISPLAY
# one is started with Xvfb for the run. Every wine run is bounded by
# `timeout`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wine
scripts/build-windows.sh --tests

prefix=$(mktemp -d "${TMPDIR:-/tmp}/kartex-wine.XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/kartex-win-run.XXXXXX")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$prefix" "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  # Xvfb picks a free display and writes its number once it accepts
  # clients.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  display=""
  for _ in $(seq 100); do
    display=$(tr -dc 0-9 <"$work/display")
    [ -n "$display" ] && break
    sleep 0.2
  done
  if [ -z "$display" ]; then
    echo "test-windows: Xvfb did not start: $(cat "$work/xvfb.log")" >&2
    exit 1
  fi
  export DISPLAY=":$display"
fi

root=$(pwd)
exe="$root/build-windows/kartex.exe"
passed=0
failed=0
BANNER='*********** TETHERBOX USB CONSOLE TOOL Ver 3.54 + RTC + VTS ************'

# check NAME WANT_STATUS WANT_STDOUT ARGS...: runs kartex.exe
# under wine in $work and compares its status and (line ends made Unix)
# standard output with the expected text, which is matched whole.
check() {
  local name=$1 want_status=$2 want=$3
  shift 3
  local status=0
  (cd "$work" && timeout 60 wine "$exe" "$@" >out.txt 2>err.txt) || status=$?
  tr -d '\r' <"$work/out.txt" >"$work/out.unix"
  if [ "$status" -eq "$want_status" ] && printf '%s' "$want" | cmp -s - "$work/out.unix"; then
    passed=$((passed + 1))
    echo "wine: ok   $name"
  else
    failed=$((failed + 1))
    echo "wine: FAIL $name (status $status, wanted $want_status); standard output:"
    cat "$work/out.unix"
    echo "standard error:"
    tr -d '\r' <"$work/err.txt"
  fi
}

USAGE="FLASH READ ------- kartex fr file_name [start_offset len(?? ??k ??m)]
FLASH WRITE ------ kartex fw file_name [start_offset len(?? ??k ??m)]
FLASH APEND ------ kartex fa file_name
FLASH ALL ERASE -- kartex fe
SAVE READ -------- kartex sr file_name [start_offset len(?? ??k ??m)]
SAVE WRITE ------- kartex sw file_name [start_offset len(?? ??k ??m)]
RTC LOAD & GO ---- kartex rtc rtc_pgm_file
VTS GO ----------- kartex vts avi_file
VTS GO ----------- kartex avi_file
"

# The first run also creates the prefix (several seconds).
check "banner and usage" 255 "$BANNER
$USAGE"
check "no cable: the tool's line" 255 "$BANNER
Error can't found Tetherbox USB !!.
" fr dump.bin
if [ -e "$work/dump.bin" ] || [ -e "$work/dump.bin.kartex-part" ]; then
  failed=$((failed + 1)); echo "wine: FAIL no cable left a dump file behind"
else
  passed=$((passed + 1)); echo "wine: ok   no cable leaves no dump file"
fi
check "--sim says the build has none" 255 "$BANNER
" --sim fr dump.bin
if grep -q "has no simulator" "$work/err.txt"; then
  passed=$((passed + 1)); echo "wine: ok   --sim message"
else
  failed=$((failed + 1)); echo "wine: FAIL --sim message: $(cat "$work/err.txt")"
fi
status=0
(cd "$work" && timeout 60 wine "$exe" --help >out.txt 2>err.txt) || status=$?
if [ "$status" -eq 0 ] && tr -d '\r' <"$work/out.txt" | grep -q -- "--timeout SECONDS"; then
  passed=$((passed + 1)); echo "wine: ok   --help"
else
  failed=$((failed + 1)); echo "wine: FAIL --help (status $status)"; cat "$work/out.txt"
fi

# The transport's tests against named pipes standing in for the driver,
# and the DirectShow frame source's failures.
status=0
(cd "$work" && timeout 120 wine "$root/build-windows/tests/kartex_win_tests.exe" --gtest_brief=1) || status=$?
if [ "$status" -eq 0 ]; then
  passed=$((passed + 1)); echo "wine: ok   kartex_win_tests"
else
  failed=$((failed + 1)); echo "wine: FAIL kartex_win_tests (status $status)"
fi

# Clips that play, three seconds of a moving test picture at 25 frames a
# second: uncompressed, MJPEG (every frame a key frame) and H.264 with a
# key frame a second. Beside each, ffmpeg's decode of every frame, top-down
# BGR, which the grabs are compared with.
clips="$work/clips"
mkdir -p "$clips"
: >"$clips/clips.txt"
make_clip() {
  local name=$1 key=$2 exact=$3
  shift 3
  ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25 -t 3 "$@" "$clips/$name"
  ffmpeg -v error -i "$clips/$name" -f rawvideo -pix_fmt bgr24 "$clips/$name.bgr"
  local frames=$(($(stat -c %s "$clips/$name.bgr") / (160 * 120 * 3)))
  echo "$name 160 120 $frames 25 $key $exact" >>"$clips/clips.txt"
}
make_clip raw.avi 1 1 -c:v rawvideo -pix_fmt bgr24
make_clip mjpeg.avi 1 0 -c:v mjpeg -q:v 2
make_clip h264.mp4 25 0 -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -bf 0

status=0
(cd "$work" && KARTEX_CLIPS="$(winepath -w "$clips")" timeout 120 \
  wine "$root/build-windows/tests/kartex_win_clip_tests.exe" --gtest_brief=1) || status=$?
if [ "$status" -eq 0 ]; then
  passed=$((passed + 1)); echo "wine: ok   kartex_win_clip_tests"
else
  failed=$((failed + 1)); echo "wine: FAIL kartex_win_clip_tests (status $status)"
fi

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
