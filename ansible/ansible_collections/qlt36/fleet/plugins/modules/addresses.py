#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: QL-T36 tool maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: addresses
short_description: Bring a site's QL-T36 devices to planned network addresses and MAC addresses
version_added: 2.1.0
description:
  - Runs C(ql-t36-cli apply) on the managed host (the site's jump host) with a plan. For each
    device it reads the five network addresses (and the MAC address when one is planned), sends
    what differs and reads it back; a device that holds the plan already is left alone.
  - The whole plan is checked by the tool before any device is contacted.
  - A device whose IP address is set has moved; its entry's C(movedTo) says where it is now.
author: QL-T36 tool maintainers
options:
  config:
    description:
      - The plan, one item per device. Only I(device) is required; a key left out leaves that
        value as the device has it.
      - Written to a file on the managed host that only the running user can read, and removed
        after the run.
    type: list
    elements: dict
    suboptions:
      device:
        description: Where the device is now, C(HOST[:PORT]).
        type: str
        required: true
      ip:
        description: The device's IP address.
        type: str
      dp310:
        description: The DP-310's IP address.
        type: str
      mask:
        description: The subnet mask.
        type: str
      gateway:
        description: The default gateway.
        type: str
      multicast:
        description: The multicast address.
        type: str
      mac:
        description: The MAC address, twelve hexadecimal digits.
        type: str
  plan:
    description:
      - Instead of I(config), the path of a CSV plan on the managed host, with the columns
        C(device), C(ip), C(dp310), C(mask), C(gateway), C(multicast) and, if wanted, C(mac), as
        C(ql-t36-cli inventory --csv) writes it.
    type: path
extends_documentation_fragment:
  - qlt36.fleet.common
attributes:
  check_mode:
    support: full
    description: Runs C(apply --dry-run), which sends only the reads, and reports which devices
      would change.
  diff_mode:
    support: full
    description: One section per device that changes (or would), headed by the device, with the
      values before and after.
'''

EXAMPLES = r'''
- name: Bring the site's devices to their planned gateways and multicast addresses
  qlt36.fleet.addresses:
    config:
      - device: 10.20.0.7
        gateway: 10.20.0.254
        multicast: 239.0.20.1
      - device: 10.20.0.8:2001
        dp310: 10.20.0.58
        mac: 00A0B1C2D3F0
  register: applied

- name: Apply the plan kept on the jump host, with an events log
  qlt36.fleet.addresses:
    plan: /srv/plant/addresses.csv
    events_log: /var/log/ql-t36/addresses.jsonl
'''

RETURN = r'''
devices:
  description: One entry per planned device, in the plan's order, as the tool reports them.
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: C(HOST:PORT) as planned.
      type: str
    ok:
      description: Whether the device holds the plan (or, in check mode, could be read).
      type: bool
    status:
      description: C(unchanged), C(changed), C(would change) (check mode), C(failed), C(busy),
        C(not started) or C(interrupted).
      type: str
    error:
      description: What went wrong, or null.
      type: str
    addresses:
      description: The five addresses last read.
      type: list
      elements: str
    mac:
      description: The MAC address last read, or null when none was planned.
      type: str
    changes:
      description: What differed, each with C(field), C(was) and C(planned).
      type: list
      elements: dict
    movedTo:
      description: Where the device is now (C(HOST:PORT)) once its IP address was set, or null.
      type: str
changed_devices:
  description: The devices that changed (in check mode, that would change).
  returned: always
  type: list
  elements: str
failed_devices:
  description: The devices that failed, were busy or were not started; the task fails when there
    is one, and the other devices were applied.
  returned: always
  type: list
  elements: str
tool_version:
  description: The version of ql-t36-cli that ran.
  returned: always
  type: str
cmd:
  description: The tool's argument list (the temporary plan's path in place of I(config)).
  returned: always
  type: list
  elements: str
