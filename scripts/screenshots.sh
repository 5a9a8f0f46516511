#!/usr/bin/env bash
# Pictures of the desktop window: starts Morvane under Xvfb on a fresh demo data folder and
# saves a PNG of each page (at 1280 x 800 and maximised), of both ranking pages in the middle of
# a run against the search stand-in, and of each small dialog into build/screenshots/. Builds
# Morvane, the command line and the stand-in first when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELQUIST_BUILD_DIR:-build}
root=$(pwd)
shots="$root/$build/screenshots"
data="$root/$build/screenshot-data"

if [ ! -x "$build/app/Morvane" ] || [ ! -x "$build/cli/velquist" ] ||
   [ ! -x "$build/tools/velquist-search-standin" ]; then
  bash scripts/setup.sh
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target Morvane velquist velquist-search-standin
fi

rm -rf "$data" "$shots"
mkdir -p "$data" "$shots"
v() { "$build/cli/velquist" --data-dir "$data" --ua-host 127.0.0.1:9 "$@" >/dev/null; }
v sites add www.velquist-demo.com
v sites add shop.example-flowers.cn
printf '%s\n' 鲜花速递 办公家具 "玫瑰花 批发" "velquist demo" "wedding flowers" | v keywords add -
v keywords add --paid --plan 春季推广 --unit 鲜花 鲜花速递 "玫瑰花 批发"
v keywords add --paid --plan 春季推广 --unit 家具 办公家具

# The stand-in answers the runs of the pictures: two keywords at once, the others slowly, so
# each picture shows ranks that have arrived next to keywords still being queried. The first two
# keywords move from the pictures' first pair of runs (natural, paid) to the second, so the
# second natural picture shows the change marks.
cat >"$data/world.json" <<'WORLD'
{
  "planted_sites": ["www.velquist-demo.com", "shop.example-flowers.cn"],
  "keywords": {
    "鲜花速递": {"pages": [["a.example.com", "www.velquist-demo.com/flowers", "shop.example-flowers.cn/"]],
                 "ads": {"top": ["www.velquist-demo.com"], "right": ["b.example.com", "shop.example-flowers.cn"]},
                 "later_checks": [{}, {"pages": [["www.velquist-demo.com/flowers", "a.example.com", "b.example.com",
                                                  "c.example.com", "shop.example-flowers.cn/"]]}, {}]},
    "办公家具": {"pages": [10, ["c.example.com", "www.velquist-demo.com/office"]],
                 "ads": {"right": ["shop.example-flowers.cn"]},
                 "later_checks": [{}, {"pages": [10, 10, ["c.example.com", "d.example.com", "www.velquist-demo.com/office"]]}, {}]},
    "玫瑰花 批发": {"pages": [["d.example.com"]], "delay_ms": 4000},
    "velquist demo": {"pages": [["e.example.com"]], "delay_ms": 4000},
    "wedding flowers": {"pages": [["f.example.com"]], "delay_ms": 4000}
  }
}
WORLD
"$build/tools/velquist-search-standin" --port 0 --world "$data/world.json" --lifetime 600 \
  --port-file "$data/standin.port" >"$data/standin.log" 2>&1 &
standin=$!
trap 'kill $standin 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -s "$data/standin.port" ] && break; sleep 0.1; done
port=$(cat "$data/standin.port")

# A private X display; the screen is larger than 1280 x 800 so both sizes can be shown.
export XDG_RUNTIME_DIR
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >"$data/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb $standin 2>/dev/null || true; rm -rf "$XDG_RUNTIME_DIR"' EXIT
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# Morvane looks for its skins in the current folder, as it does when installed.
(cd "$build/app" && DISPLAY=$display QT_QPA_PLATFORM=xcb \
  VELQUIST_SEARCH_HOST="127.0.0.1:$port" VELQUIST_UA_HOST=127.0.0.1:9 \
  ./Morvane --data-dir "$data" --screenshot-dir "$shots")
echo "screenshots in $shots:"
ls "$shots"
