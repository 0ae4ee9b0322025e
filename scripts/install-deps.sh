#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Tarnwick need.
# Quick when everything is already present: only missing packages are installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev libgl-dev
  libinsighttoolkit5-dev libfftw3-dev libgdcm-tools
  libdcmtk-dev dcmtk libopenjp2-7-dev libopenjp2-tools grokj2k-tools
  libtorch-dev
  libtbb-dev zlib1g-dev libnifti2-dev libeigen3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth fonts-dejavu-core imagemagick
  # More fonts than the program needs: the tests show that the fonts a machine has change no result.
  fonts-noto-core fonts-liberation2
  python3 python3-numpy python3-nibabel python3-pydicom python3-scipy python3-dipy python3-skimage python3-sklearn
  dcm2niix pigz gzip
  libmatio-dev
  mricron-data elastix
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