'''

import csv
import io
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qlt36.fleet.plugins.module_utils.runner import (
    COMMON_ARGUMENT_SPEC, Runner)

COLUMNS = ('device', 'ip', 'dp310', 'mask', 'gateway', 'multicast', 'mac')
ADDRESS_FIELDS = COLUMNS[1:6]
CHANGED = ('changed', 'would change')


def plan_text(config):
    """The plan as the tool reads it: every cell quoted, so no value starts a comment line."""
    text = io.StringIO()
    writer = csv.writer(text, quoting=csv.QUOTE_ALL, lineterminator='\r\n')
    writer.writerow(COLUMNS)
    for item in config:
        writer.writerow(['' if item.get(column) is None else item[column] for column in COLUMNS])
    return text.getvalue()


def write_plan(config, folder):
    # mkstemp makes the file 0600: the plan names devices and addresses of a plant.
    handle, path = tempfile.mkstemp(prefix='ql-t36-plan.', suffix='.csv', dir=folder)
    with os.fdopen(handle, 'w', encoding='utf-8', newline='') as plan:
        plan.write(plan_text(config))
    return path


def plan_devices(path):
    """The device column of a plan file in its order, for events, which come as devices finish."""
    if not os.path.isfile(path):
        return []  # a pipe is the tool's to read
    with open(path, encoding='utf-8-sig', errors='replace', newline='') as plan:
        reader = csv.reader(line for line in plan if not line.lstrip().startswith('#'))
        header = [cell.strip().lower() for cell in next(reader, [])]
        column = header.index('device') if 'device' in header else len(header)
        return [row[column] for row in reader if len(row) > column and row[column].strip()]


def command_arguments(plan, check_mode):
    return ['apply'] + (['--dry-run'] if check_mode else []) + [os.path.abspath(plan)]


def values_text(values):
    return ''.join('%s: %s\n' % (field, values[field]) for field in COLUMNS[1:]
                   if values.get(field) is not None)


def device_diff(entry):
    """Before and after of one device that changed or would, or None."""
    changes = entry.get('changes') or []
    if entry.get('status') not in CHANGED or not changes:
        return None
    current = dict(zip(ADDRESS_FIELDS, entry.get('addresses') or []))
    current['mac'] = entry.get('mac')
    before = dict(current)
    after = dict(current)
    for change in changes:
        before[change['field']] = change.get('was')
        after[change['field']] = change.get('planned')
    header = entry.get('device')
    moved = entry.get('movedTo')
    return dict(before_header=header, after_header=moved or header,
                before=values_text(before), after=values_text(after))


def main():
    argument_spec = dict(
        config=dict(type='list', elements='dict', options=dict(
            device=dict(type='str', required=True),
            ip=dict(type='str'),
            dp310=dict(type='str'),
            mask=dict(type='str'),
            gateway=dict(type='str'),
            multicast=dict(type='str'),
            mac=dict(type='str'),
        )),
        plan=dict(type='path'),
    )
    argument_spec.update(COMMON_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec,
                           mutually_exclusive=[('config', 'plan')],
                           required_one_of=[('config', 'plan')],
                           supports_check_mode=True)
    config = module.params['config']
    if config is not None and not config:
        module.fail_json(msg='no devices given: nothing was contacted')

    runner = Runner(module)
    plan = module.params['plan']
    written = None
    try:
        if config is not None:
            plan = written = write_plan(config, module.tmpdir)
        order = [item['device'] for item in config] if config else (
            plan_devices(plan) if module.params['events_log'] else None)
        report, status = runner.run(command_arguments(plan, module.check_mode), order)
    finally:
        if written:
            os.remove(written)

    devices = report['devices']
    result = dict(changed_devices=[entry.get('device') for entry in devices
                                   if entry.get('status') in CHANGED])
    result['changed'] = bool(result['changed_devices'])
    if module._diff:
        result['diff'] = [diff for diff in map(device_diff, devices) if diff]
    runner.conclude(report, status, result)


if __name__ == '__main__':
    main()
