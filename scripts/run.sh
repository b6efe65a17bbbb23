#!/usr/bin/env bash
# Installs what is missing, builds, starts the device simulator on loopback and the tool pointed
# at it. Without a display, a virtual one is used: a short demo (a "Read" against the simulator)
# runs and its screenshots are saved; their paths are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/deps.sh run
cmake --preset release >/dev/null
cmake --build --preset release

tool_dir="$root/build/release/src"
tool="$tool_dir/ql-t36"
sim="$root/build/release/sim/ql-t36-sim"
shots="$root/screenshots"
source scripts/lib/session.sh

# The simulator on loopback, on a port it picks itself.
start_simulator "$root/build/release/simulator.log" "$sim"
port=$SIM_PORT
echo "Simulator listening on 127.0.0.1:$port (log: build/release/simulator.log)"

# The tool reads its settings from the folder it lives in.
printf '[LAN]\r\nADR=127.0.0.1\r\nPORT=%s\r\n' "$port" > "$tool_dir/QL_T36.ini"
echo "Settings: $tool_dir/QL_T36.ini -> 127.0.0.1:$port"

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting the tool; close its main window to end."
    "$tool"
    exit 0
fi

# No display: a virtual one, a short demo, screenshots.
start_display 1024x768x24

"$tool" > "$root/build/release/tool.log" 2>&1 &
session_track $!
mkdir -p "$shots"
main=$(timeout 15 xdotool search --sync --onlyvisible --name '^\[QL-T36\] IP Address <Version 2.00>$' | head -n1)
sleep 0.5
import -window "$main" "$shots/demo-1-started.png"

# "Read": the five addresses come back from the simulator.
xdotool mousemove --window "$main" 320 204 click 1
sleep 1.5
import -window "$main" "$shots/demo-2-read.png"

# The hidden gesture: Shift and Ctrl held, a click on the window's surface.
xdotool mousemove --window "$main" 500 110 keydown shift keydown ctrl click 1 keyup ctrl keyup shift
sleep 1
lan=$(timeout 5 xdotool search --sync --onlyvisible --name '^LAN$' | head -n1 || true)
[ -n "$lan" ] && import -window "$lan" "$shots/demo-3-lan.png"

# "Firmware Update", then its "Read" for the firmware version.
xdotool mousemove --window "$main" 490 32 click 1
sleep 1
update=$(timeout 5 xdotool search --sync --onlyvisible --name '^\[QL-T36\] Update$' | head -n1 || true)
if [ -n "$update" ]; then
    xdotool mousemove --window "$update" 384 244 click 1
    sleep 1.5
    import -window "$update" "$shots/demo-4-version.png"
fi

echo "The tool ran against the simulator on a virtual display. Screenshots:"
ls -1 "$shots"/demo-*.png | sed 's/^/  /'
echo "Simulator traffic:"
sed 's/^/  /' "$root/build/release/simulator.log" | tail -n 20
