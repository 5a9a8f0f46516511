#!/usr/bin/env bash
# The vendor service on loopback with a demo account, for the offline demo and the window.
#
#   source scripts/service.sh
#   start_vendor_service SERVICE_DATA CLIENT_DATA [LIFETIME_SECONDS]
#
# starts velquist-service in the background on 127.0.0.1 and a free port, adds the demo account
# when it is missing, writes CLIENT_DATA/velquist.ini so that the program's vendor hosts point at
# the service, and prints the address and the demo account's name and password. It sets
# VELQUIST_SERVICE_PID and VELQUIST_SERVICE_HOST; the caller stops the service.
#
# Run directly (bash scripts/service.sh [SERVICE_DATA [CLIENT_DATA [LIFETIME]]]) it does the same
# and keeps the service in the foreground until Ctrl-C or the lifetime ends.

VELQUIST_DEMO_USER=demo
VELQUIST_DEMO_PASSWORD=demo1234

start_vendor_service() {
  local service_data=$1 client_data=$2 lifetime=${3:-3600}
  local program="${VELQUIST_BUILD_DIR:-build}/server/velquist-service"
  mkdir -p "$service_data" "$client_data"
  if ! "$program" --data "$service_data" account list --format tsv | cut -f1 |
    grep -qxF "$VELQUIST_DEMO_USER"; then
    "$program" --data "$service_data" account add "$VELQUIST_DEMO_USER" \
      "$VELQUIST_DEMO_PASSWORD" --truename 演示用户 --company "Velquist 演示" >/dev/null
  fi
  local portfile="$service_data/service.port"
  rm -f "$portfile"
  "$program" serve --data "$service_data" --port 0 --port-file "$portfile" \
    --lifetime "$lifetime" >>"$service_data/service.log" 2>&1 &
  VELQUIST_SERVICE_PID=$!
  for _ in $(seq 1 100); do [ -s "$portfile" ] && break; sleep 0.1; done
  if [ ! -s "$portfile" ]; then
    echo "the vendor service did not start; see $service_data/service.log" >&2
    return 1
  fi
  VELQUIST_SERVICE_HOST="127.0.0.1:$(cat "$portfile")"
  cat >"$client_data/velquist.ini" <<EOF
[hosts]
account_host = $VELQUIST_SERVICE_HOST
statistics_host = $VELQUIST_SERVICE_HOST
report_host = $VELQUIST_SERVICE_HOST
ua_host = $VELQUIST_SERVICE_HOST
download_host = $VELQUIST_SERVICE_HOST
EOF
  echo "== vendor service on http://$VELQUIST_SERVICE_HOST (data folder $service_data)"
  echo "== demo account: $VELQUIST_DEMO_USER   password: $VELQUIST_DEMO_PASSWORD"
  echo "== new accounts: http://$VELQUIST_SERVICE_HOST/index.php?act=register"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  cd "$(dirname "$0")/.."
  build=${VELQUIST_BUILD_DIR:-build}
  start_vendor_service "${1:-$build/service-data}" "${2:-$build/demo-data}" "${3:-3600}"
  trap 'kill "$VELQUIST_SERVICE_PID" 2>/dev/null || true' EXIT INT TERM
  echo "== Ctrl-C stops it"
  wait "$VELQUIST_SERVICE_PID"
fi
