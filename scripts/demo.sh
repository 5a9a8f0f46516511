#!/usr/bin/env bash
# The offline demo: the search stand-in on loopback, a fresh data folder under the build tree,
# demo sites and keywords, then a natural and a paid query whose ranks arrive live.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELQUIST_BUILD_DIR:-build}
data="$build/demo-data"
rm -rf "$data"
mkdir -p "$data"

portfile="$data/standin.port"
# With a display the window follows the command-line demo and may stay open a while.
lifetime=300
if [ -n "${DISPLAY:-}" ] && [ -x "$build/app/Morvane" ]; then lifetime=7200; fi
"$build/tools/velquist-search-standin" --port 0 --world tools/demo_world.json \
  --lifetime "$lifetime" --port-file "$portfile" >"$data/standin.log" 2>&1 &
standin=$!
trap 'kill $standin 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -s "$portfile" ] && break; sleep 0.1; done
port=$(cat "$portfile")

# No vendor service runs in the demo: the user-agent exchange is refused at once on a closed
# loopback port and the built-in browser identity is used.
v() { "$build/cli/velquist" --data-dir "$data" --search-host "127.0.0.1:$port" \
        --ua-host 127.0.0.1:9 --http-timeout 20 "$@"; }

echo "== search stand-in on 127.0.0.1:$port; data folder $data"
echo "== sites"
v sites add www.velquist-demo.com
v sites add shop.example-flowers.cn
v sites list
echo "== natural keywords"
printf '%s\n' 鲜花速递 办公家具 "玫瑰花 批发" "velquist demo" "wedding flowers" | v keywords add -
v settings pages 3
echo "== paid keywords (plan 春季推广, unit 鲜花)"
v keywords add --paid --plan 春季推广 --unit 鲜花 鲜花速递 "玫瑰花 批发"
v keywords add --paid --plan 春季推广 --unit 家具 办公家具
v tree
echo "== natural query"
v query natural --all
echo "== paid query"
v query paid --all
echo "== stored natural results"
v keywords list

# With a display, the desktop window opens on the same data, its searches going to the
# stand-in. Morvane looks for its skins in the current folder, as when installed.
if [ -n "${DISPLAY:-}" ] && [ -x "$build/app/Morvane" ]; then
  echo "== opening the window (close it to end the demo)"
  data_abs=$(cd "$data" && pwd)
  (cd "$build/app" && VELQUIST_SEARCH_HOST="127.0.0.1:$port" VELQUIST_UA_HOST=127.0.0.1:9 \
    ./Morvane --data-dir "$data_abs")
fi
