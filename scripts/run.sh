#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the offline demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
bash scripts/demo.sh
