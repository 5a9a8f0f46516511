#!/usr/bin/env bash
# An update from start to end, on loopback: builds version 1.0.2.3 of the programs into
# build-update/, packs it, publishes it on a vendor service, installs 1.0.2.2 (build/) into a
# program folder of its own, and lets it update itself.
#   With a display: Morvane starts, finds 1.0.2.3, shows its download, hands over to Tallowin
#   and ends; Tallowin installs the package and starts the new Morvane, whose status bar reads
#   "当前版本：1.0.2.3" (log in with the demo account; close it to end the demo).
#   Without one: `velquist update` downloads the package and Tallowin installs it.
# Everything lives under build/update-demo; the user's own data folder is not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELQUIST_BUILD_DIR:-build}
root=$(pwd)
demo="$root/$build/update-demo"
program="$demo/program"
data="$demo/data"
package="$demo/Velquist_1.0.2.3.zip"
new_build="$root/$build-update"

bash scripts/setup.sh
bash scripts/build.sh
echo "== building version 1.0.2.3 into $new_build"
cmake -S . -B "$new_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUIST_VERSION_TEXT=1.0.2.3 \
  -DVELQUIST_BUILD_TESTS=OFF -DVELQUIST_BUILD_BENCH=OFF >/dev/null
cmake --build "$new_build" -j"$(nproc)" --target Morvane Tallowin

rm -rf "$demo"
mkdir -p "$program" "$data"
# The installed program: what build/app holds, as an install folder would.
cp -r "$build/app/Morvane" "$build/app/Tallowin" "$build/app/skin" "$build/app/360_skin" "$program/"
(cd "$new_build/app" && zip -qr "$package" Morvane Tallowin skin 360_skin)
echo "== installed $("$program/Morvane" --version) in $program"
echo "== package of $("$new_build/app/Morvane" --version): $package"

source scripts/service.sh
VELQUIST_SERVICE_PID=
trap 'kill $VELQUIST_SERVICE_PID 2>/dev/null || true' EXIT
start_vendor_service "$demo/service" "$data" 3600
"$build/server/velquist-service" --data "$demo/service" publish 1.0.2.3 "$package" \
  --appname "Zanquil关键词排名查询软件"

if [ -n "${DISPLAY:-}" ]; then
  echo "== starting Morvane 1.0.2.2: it downloads 1.0.2.3 and hands over to Tallowin"
  (cd "$program" && ./Morvane --data-dir "$data")
  # Tallowin installs, then starts the new Morvane; the service stays up while either runs.
  while pgrep -x Tallowin >/dev/null || pgrep -f "^$program/Morvane" >/dev/null; do sleep 1; done
else
  echo "== no display: the command line downloads 1.0.2.3, Tallowin installs it"
  "$build/cli/velquist" --data-dir "$data" update
  # Tallowin's messages go to stderr; the Morvane it starts at the end needs a display and
  # ends at once without one.
  (cd "$program" && ./Tallowin --data-dir "$data") || true
fi
echo "== the program folder now holds $("$program/Morvane" --version)"
