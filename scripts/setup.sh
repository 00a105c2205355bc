#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages only.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev libgl-dev libx11-dev
  libgtest-dev libgmock-dev
  gzip ncompress dcmtk zlib1g-dev
  xvfb xauth xdotool x11-utils imagemagick at-spi2-core dbus-daemon dbus-bin
  fonts-liberation2 fonts-dejavu-core
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
