#!/usr/bin/env bash
# Puts every Debian package the project needs on a Debian 12 machine.
# Idempotent: when everything is present it returns at once without touching apt.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config openssl python3 xauth xvfb
  libcurl4-openssl-dev libcrypto++-dev nlohmann-json3-dev liblodepng-dev libpng-dev
  libmrpt-nanogui-dev libglfw3-dev libeigen3-dev
  libgl-dev libopengl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
  libgtk-3-dev libxtst-dev libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"
