#!/usr/bin/env bash
# Regenerates the README's pictures of the four windows from the real window code, driven
# against the simulator on loopback, on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh run
cmake --preset dev >/dev/null
cmake --build --preset dev --target window_shots
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" build/dev/tools/window_shots docs/images
