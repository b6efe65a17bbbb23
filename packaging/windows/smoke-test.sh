#!/usr/bin/env bash
# Smoke test of the portable ZIP, under Wine. From a configured and built Windows tree it makes
# the ZIP with CPack, unpacks it into a folder whose name has blanks and accented letters, and
# checks that it holds one folder with exactly the programs, settings, notes and DLLs it should
# (each DLL loaded by a program or plugin, each program with its icon and version information,
# the text files with CR LF line ends). Then, with WINEPATH unset so that only the folder's own
# DLLs can be loaded, and only after the unpacked QL_T36.ini names a simulator on 127.0.0.1:
#   - ql-t36-sim.exe from the folder listens on loopback;
#   - ql-t36.exe shows its main window with the exact title on the X display; its "Read" reaches
#     the simulator, and its "Send" then sends back what "Read" put into the fields;
#   - ql-t36-cli.exe reads the version through the folder's QL_T36.ini, and flashes a small image
#     into the Linux simulator: the tool's trace, the simulator and gzip agree on its CRC-32.
#
# Usage: packaging/windows/smoke-test.sh <windows-build-dir> <linux-ql-t36-sim>
#
# A display comes from DISPLAY (scripts/windows.sh starts one) or from an Xvfb of its own.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 <windows-build-dir> <linux-ql-t36-sim>" >&2; exit 2; }
build=$(realpath "$1")
linux_simulator=$(realpath "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
loader=/usr/lib/wine/wine64
title_pattern='^\[QL-T36\] IP Address <Version 2\.00>$'
addresses=127.0.0.2,127.0.0.3,255.0.0.0,127.0.0.4,239.1.2.3

step() { printf '\n== %s\n' "$*"; }
ok() { printf '   ok: %s\n' "$*"; }
fail() {
    printf '   FAIL: %s\n' "$*" >&2
    exit 1
}

for command in cpack xdotool x86_64-w64-mingw32-objdump strings gzip "$loader"; do
    command -v "$command" > /dev/null || fail "'$command' is missing (scripts/deps.sh windows)"
done
[ -x "$linux_simulator" ] || fail "no Linux simulator at $linux_simulator (build the preset dev)"
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build tree"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ql-t36-zip-smoke.XXXXXX")
source "$root/scripts/lib/session.sh"
cleanup() {
    session_cleanup
    rm -rf "$scratch"
}
trap cleanup EXIT

windows_path() { local path; path=$(realpath "$1"); printf 'Z:%s' "${path//\//\\}"; }

if [ -z "${DISPLAY:-}" ]; then
    start_display 1280x1024x24 || fail "Xvfb did not start"
fi
export WINEPREFIX=${WINEPREFIX:-$root/build/wine}
export WINEDEBUG=-all
unset WINEPATH
"$root/scripts/wine-run.sh" --prepare

step "The ZIP"
cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch/cpack" > "$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=ql-t36-$version-win64
zip=$scratch/cpack/$name.zip
[ -f "$zip" ] || fail "no $name.zip: $(ls "$scratch/cpack")"
ok "$name.zip, $(stat -c %s "$zip") bytes"

place="$scratch/Prüf Ordner é"
mkdir -p "$place"
(cd "$place" && cmake -E tar xf "$zip")
[ "$(ls -A "$place")" = "$name" ] || fail "the ZIP holds more than the folder $name: $(ls -A "$place")"
folder=$place/$name
ok "one folder, unpacked into '$place'"

