#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running dmmview need.
# Does nothing when they are all present already. `deps.sh --list` prints the list only.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev libxkbcommon-dev
  pxlib-dev
  libbenchmark-dev
  fonts-liberation fonts-dejavu-core
  xvfb xauth imagemagick xdotool poppler-utils
  dpkg-dev file
  clang-14 libclang-rt-14-dev
  ccache clang-format
  libmosquitto-dev mosquitto openssl libssl-dev
  rapidjson-dev
  libxlsxwriter-dev python3-openpyxl
  libboost-dev qt6-websockets-dev chromium prometheus python3-pyvisa-py
  locales
)

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
