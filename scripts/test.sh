#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs the whole suite, then the sanitizer
# runs (scripts/sanitize.sh: ASan+UBSan over every test, TSan over the query-run tests).
# VELQUIST_SKIP_SANITIZERS=1 leaves the sanitizer runs out, for quick local runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
build=${VELQUIST_BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
if [ "${VELQUIST_SKIP_SANITIZERS:-0}" = 1 ]; then
  echo "== sanitizer runs skipped (VELQUIST_SKIP_SANITIZERS=1)"
else
  start=$(date +%s)
  bash scripts/sanitize.sh
  echo "== sanitizer runs took $(($(date +%s) - start)) s"
fi
