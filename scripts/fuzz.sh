#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for SECONDS (default 60) from
# its seed corpus in fuzz/corpus/, as the fuzz preset's CTest tests (cmake --workflow --preset
# fuzz). Each prints its executions, executions per second and coverage; any crash, broken
# property, leak, time-out or memory exhaustion fails its test and leaves the input in
# build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
    '' | *[!0-9]* | 0) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

scripts/deps.sh fuzz
QLT36_FUZZ_SECONDS=$seconds cmake --workflow --preset fuzz
