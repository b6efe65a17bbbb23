#!/usr/bin/env bash
# The Ansible collection's checks, offline and on loopback only:
#   ansible-doc on every module (it parses DOCUMENTATION, EXAMPLES and RETURN), ansible-lint on
#   every module's examples and the collection's playbook, `ansible-galaxy collection build`,
#   `ansible-test units`, and `ansible-test integration --local` for every target (each starts
#   its simulators on 127.0.0.x with scripts/simulators.py and ends them by PID).
# The tool and the simulator are those of build/dev, built first if missing. `ansible-test sanity`
# needs the network and is not run; ansible-doc and ansible-lint stand in for it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
collection=$root/ansible/ansible_collections/qlt36/fleet

scripts/deps.sh ansible
if [ ! -x build/dev/cli/ql-t36-cli ] || [ ! -x build/dev/sim/ql-t36-sim ]; then
    cmake --preset dev > /dev/null
    cmake --build --preset dev --target ql-t36-cli ql-t36-sim
fi
# Debian's Python before any other on the PATH: ansible-test runs its tests with the python3.11
# it finds there, and only Debian's has pytest and Ansible.
# The targets start their simulators with scripts/simulators.py.
export PATH=$root/build/dev/cli:$root/build/dev/sim:$root/scripts:/usr/bin:$PATH
export ANSIBLE_COLLECTIONS_PATH=$root/ansible
python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ql-t36-ansible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

step() { printf '\n== %s\n' "$*"; }

step "ansible-doc"
for module in "$collection"/plugins/modules/*.py; do
    name=qlt36.fleet.$(basename "$module" .py)
    ansible-doc -t module "$name" > "$scratch/doc.txt" 2> "$scratch/doc.err" \
        && [ ! -s "$scratch/doc.err" ] && grep -q '^EXAMPLES:' "$scratch/doc.txt" \
        && grep -q '^RETURN VALUES:' "$scratch/doc.txt" || {
        cat "$scratch/doc.err" >&2
        echo "ansible-doc $name failed or warned" >&2
        exit 1
    }
    echo "   ok: $name ($(wc -l < "$scratch/doc.txt") lines)"
done

step "ansible-lint"
# Each module's EXAMPLES as the tasks of a play, and the playbook as it ships.
mkdir "$scratch/lint"
for module in "$collection"/plugins/modules/*.py; do
    name=$(basename "$module" .py)
    /usr/bin/python3 - "$module" > "$scratch/lint/examples_$name.yml" <<'PYTHON'
import ast, sys
tree = ast.parse(open(sys.argv[1]).read())
examples = next(node.value.value for node in tree.body if isinstance(node, ast.Assign)
                and getattr(node.targets[0], 'id', None) == 'EXAMPLES')
print('---\n- name: Examples\n  hosts: sites\n  gather_facts: false\n  tasks:')
print('\n'.join(('    ' + line).rstrip() for line in examples.strip('\n').splitlines()))
PYTHON
done
cp "$collection"/playbooks/*.yml "$scratch/lint/"
(cd "$scratch/lint" && ansible-lint --offline --nocolor ./*.yml)

step "ansible-galaxy collection build"
ansible-galaxy collection build "$collection" --output-path "$scratch" > /dev/null
tar -tzf "$scratch"/qlt36-fleet-*.tar.gz > "$scratch/contents"
for file in MANIFEST.json plugins/modules/firmware.py plugins/module_utils/runner.py playbooks/rollout.yml; do
    grep -qx "$file" "$scratch/contents" || { echo "the built collection lacks $file" >&2; exit 1; }
done
echo "   ok: $(basename "$scratch"/qlt36-fleet-*.tar.gz), $(wc -l < "$scratch/contents") entries"

cd "$collection"
step "ansible-test units"
ansible-test units --python "$python" --color no
step "ansible-test integration --local"
ansible-test integration --local --python "$python" --color no
