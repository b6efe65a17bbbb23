#!/usr/bin/env bash
# Smoke test of the Debian package. From a configured and built tree it builds the package, checks
# its control fields and contents, installs and upgrades it into a scratch dpkg root (the edited
# settings file must survive), unpacks it into a scratch root, points the installed settings file
# at a closed loopback port, and only then starts the installed tool: headless on the offscreen
# platform, and on a virtual display through the launcher when Xvfb and xdotool are there. Each
# run must keep its window up and end with exit status 0 on SIGTERM (and on SIGINT and SIGHUP).
# The installed command-line tool must print its help, and fail with one line against that port.
#
# Usage: packaging/smoke-test.sh <build-dir> [--expect-simulator]
#
# Nothing here starts the tool with settings that aim anywhere but 127.0.0.1.
set -euo pipefail

usage() {
    echo "usage: $0 <build-dir> [--expect-simulator]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
build=$(realpath "$1")
shift
expect_simulator=0
for argument in "$@"; do
    case "$argument" in
        --expect-simulator) expect_simulator=1 ;;
        *) usage ;;
    esac
done

title='[QL-T36] IP Address <Version 2.00>'
title_pattern='^\[QL-T36\] IP Address <Version 2\.00>$'
app=opt/ql-t36

step() { printf '\n== %s\n' "$*"; }
ok() { printf '   ok: %s\n' "$*"; }
note() { printf '   note: %s\n' "$*"; }
fail() {
    printf '   FAIL: %s\n' "$*" >&2
    exit 1
}

for command in cpack dpkg-deb dpkg readelf file; do
    command -v "$command" > /dev/null || fail "'$command' is missing (scripts/deps.sh package)"
done
command -v dpkg-shlibdeps > /dev/null || fail "'dpkg-shlibdeps' is missing (scripts/deps.sh package)"
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build tree"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ql-t36-smoke.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

