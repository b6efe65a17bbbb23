#!/usr/bin/env bash
# Runs a program of the Windows build under Wine: CTest's emulator for the preset "windows", and
# by hand (scripts/wine-run.sh build/windows/ql-t36-cli.exe --help).
#
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
#   scripts/wine-run.sh --prepare          creates the Wine prefix if it is missing, and returns
#
# The prefix is WINEPREFIX, by default build/wine of this tree; it is made once, with windows that
# need no window manager (Xvfb has none). The Qt DLLs come from the Qt tree of the build
# (QLT36_QT_WINDOWS, else build/qt6-mingw) through WINEPATH. Windows that are shown need an X
# display in DISPLAY (scripts/windows.sh starts one).
#
# Wine hands no variable named QT_* to Windows programs, so that a Linux Qt's settings cannot
# mislead them; it passes WINEQT_* as QT_* instead. Every QT_* given here (CTest's
# QT_QPA_PLATFORM, say) is therefore passed on that way.
#
# A Qt Test program's report does not reach a pipe under Wine: for programs named tst_*.exe the
# report goes to a file (-o FILE,txt) that is printed when the program ends, unless the
# arguments name an output themselves.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || { echo "wine-run.sh: $loader is missing (scripts/deps.sh windows)" >&2; exit 1; }

export WINEPREFIX=${WINEPREFIX:-$root/build/wine}
export WINEDEBUG=${WINEDEBUG:--all}
qt=${QLT36_QT_WINDOWS:-$root/build/qt6-mingw}

windows_path() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

prepare() {
    # The registry reaches the disk only when the wine server ends: a mark of our own says done.
    local done="$WINEPREFIX/.ql-t36-prepared"
    [ -f "$done" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Two suites may start at once on a fresh tree: one of them makes the prefix.
    exec 9> "$WINEPREFIX.lock"
    flock -w 300 9 || { echo "wine-run.sh: $WINEPREFIX is locked" >&2; exit 1; }
    if [ ! -f "$done" ]; then
        echo "wine-run.sh: creating the Wine prefix $WINEPREFIX" >&2
        # No Mono or Gecko: nothing here needs them, and nothing may be downloaded.
        WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 "$loader" wineboot -i > /dev/null 2>&1
        # Without a window manager, managed windows make every show and hide wait for one.
        timeout 60 "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
            > /dev/null 2>&1
        touch "$done"
    fi
    exec 9>&-
}

if [ "${1:-}" = "--prepare" ]; then
    prepare
    exit 0
fi
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM.exe [ARGUMENTS...] | --prepare" >&2; exit 2; }
prepare

if [ -d "$qt/bin" ]; then
    export WINEPATH="$(windows_path "$qt/bin")${WINEPATH:+;$WINEPATH}"
fi
while IFS= read -r name; do
    export "WINE$name=${!name}"
done < <(compgen -e | grep '^QT_' || true)

program=$1
shift
report=""
if [[ "$(basename "$program")" == tst_*.exe ]]; then
    report="-"
    for argument in "$@"; do
        case "$argument" in -o | -functions | -datatags | -help | --help) report="" ;; esac
    done
fi

child=0
on_signal() {
    [ "$child" -gt 0 ] && kill -TERM "$child" 2> /dev/null
    exit 143
}
trap on_signal TERM INT HUP

# The output goes through files: Wine's own helper processes, started by whichever program comes
# first, would inherit a pipe and hold it open, and whoever reads it (CTest) would wait for them.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
arguments=("$@")
[ -n "$report" ] && arguments+=(-o "$(windows_path "$scratch/report"),txt")
status=0
"$loader" "$program" "${arguments[@]}" < /dev/null > "$scratch/out" 2> "$scratch/err" &
child=$!
wait "$child" || status=$?
cat "$scratch/out"
[ -f "$scratch/report" ] && cat "$scratch/report"
cat "$scratch/err" >&2
exit "$status"
