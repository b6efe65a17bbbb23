#!/usr/bin/env bash
# Three sites, each a local host with its own simulated devices on its own loopback range, rolled
# out by the collection's playbook in waves of one site with a fleet-wide device failure budget.
# The second site has a device that reports another version once flashed.
set -euo pipefail
sims=../setup_simulators/files/simulators.py
state=$OUTPUT_DIR/sites-simulators.json
trap '$sims stop "$state"' EXIT

start() { $sims start "$state" --first "$1" --count "$2" -- --version-after-download "$3" \
    | /usr/bin/python3 -c 'import json, sys; print(" ".join(json.load(sys.stdin)["devices"]))'; }
a=$(start 127.0.0.51 3 2.10)
b="$(start 127.0.0.61 2 2.10) $(start 127.0.0.63 1 2.99)"
c=$(start 127.0.0.71 3 2.10)
yaml_list() { printf '[%s]' "$(printf '"%s",' "$@" | sed 's/,$//')"; }
cat > "$OUTPUT_DIR/sites.yml" <<INVENTORY
sites:
  vars: {ansible_connection: local, ansible_python_interpreter: /usr/bin/python3}
  hosts:
    site_a: {site_devices: $(yaml_list $a)}
    site_b: {site_devices: $(yaml_list $b)}
    site_c: {site_devices: $(yaml_list $c)}
INVENTORY
head -c 5000 /dev/zero | tr '\0' 'Q' > "$OUTPUT_DIR/image.bin"

rollout() {
    ansible-playbook -i "$OUTPUT_DIR/sites.yml" qlt36.fleet.rollout -e rollout_waves=1 \
        -e "rollout_image=$OUTPUT_DIR/image.bin" -e rollout_version=2.10 -e rollout_verify_delay=0.2 "$@"
}
versions() {
    ql-t36-cli --json $(printf -- '--device=%s ' "$@") version \
        | /usr/bin/python3 -c 'import json, sys; print(" ".join(d["version"] for d in json.load(sys.stdin)["devices"]))'
}
expect() {
    local want=$1 got
    shift
    got=$(versions "$@")
    [ "$got" = "$want" ] || { echo "expected versions '$want', got '$got' for $*" >&2; exit 1; }
}

# Budget 0: the wave of site_b spends it, so site_c is never started.
if rollout -e rollout_failure_budget=0; then
    echo "the roll-out went past the failure budget" >&2
    exit 1
fi
expect "2.10 2.10 2.10" $a
expect "2.10 2.10 2.99" $b
expect "2.00 2.00 2.00" $c

# Budget 1: the same device fails again, within budget, and site_c is done too.
rollout -e rollout_failure_budget=1 -e rollout_events_log="$OUTPUT_DIR/events.jsonl"
expect "2.10 2.10 2.10" $c
grep -q '"event":"outcome"' "$OUTPUT_DIR/events.jsonl"
