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
VELQUIST_SERVICE_PID=
trap 'kill $standin $VELQUIST_SERVICE_PID 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -s "$portfile" ] && break; sleep 0.1; done
port=$(cat "$portfile")

# The vendor service on loopback, with the demo account: logins, feedback, usage reports and
# the user-agent exchange work offline. It writes velquist.ini into the data folder.
source scripts/service.sh
start_vendor_service "$build/service-data" "$data" "$lifetime"

v() { "$build/cli/velquist" --data-dir "$data" --search-host "127.0.0.1:$port" \
        --http-timeout 20 "$@"; }

echo "== search stand-in on 127.0.0.1:$port; data folder $data"
echo "== login with the demo account (command-line queries need none)"
printf '%s\n' "$VELQUIST_DEMO_PASSWORD" |
  v login --user "$VELQUIST_DEMO_USER" --password-stdin --remember --auto
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

# Some demo keywords move between runs of the stand-in. With a display the window's runs show it
# (change marks, 排名历史); without one a second run here does.
if [ -z "${DISPLAY:-}" ] || [ ! -x "$build/app/Morvane" ]; then
  echo "== natural query again, then what moved since the last check"
  v query natural --all
  v history changes
fi

# With a display, the desktop window opens on the same data, its searches going to the
# stand-in. Morvane looks for its skins in the current folder, as when installed.
if [ -n "${DISPLAY:-}" ] && [ -x "$build/app/Morvane" ]; then
  echo "== opening the window (close it to end the demo)"
  data_abs=$(cd "$data" && pwd)
  (cd "$build/app" && VELQUIST_SEARCH_HOST="127.0.0.1:$port" ./Morvane --data-dir "$data_abs")
fi