# Running, and not a zombie waiting to be reaped.
alive() {
    local state
    state=$(sed 's/^.*) //' "/proc/$1/stat" 2> /dev/null | cut -c1) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# Sends a signal and expects the process to end by itself with status 0 within 10 s.
end_with_signal() {
    local pid=$1 signal=$2 label=$3 status
    kill -"$signal" "$pid"
    for _ in $(seq 100); do
        alive "$pid" || break
        sleep 0.1
    done
    if alive "$pid"; then
        kill -KILL "$pid"
        wait "$pid" 2> /dev/null || true
        fail "$label still running 10 s after SIG$signal"
    fi
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$label ended with status $status after SIG$signal"
    ok "$label ended with status 0 after SIG$signal"
}

# The process must come up and stay up for a while (no crash, no missing plugin or library).
stays_up() {
    local pid=$1 label=$2 log=$3
    for _ in $(seq 30); do
        alive "$pid" || {
            sed 's/^/   | /' "$log" >&2
            fail "$label ended on its own"
        }
        sleep 0.1
    done
    ok "$label is up after 3 s"
}

# Refuses to go on unless the settings file the executable in $1 will read aims at loopback.
assert_loopback_settings() {
    local executable ini
    executable=$(realpath "$1")
    ini="$(dirname "$executable")/QL_T36.ini"
    case "$executable" in
        "$root"/*) ;;
        *) fail "$1 resolves to $executable, outside the scratch root: not started" ;;
    esac
    tr -d '\r' < "$ini" | grep -qx 'ADR=127\.0\.0\.1' \
        || fail "$ini does not aim at 127.0.0.1: not started"
    [ "$(tr -d '\r' < "$ini" | grep -ci '^[[:blank:]]*adr')" -eq 1 ] \
        || fail "$ini holds more than one address: not started"
}

step "Building the package"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 || {
    sed 's/^/   | /' "$scratch/cpack.log" >&2
    fail "cpack failed"
}
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
ok "$(basename "$deb"), $(stat -c %s "$deb") bytes"

step "Control fields"
dpkg-deb -f "$deb" Package Version Architecture Section Priority Maintainer Installed-Size \
    Depends Recommends | sed 's/^/   /'
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//')
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6; do
    grep -qxF "$library" <<< "$depends" || fail "Depends lacks $library"
done
ok "Depends names the C, C++ and Qt 6 runtime libraries"
[ "$(dpkg-deb -f "$deb" Recommends)" = fonts-ipafont-gothic ] || fail "Recommends is not fonts-ipafont-gothic"
ok "Recommends a CJK font"
description=$(dpkg-deb -f "$deb" Description)
[ "$(wc -l <<< "$description")" -ge 3 ] || fail "Description has no long part"
ok "Description: $(head -n1 <<< "$description")"
conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles)
[ "$conffiles" = "/$app/QL_T36.ini" ] || fail "conffiles is '$conffiles'"
ok "conffiles: $conffiles"

step "Contents"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
expected=(
    "$app/ql-t36"
    "$app/ql-t36-cli"
    "$app/QL_T36.ini"
    usr/bin/ql-t36
    usr/bin/ql-t36-cli
    usr/share/applications/ql-t36.desktop
    usr/share/icons/hicolor/scalable/apps/ql-t36.svg
)
for size in 16 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/ql-t36.png")
done
if [ -e "$root/$app/ql-t36-sim" ] || [ "$expect_simulator" -eq 1 ]; then
    expected+=("$app/ql-t36-sim" usr/bin/ql-t36-sim)
fi
for path in "${expected[@]}"; do
    [ -e "$root/$path" ] || fail "missing: /$path"
done
ok "${#expected[@]} expected paths present"
unexpected=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort \
    | grep -vxF -f <(printf '%s\n' "${expected[@]}") || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"
ok "nothing else in the package"

# The ini the engineer gets: the documented defaults, in the format the tool reads.
tr -d '\r' < "$root/$app/QL_T36.ini" | grep -v '^[[:blank:]]*;' | grep -v '^[[:blank:]]*$' \
    > "$scratch/ini-settings"
printf '[LAN]\nADR=192.168.0.1\nPORT=2000\n' | diff -u - "$scratch/ini-settings" > /dev/null \
    || fail "the packaged QL_T36.ini does not hold exactly [LAN] ADR=192.168.0.1 PORT=2000"
ok "QL_T36.ini: [LAN] ADR=192.168.0.1 PORT=2000, everything else a ';' comment"

for program in ql-t36 ql-t36-cli ql-t36-sim; do
    [ -e "$root/$app/$program" ] || continue
    [ -x "$root/$app/$program" ] || fail "/$app/$program is not executable"
    [ "$(realpath "$root/usr/bin/$program")" = "$root/$app/$program" ] \
        || fail "/usr/bin/$program does not lead to /$app/$program inside the unpacked tree"
    if readelf -d "$root/$app/$program" | grep -Eq 'R(UN)?PATH'; then
        fail "/$app/$program carries a run path: $(readelf -d "$root/$app/$program" | grep -E 'R(UN)?PATH')"
    fi
    ok "/$app/$program: executable, no run path, launcher /usr/bin/$program -> $(readlink "$root/usr/bin/$program")"
done
for size in 16 32 48 64 128 256; do
    file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/ql-t36.png" \
        | grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not a ${size}x${size} PNG"
done
ok "icons: PNG 16..256 of their stated sizes, SVG"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$root/usr/share/applications/ql-t36.desktop" || fail "desktop entry invalid"
    ok "desktop entry valid (desktop-file-validate)"
else
    note "desktop-file-validate not installed (desktop-file-utils): desktop entry not validated"
fi

# A closed loopback port: nothing is connected until the first command anyway, but the tool's
# settings must not name anything that could answer.
port=""
for candidate in $(seq 47036 47099); do
    if ! timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$candidate" 2> /dev/null; then
        port=$candidate
        break
    fi
done
[ -n "$port" ] || fail "no closed loopback port found"

step "Settings of the unpacked tool pointed at 127.0.0.1:$port"
printf '; Smoke test: loopback only.\r\n[LAN]\r\nADR=127.0.0.1\r\nPORT=%s\r\n' "$port" \
    > "$root/$app/QL_T36.ini"
assert_loopback_settings "$root/$app/ql-t36"
ok "/$app/QL_T36.ini -> 127.0.0.1:$port"

step "Install and upgrade into a scratch dpkg root"
# The edited settings file must survive an upgrade. Upgrade = the same package with a higher
# version; the tool is never started from this root.
dpkg_root="$scratch/dpkg-root"
mkdir -p "$dpkg_root/var/lib/dpkg/info" "$dpkg_root/var/lib/dpkg/updates"
touch "$dpkg_root/var/lib/dpkg/status" "$dpkg_root/var/lib/dpkg/available"
# Its own log too: dpkg would otherwise add these steps to the system's /var/log/dpkg.log.
dpkg_run=(dpkg --root="$dpkg_root" --log="$scratch/dpkg-history.log" --force-depends)
if [ "$(id -u)" -ne 0 ]; then
    dpkg_run+=(--force-not-root)
fi
dpkg-deb -R "$deb" "$scratch/upgrade"
sed -i 's/^Version: .*/&+smoke1/' "$scratch/upgrade/DEBIAN/control"
dpkg-deb --root-owner-group -b "$scratch/upgrade" "$scratch/upgrade.deb" > /dev/null
"${dpkg_run[@]}" -i "$deb" > "$scratch/dpkg.log" 2>&1 || {
    sed 's/^/   | /' "$scratch/dpkg.log" >&2
    fail "dpkg could not install the package into a scratch root"
}
installed_ini="$dpkg_root/$app/QL_T36.ini"
tr -d '\r' < "$installed_ini" | grep -qx 'ADR=192.168.0.1' || fail "installed ini lacks the default"
dpkg-query --admindir="$dpkg_root/var/lib/dpkg" -W -f='${Conffiles}\n' ql-t36 \
    | grep -q "/$app/QL_T36.ini" || fail "dpkg did not record the ini as a conffile"
ok "installed $(dpkg-query --admindir="$dpkg_root/var/lib/dpkg" -W -f='${Version}' ql-t36); dpkg lists /$app/QL_T36.ini as a conffile"
sed -i 's/^ADR=.*/ADR=127.0.0.1/' "$installed_ini"
"${dpkg_run[@]}" -i "$scratch/upgrade.deb" >> "$scratch/dpkg.log" 2>&1 || {
    sed 's/^/   | /' "$scratch/dpkg.log" >&2
    fail "dpkg could not upgrade the package in the scratch root"
}
[ "$(dpkg-query --admindir="$dpkg_root/var/lib/dpkg" -W -f='${Version}' ql-t36)" \
    = "$(dpkg-deb -f "$deb" Version)+smoke1" ] || fail "the upgrade did not happen"
tr -d '\r' < "$installed_ini" | grep -qx 'ADR=127.0.0.1' \
    || fail "the upgrade replaced the edited QL_T36.ini"
ok "upgraded to $(dpkg-deb -f "$scratch/upgrade.deb" Version): the edited QL_T36.ini was kept"
"${dpkg_run[@]}" -r ql-t36 >> "$scratch/dpkg.log" 2>&1 || fail "dpkg could not remove the package"
[ -f "$installed_ini" ] && [ ! -e "$dpkg_root/$app/ql-t36" ] \
    || fail "remove did not keep only the settings file"
"${dpkg_run[@]}" -P ql-t36 >> "$scratch/dpkg.log" 2>&1 || fail "dpkg could not purge the package"
[ ! -e "$installed_ini" ] || fail "purge left QL_T36.ini behind"
ok "remove keeps QL_T36.ini, purge deletes it"

step "Installed tool on the offscreen platform"
# A background job of a script starts with SIGINT ignored, and the tool leaves ignored signals
# alone; --default-signal gives it the start a terminal or a session would.
for signal in TERM INT HUP; do
    assert_loopback_settings "$root/$app/ql-t36"
    log="$scratch/offscreen-$signal.log"
    QT_QPA_PLATFORM=offscreen env --default-signal=TERM,INT,HUP "$root/$app/ql-t36" > "$log" 2>&1 &
    pid=$!
    pids+=("$pid")
    stays_up "$pid" "ql-t36 (offscreen)" "$log"
    end_with_signal "$pid" "$signal" "ql-t36 (offscreen)"
done

step "Installed tool through the launcher on a virtual display"
if command -v Xvfb > /dev/null && command -v xdotool > /dev/null; then
    display=""
    for number in $(seq 140 199); do
        [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
        Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp > "$scratch/xvfb.log" 2>&1 &
        xvfb_pid=$!
        pids+=("$xvfb_pid")
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$number" ] && break
            sleep 0.1
        done
        if alive "$xvfb_pid" && [ -e "/tmp/.X11-unix/X$number" ]; then
            display=":$number"
            break
        fi
    done
    [ -n "$display" ] || fail "Xvfb did not start"

    assert_loopback_settings "$root/usr/bin/ql-t36"
    log="$scratch/xvfb-tool.log"
    env -u QT_QPA_PLATFORM DISPLAY="$display" "$root/usr/bin/ql-t36" > "$log" 2>&1 &
    pid=$!
    pids+=("$pid")
    # The job is env for a moment, before it executes the launcher.
    for _ in $(seq 50); do
        started=$(readlink "/proc/$pid/exe" || true)
        [ "$started" = "$root/$app/ql-t36" ] && break
        sleep 0.1
    done
    [ "$started" = "$root/$app/ql-t36" ] || fail "the launcher started '$started'"
    ok "the launcher runs /$app/ql-t36 of the unpacked tree (so it reads that folder's QL_T36.ini)"
    window=$(DISPLAY="$display" timeout 20 xdotool search --sync --onlyvisible --name "$title_pattern" \
        | head -n1) || true
    [ -n "$window" ] || {
        sed 's/^/   | /' "$log" >&2
        fail "no visible window titled '$title' within 20 s"
    }
    shown=$(DISPLAY="$display" xdotool getwindowname "$window")
    [ "$shown" = "$title" ] || fail "main window title is '$shown'"
    ok "main window shown, title '$shown'"
    stays_up "$pid" "ql-t36 (Xvfb)" "$log"
    end_with_signal "$pid" TERM "ql-t36 (Xvfb)"
    kill "$xvfb_pid"
    wait "$xvfb_pid" 2> /dev/null || true
else
    note "Xvfb or xdotool not installed: the window title was not checked on a display"
fi

step "Installed command-line tool"
assert_loopback_settings "$root/usr/bin/ql-t36-cli"
status=0
timeout 10 "$root/usr/bin/ql-t36-cli" --help > "$scratch/cli-help.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "ql-t36-cli --help ended with status $status"
grep -q '^Usage: ql-t36-cli ' "$scratch/cli-help.txt" || fail "ql-t36-cli --help printed no usage"
ok "ql-t36-cli --help through the launcher"
status=0
timeout 10 "$root/usr/bin/ql-t36-cli" -d "127.0.0.1:$port" version \
    > "$scratch/cli-out.txt" 2> "$scratch/cli-err.txt" || status=$?
sed 's/^/   | /' "$scratch/cli-out.txt" "$scratch/cli-err.txt"
[ "$status" -eq 1 ] || fail "ql-t36-cli against the closed port 127.0.0.1:$port ended with status $status"
[ "$(wc -l < "$scratch/cli-err.txt")" -eq 1 ] \
    && grep -q "^127\.0\.0\.1:$port .*Code = 10061" "$scratch/cli-err.txt" \
    || fail "ql-t36-cli did not report the refused connection in one line"
ok "ql-t36-cli against the closed port: status 1, one line naming the device and Code = 10061"

step "Installed simulator"
if [ -e "$root/$app/ql-t36-sim" ]; then
    status=0
    timeout 10 "$root/usr/bin/ql-t36-sim" --help > "$scratch/sim-help.txt" 2>&1 || status=$?
    sed 's/^/   | /' "$scratch/sim-help.txt" | head -n 20
    [ "$status" -eq 0 ] || fail "ql-t36-sim --help ended with status $status"
    [ -s "$scratch/sim-help.txt" ] || fail "ql-t36-sim --help printed nothing"
    ok "ql-t36-sim --help through the launcher"
elif [ "$expect_simulator" -eq 1 ]; then
    fail "the package has no simulator"
else
    note "this build has no simulator target: not in the package"
fi

printf '\nPackage smoke test passed: %s (%s bytes)\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
