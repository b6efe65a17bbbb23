#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (headless, loopback only).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test
cmake --workflow --preset dev
