#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
build=${VELQUIST_BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
