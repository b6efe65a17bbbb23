#!/usr/bin/env bash
# The Windows lane: cross-builds every program, suite and benchmark with MinGW-w64 against the
# Qt archive in ../shared/windows (or the Qt folder that QLT36_QT_WINDOWS names; preset
# "windows"), runs every suite and the portable ZIP's smoke test under Wine on a virtual display
# of its own, makes the ZIP and runs bench_download under Wine. Prints each step's and the lane's
# wall time. The smoke test flashes into the Linux simulator of build/dev, made here if missing.
#
# Wine runs in the prefix build/wine with one wine server for the whole lane, ended at the end
# together with the display; everything talks to loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."

lane_start=$SECONDS
scripts/deps.sh windows
step() { printf '\n==== %s ====\n' "$*"; }
took() { printf '%s: %d s\n' "$1" "$((SECONDS - $2))"; }

if [ ! -x build/dev/sim/ql-t36-sim ]; then
    step "Linux simulator for the smoke test"
    cmake --preset dev > /dev/null
    cmake --build --preset dev -j2 --target ql-t36-sim
fi

export WINEPREFIX=$PWD/build/wine
export WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
source scripts/lib/session.sh
cleanup() {
    # This prefix's server and the programs still running in it; then the display by its PID.
    "$wineserver" -k 2> /dev/null || true
    session_cleanup
}
trap cleanup EXIT

step "Wine and a virtual display"
start_display 1280x1024x24
# First the server, so that every program of the lane, the prefix's making included, uses it;
# one that runs already (persistent, left by hand) serves as well.
mkdir -p "$WINEPREFIX"
"$wineserver" -p || true
scripts/wine-run.sh --prepare
echo "display $DISPLAY, prefix $WINEPREFIX"

step "Cross-build (preset windows)"
start=$SECONDS
cmake --preset windows
cmake --build --preset windows
took "Build" "$start"

step "Every suite and the ZIP smoke test under Wine"
start=$SECONDS
ctest --preset windows
took "Suites under Wine" "$start"

step "The portable ZIP"
cpack --preset windows-zip
ls -l build/windows/ql-t36-*-win64.zip

step "Download benchmark under Wine (Wine's figures, not Windows's)"
QT_QPA_PLATFORM=windows scripts/wine-run.sh build/windows/bench_download.exe

took "Windows lane" "$lane_start"
