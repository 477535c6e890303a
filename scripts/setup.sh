#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run its demo.
# Idempotent: only missing packages are installed, and the package lists are updated once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  libcurl4-openssl-dev libssl-dev openssl ca-certificates
  libzip-dev libsodium-dev libutfcpp-dev
  nginx curl wget zip unzip libarchive-tools time bc python3
  xvfb xdotool imagemagick x11-utils
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
