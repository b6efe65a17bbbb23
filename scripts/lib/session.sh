# shellcheck shell=bash
# Sourced by the scripts that need a virtual display or a device simulator. Everything started
# here is recorded by its PID and ended by session_cleanup, which the caller runs on exit (it is
# set as the EXIT trap unless the caller keeps its own and calls it from there). The simulator
# listens on loopback only, on a port it picks itself.
#
#   start_display [GEOMETRY]                sets DISPLAY to a fresh Xvfb (default 1280x1024x24)
#   start_simulator LOG PROGRAM [ARG...]    sets SIM_PORT and SIM_PID; PROGRAM may be a command
#                                           of several words given as separate arguments
#   session_track PID                       ends PID with the rest
#   wait_for SECONDS COMMAND [ARG...]       retries COMMAND every 0.2 s until it succeeds

session_pids=()
session_scratch=""

session_track() {
    session_pids+=("$1")
}

# Running, and not a zombie waiting to be reaped.
session_alive() {
    local state
    state=$(sed 's/^.*) //' "/proc/$1/stat" 2> /dev/null | cut -c1) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

session_all_ended() {
    local pid
    for pid in "${session_pids[@]}"; do
        ! session_alive "$pid" || return 1
    done
}

# Asks each process to end, gives them 5 s together, then kills what is left.
session_cleanup() {
    local pid
    for pid in "${session_pids[@]}"; do kill -TERM "$pid" 2> /dev/null || true; done
    wait_for 5 session_all_ended || true
    for pid in "${session_pids[@]}"; do
        kill -KILL "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    session_pids=()
    [ -z "$session_scratch" ] || rm -rf "$session_scratch"
    session_scratch=""
}
trap session_cleanup EXIT

wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

session_scratch_dir() {
    [ -n "$session_scratch" ] || session_scratch=$(mktemp -d "${TMPDIR:-/tmp}/ql-t36-session.XXXXXX")
}

# Xvfb picks a free display number itself and writes it to the descriptor it is given.
start_display() {
    local geometry=${1:-1280x1024x24} number_file
    command -v Xvfb > /dev/null || { echo "start_display: Xvfb is missing (scripts/deps.sh run)" >&2; return 1; }
    session_scratch_dir
    number_file=$(mktemp "$session_scratch/display.XXXXXX")
    Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3> "$number_file" > /dev/null 2>&1 &
    session_track $!
    wait_for 10 test -s "$number_file" || { echo "start_display: Xvfb did not start" >&2; return 1; }
    DISPLAY=":$(cat "$number_file")"
    export DISPLAY
}

# The simulator is told to listen on 127.0.0.1 port 0; the first line of its log names the port.
# shellcheck disable=SC2034 # SIM_PORT and SIM_PID are for the caller
start_simulator() {
    local log=$1
    shift
    "$@" --listen 127.0.0.1:0 < /dev/null > "$log" 2>&1 &
    SIM_PID=$!
    session_track "$SIM_PID"
    # Under Wine the simulator takes a while to start.
    local deadline=$((SECONDS + 30))
    until grep -q 'listening on 127\.0\.0\.1:[0-9]' "$log"; do
        if ! session_alive "$SIM_PID" || [ "$SECONDS" -ge "$deadline" ]; then
            echo "start_simulator: the simulator does not listen: $(cat "$log")" >&2
            return 1
        fi
        sleep 0.2
    done
    SIM_PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -n 1)
}
