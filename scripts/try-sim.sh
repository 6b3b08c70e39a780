#!/usr/bin/env bash
# Sets up and runs the tool against the built-in simulator: installs what is
# missing, builds, and dumps the simulated cartridge's ROM into demo.gba.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build --target kartex
build/kartex --sim fr demo.gba
echo
ls -l demo.gba
