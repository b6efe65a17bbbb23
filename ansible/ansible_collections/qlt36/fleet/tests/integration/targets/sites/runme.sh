#!/usr/bin/env bash
# Three sites, each a local host with its own simulators on its own loopback range, rolled out by
# the collection's playbook one site a wave with a fleet-wide device failure budget. Site b has a
# device that reports another version once flashed.
set -euo pipefail
state=$OUTPUT_DIR/sims.json
trap 'simulators.py stop "$state"' EXIT
start() {
    simulators.py start "$state" --first "$1" --count "$2" -- --version-after-download "$3" \
        | /usr/bin/python3 -c 'import json, sys; print(", ".join(map(json.dumps, json.load(sys.stdin)["devices"])))'
}
cat > "$OUTPUT_DIR/sites.yml" << INVENTORY
sites:
  vars: {ansible_connection: local, ansible_python_interpreter: /usr/bin/python3}
  hosts:
    site_a: {site_devices: [$(start 127.0.0.51 3 2.10)]}
    site_b: {site_devices: [$(start 127.0.0.61 2 2.10), $(start 127.0.0.63 1 2.99)]}
    site_c: {site_devices: [$(start 127.0.0.71 3 2.10)]}
INVENTORY
head -c 5000 /dev/zero | tr '\0' Q > "$OUTPUT_DIR/image.bin"
rollout() {
    ansible-playbook -i "$OUTPUT_DIR/sites.yml" qlt36.fleet.rollout -e rollout_waves=1 -e rollout_version=2.10 \
        -e "rollout_image=$OUTPUT_DIR/image.bin" -e rollout_verify_delay=0.2 "$@"
}
expect() {  # the versions the devices of a site report now
    got=$(ansible -i "$OUTPUT_DIR/sites.yml" "$1" -m qlt36.fleet.info -a 'devices={{ site_devices }}' -o \
        | sed 's/^[^{]*//' | /usr/bin/python3 -c 'import json, sys
print(" ".join(device["version"] for device in json.load(sys.stdin)["devices"]))')
    [ "$got" = "$2" ] || { echo "$1: expected versions '$2', got '$got'" >&2; exit 1; }
}
# Budget 0: the wave of site_b spends it, so site_c is never started.
if rollout -e rollout_failure_budget=0; then echo "the roll-out went past its budget" >&2; exit 1; fi
expect site_a "2.10 2.10 2.10"
expect site_b "2.10 2.10 2.99"
expect site_c "2.00 2.00 2.00"
# Budget 1: the same device fails again, within the budget, and site_c is done too.
rollout -e rollout_failure_budget=1 -e "rollout_events_log=$OUTPUT_DIR/events.jsonl"
expect site_c "2.10 2.10 2.10"
grep -q '"event":"outcome"' "$OUTPUT_DIR/events.jsonl"
