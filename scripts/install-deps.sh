#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages kartex needs to build and test
# that are not installed yet. Run as root (or with sudo available).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  gcc-arm-none-eabi binutils-arm-none-eabi
  libusb-1.0-0-dev
  libunicorn-dev libmgba-dev
  zlib1g-dev libssl-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmpv-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  ffmpeg
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
  SUDO=sudo
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
