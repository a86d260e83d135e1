#!/usr/bin/env bash
# Installs the Debian packages Tavora needs to build, run and test.
# Fast when everything is already there: only missing packages are installed.
set -euo pipefail

PACKAGES=(
  # build tools
  cmake ninja-build g++ clang pkg-config
  # toolkit
  qt6-base-dev qt6-image-formats-plugins libqt6svg6
  # pictures
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  # scanners
  libsane-dev sane-utils
  # printing
  cups printer-driver-cups-pdf ghostscript
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev xvfb poppler-utils fonts-dejavu-core
  libclang-rt-14-dev
  # djpeg, the reference the thumbnail benchmark is timed against
  libjpeg-turbo-progs
  # the print benchmark compares with ImageMagick's montage
  imagemagick
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
