#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks need.
# Safe to run again: when everything is present it does not touch apt at all.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates
  libsqlite3-dev sqlite3
  libcurl4-openssl-dev libssl-dev openssl
  libjsoncpp-dev libfmt-dev libboost-regex-dev libboost-dev
  libcpp-httplib-dev zlib1g-dev libbrotli-dev
  libgtest-dev
  procps
  qt6-base-dev xvfb x11-apps fonts-wqy-microhei
  liborcus-dev libzip-dev libfreexl-dev libxlsxwriter-dev python3-openpyxl python3-xlwt
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
