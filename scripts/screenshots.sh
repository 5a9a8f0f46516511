#!/usr/bin/env bash
# Pictures of the desktop window: starts Morvane under Xvfb on a fresh demo data folder and
# saves a PNG of each page (at 1280 x 800 and maximised) and of each small dialog into
# build/screenshots/. Builds Morvane and the command line first when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELQUIST_BUILD_DIR:-build}
root=$(pwd)
shots="$root/$build/screenshots"
data="$root/$build/screenshot-data"

if [ ! -x "$build/app/Morvane" ] || [ ! -x "$build/cli/velquist" ]; then
  bash scripts/setup.sh
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target Morvane velquist
fi

rm -rf "$data" "$shots"
mkdir -p "$data" "$shots"
v() { "$build/cli/velquist" --data-dir "$data" --ua-host 127.0.0.1:9 "$@" >/dev/null; }
v sites add www.velquist-demo.com
v sites add shop.example-flowers.cn
printf '%s\n' 鲜花速递 办公家具 "玫瑰花 批发" "velquist demo" "wedding flowers" | v keywords add -
v keywords add --paid --plan 春季推广 --unit 鲜花 鲜花速递 "玫瑰花 批发"
v keywords add --paid --plan 春季推广 --unit 家具 办公家具

# A private X display; the screen is larger than 1280 x 800 so both sizes can be shown.
export XDG_RUNTIME_DIR
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >"$data/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$XDG_RUNTIME_DIR"' EXIT
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# Morvane looks for its skins in the current folder, as it does when installed.
(cd "$build/app" && DISPLAY=$display QT_QPA_PLATFORM=xcb \
  ./Morvane --data-dir "$data" --screenshot-dir "$shots")
echo "screenshots in $shots:"
ls "$shots"
