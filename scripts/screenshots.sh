#!/usr/bin/env bash
# Regenerates the README's pictures of the four windows from the real window code, driven
# against the simulator on loopback, on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh run
cmake --preset dev >/dev/null
cmake --build --preset dev --target window_shots
source scripts/lib/session.sh
start_display 1280x1024x24
build/dev/tools/window_shots docs/images
