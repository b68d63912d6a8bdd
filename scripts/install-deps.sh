#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail
PKGS=(cmake g++ make pkg-config binutils
      rapidjson-dev portaudio19-dev libsndfile1-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      libfftw3-dev libsoxr-dev libspeexdsp-dev tzdata pulseaudio pulseaudio-utils libasound2-plugins
      libxml2-utils clang-14 libclang-rt-14-dev espeak-ng sox parallel)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
