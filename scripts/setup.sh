#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: when
# everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake
  g++
  ninja-build
  pkg-config
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  libcli11-dev
  nlohmann-json3-dev
  clang-format
  libpng-dev
  clang
  libclang-rt-14-dev
  python3
  libtbb-dev
  libavformat-dev
  libavcodec-dev
  libavutil-dev
  libswscale-dev
  ffmpeg
  python3-ezdxf
  assimp-utils
  slurmctld
  slurmd
  slurm-client
  munge
  libsdl2-dev
  libimgui-dev
  libgl-dev
  xvfb
  xauth
  xdg-utils
  fonts-dejavu-core
  xdotool
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
