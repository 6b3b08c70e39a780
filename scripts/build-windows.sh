#!/usr/bin/env bash
# Builds kartex.exe for 64-bit Windows from this tree with Debian's
# mingw-w64 cross compiler: installs what is missing, configures build-windows/
# and builds the tool with the console agent inside (the simulator stays
# out). The result is build-windows/kartex.exe, one file, statically linked.
#   scripts/build-windows.sh          the tool
#   scripts/build-windows.sh --tests  also the tests that run under wine
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(kartex)
tests=OFF
if [ "${1:-}" = "--tests" ]; then
  targets+=(kartex_win_tests kartex_win_clip_tests)
  tests=ON
fi

scripts/install-deps.sh --windows
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKARTEX_TESTS="$tests" -DKARTEX_BENCH=OFF
cmake --build build-windows --target "${targets[@]}"
echo "build-windows: $(pwd)/build-windows/kartex.exe"
