#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages kartex needs to build and test
# that are not installed yet. Run as root (or with sudo available).
#   scripts/install-deps.sh            the Linux build and its tests
#   scripts/install-deps.sh --windows  also the Windows cross build
#   scripts/install-deps.sh --wine     also wine, to run the Windows build's tests
#   scripts/install-deps.sh --dev      also ccache, for rebuilds across work trees
#   scripts/install-deps.sh --bench    also what bench/corpus.sh takes its content from
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
  umockdev libumockdev-dev
  libpugixml-dev nlohmann-json3-dev
  help2man bash-completion
  # cpack -G DEB: dpkg-shlibdeps names the libraries the package needs,
  # after file has told it which files are programs.
  dpkg-dev file
)
for option in "$@"; do
  case "$option" in
    # The -posix compiler: the default thread model has no std::thread.
    --windows) PACKAGES+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev) ;;
    # An X server and the GStreamer decoders wine's DirectShow plays through.
    --wine) PACKAGES+=(wine wine64 xvfb xauth gstreamer1.0-plugins-good gstreamer1.0-libav) ;;
    --dev) PACKAGES+=(ccache) ;;
    # The dump-compression corpus: ARM and Thumb-2 shared objects, a game's
    # pictures and sounds, a sound theme, icons, and groff for manual pages.
    --bench) PACKAGES+=(libc6-armel-cross libc6-armhf-cross libstdc++6-armel-cross libstdc++6-armhf-cross
                        frozen-bubble-data sound-theme-freedesktop adwaita-icon-theme groff-base) ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done

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
