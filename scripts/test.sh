#!/usr/bin/env bash
# Sets up and runs every test from a fresh machine: installs what is
# missing, builds (the tool, the console agent, the tests) and runs CTest.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
# The normal build also makes the Debian package (build/kartex_VERSION_ARCH.deb)
# and lists what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  # Optimised: the simulator runs millions of guest instructions per test,
  # which an unoptimised build makes many times slower.
  # The benchmarks are built (and so compile-checked) by the normal build.
  flags=(-DKARTEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARTEX_BENCH=OFF)
fi

scripts/install-deps.sh
# Each stage says how long it took, so that a slow CI run shows where.
started=$SECONDS
cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir"
echo "test.sh: $dir built in $((SECONDS - started)) s"
started=$SECONDS
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
echo "test.sh: $dir tests ran in $((SECONDS - started)) s"
if [ "$dir" = build ]; then
  (cd "$dir" && rm -f kartex_*.deb && cpack -G DEB >/dev/null)
  dpkg -c "$dir"/kartex_*.deb
fi
