#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need.
# Skips apt entirely when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config python3
  zlib1g-dev libplist-dev libutf8proc-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  libsndfile1-dev libsamplerate0-dev librtaudio-dev libasound2-dev
  jackd2 libjack-jackd2-dev sox libsox-fmt-all midicsv
  attr librsvg2-bin
  libarchive-dev libpugixml-dev hydrogen-data
  qt6-base-dev qt6-svg-dev qt6-image-formats-plugins qt6-qpa-plugins libgl-dev
  xvfb xauth xdotool xclip imagemagick fonts-dejavu-core x11-utils
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
