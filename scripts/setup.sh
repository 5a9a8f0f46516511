#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks need.
# Safe to run again: when everything is present it does not touch apt at all.
#   --fuzz (or VELQUIST_FUZZ=1) adds clang with its libFuzzer runtime, for scripts/fuzz.sh only.
set -euo pipefail

fuzz=${VELQUIST_FUZZ:-0}
for arg in "$@"; do
  case $arg in
    --fuzz) fuzz=1 ;;
    *) echo "usage: $0 [--fuzz]" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake pkg-config git ca-certificates
  libsqlite3-dev sqlite3
  libcurl4-openssl-dev libssl-dev openssl
  libjsoncpp-dev libfmt-dev libboost-regex-dev libboost-dev
  libcpp-httplib-dev zlib1g-dev libbrotli-dev
  libgtest-dev
  procps
  qt6-base-dev xvfb x11-apps fonts-wqy-microhei
  # Qt Charts' CMake package needs Qt's OpenGL one, only recommended by qt6-base-dev.
  qt6-charts-dev libqt6opengl6-dev
  liborcus-dev libzip-dev zipcmp zipmerge ziptool zip unzip libfreexl-dev libxlsxwriter-dev
  python3-openpyxl python3-xlwt
)
# The sanitizer runtimes of the test run (libasan, libubsan, libtsan) come with build-essential's
# gcc. Fuzzing needs clang, its runtimes (libFuzzer among them) and llvm-symbolizer.
if [ "$fuzz" = 1 ]; then
  packages+=(clang libclang-rt-14-dev llvm-14)
fi

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
