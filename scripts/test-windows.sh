#!/usr/bin/env bash
# Builds kartex.exe and the Windows tests with mingw-w64 and runs them under
# wine in a temporary prefix: the banner and usage, --help, the no-cable
# line through the real SetupAPI search, --sim refused, the transport's
# tests against named pipes, and the video frame source refusing files that
# DirectShow cannot play (vts itself stops at the missing cable first).
# Every wine run is bounded by `timeout`.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wine
scripts/build-windows.sh --tests

prefix=$(mktemp -d "${TMPDIR:-/tmp}/kartex-wine.XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/kartex-win-run.XXXXXX")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix" "$work"
}
trap cleanup EXIT

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

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