step "Contents"
expected="QL_T36.ini
Qt6Core.dll
Qt6Gui.dll
Qt6Network.dll
Qt6Widgets.dll
README.txt
libgcc_s_seh-1.dll
libstdc++-6.dll
libwinpthread-1.dll
platforms/qwindows.dll
ql-t36-cli.exe
ql-t36-sim.exe
ql-t36.exe
styles/qwindowsvistastyle.dll"
actual=$(cd "$folder" && find . -type f | sed 's#^\./##' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "contents differ:
$(diff <(echo "$expected") <(echo "$actual") || true)"
ok "exactly the programs, the settings, the notes and the DLLs"

imports=$(for binary in "$folder"/*.exe "$folder"/*.dll "$folder"/*/*.dll; do
    x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p'
done | tr '[:upper:]' '[:lower:]' | sort -u)
for dll in "$folder"/*.dll; do
    base=$(basename "$dll" | tr '[:upper:]' '[:lower:]')
    grep -qxF "$base" <<< "$imports" || fail "$(basename "$dll") is loaded by nothing in the folder"
done
ok "every DLL is loaded by a program or a plugin"

for program in ql-t36 ql-t36-cli ql-t36-sim; do
    exe=$folder/$program.exe
    resources=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n '/The .rsrc Resource Directory/,$p')
    for type in 0x000003 0x00000e 0x000010; do # icon, icon group, version
        grep -q "^0[0-9a-f]*   Entry: ID: $type," <<< "$resources" ||
            fail "$program.exe has no resource of type $type"
    done
    texts=$(strings -el "$exe")
    for pair in "ProductName:QL-T36 Maintenance Tool" "FileVersion:$version" \
        "ProductVersion:$version" "OriginalFilename:$program.exe"; do
        grep -A1 -xF "${pair%%:*}" <<< "$texts" | grep -qxF "${pair#*:}" ||
            fail "$program.exe: no ${pair%%:*} '${pair#*:}'"
    done
done
ok "each program has its icon and its file and product version $version"

for text in QL_T36.ini README.txt; do
    [ "$(grep -c $'\r$' "$folder/$text")" = "$(wc -l < "$folder/$text")" ] ||
        fail "$text has lines without CR LF"
done
grep -q $'^ADR=192\.168\.0\.1\r$' "$folder/QL_T36.ini" && grep -q $'^PORT=2000\r$' "$folder/QL_T36.ini" &&
    grep -q '^;' "$folder/QL_T36.ini" || fail "QL_T36.ini lacks the defaults or the comments"
ok "QL_T36.ini (defaults, comments) and README.txt with CR LF line ends"

step "The simulator from the folder"
cd "$folder"
start_simulator "$scratch/sim.log" "$loader" ql-t36-sim.exe --addresses "$addresses" ||
    fail "ql-t36-sim.exe does not listen"
port=$SIM_PORT
ok "ql-t36-sim.exe listens on 127.0.0.1:$port"

# The settings name the simulator before anything that connects starts.
sed -i "s/^ADR=.*/ADR=127.0.0.1\r/; s/^PORT=.*/PORT=$port\r/" QL_T36.ini
grep -q $'^ADR=127\.0\.0\.1\r$' QL_T36.ini && grep -q "^PORT=$port"$'\r$' QL_T36.ini ||
    fail "QL_T36.ini does not name the simulator"

step "The tool"
"$loader" ql-t36.exe < /dev/null > "$scratch/tool.log" 2>&1 &
session_track $!
window() { xdotool search --name "$title_pattern" 2> /dev/null | head -1; }
shown() { [ -n "$(window)" ]; }
wait_for 60 shown || fail "no window titled like $title_pattern: $(cat "$scratch/tool.log")"
eval "$(xdotool getwindowgeometry --shell "$(window)")"
# The client area is 575 x 249; the frame's borders are alike on the left, right and bottom.
border=$(((WIDTH - 575) / 2))
top=$((HEIGHT - 249 - border))
[ "$border" -ge 0 ] && [ "$top" -gt "$border" ] || fail "window of ${WIDTH}x$HEIGHT"
ok "main window with the exact title, ${WIDTH}x$HEIGHT outside"
click() { xdotool mousemove "$((X + border + $1))" "$((Y + top + $2))" click 1; }
click 320 204 # "Read", at (280, 192), 81 x 25
wait_for 20 grep -q '<< ReqIP_ADR' "$scratch/sim.log" || fail "\"Read\" did not reach the simulator"
wait_for 20 grep -q '>> ACK_REC_IP:' "$scratch/sim.log" || fail "the simulator did not answer"
ok "\"Read\" reached the simulator (ReqIP_ADR)"
sleep 1 # the reply's fields are filled in the tool's next tick
click 88 204 # "Send", at (48, 192): all five fields as they stand
wait_for 20 grep -qF "<< SetIP_ADR($addresses)" "$scratch/sim.log" ||
    fail "\"Send\" did not send what \"Read\" filled in: $(grep '<<' "$scratch/sim.log")"
ok "\"Read\" filled the fields: \"Send\" sent them back unchanged"

step "The command-line tool"
"$loader" ql-t36-cli.exe version < /dev/null > "$scratch/version.out" 2>&1 ||
    fail "version through QL_T36.ini: $(cat "$scratch/version.out")"
grep -q "^127\.0\.0\.1:$port  version 2\.00  " "$scratch/version.out" ||
    fail "unexpected version report: $(cat "$scratch/version.out")"
ok "version read from the device that the folder's QL_T36.ini names"

start_simulator "$scratch/linux-sim.log" "$linux_simulator" || fail "the Linux simulator does not listen"
linux_port=$SIM_PORT
for i in $(seq 1 300); do printf 'QL-T36 smoke image, line %04d\n' "$i"; done > "$scratch/image.bin"
"$loader" ql-t36-cli.exe --trace -d "127.0.0.1:$linux_port" flash "$(windows_path "$scratch/image.bin")" \
    < /dev/null > "$scratch/flash.out" 2> "$scratch/flash.err" ||
    fail "flash failed: $(cat "$scratch/flash.out" "$scratch/flash.err")"
expected_crc=$(gzip -c < "$scratch/image.bin" | tail -c 8 | od -An -tx4 -N4 | tr -d ' ')
sent_crc=$(sed -n 's/.*crc32 0x\([0-9a-f]\{8\}\).*/\1/p' "$scratch/flash.err" | head -1)
wait_for 10 grep -q 'crc32 0x' "$scratch/linux-sim.log" || fail "the simulator logged no block"
received_crc=$(sed -n 's/.*crc32 0x\([0-9a-f]\{8\}\).*/\1/p' "$scratch/linux-sim.log" | head -1)
[ "$sent_crc" = "$expected_crc" ] && [ "$received_crc" = "$expected_crc" ] ||
    fail "CRC-32: image $expected_crc, sent $sent_crc, received $received_crc"
ok "flashed $(stat -c %s "$scratch/image.bin") bytes to the Linux simulator: CRC-32 $expected_crc on both sides"

step "ZIP smoke test passed"
