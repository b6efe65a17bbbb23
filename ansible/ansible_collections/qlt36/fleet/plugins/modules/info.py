#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: QL-T36 tool maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: info
short_description: Read the version, network addresses and MAC address of a site's QL-T36 devices
version_added: 2.1.0
description:
  - Runs C(ql-t36-cli inventory) on the managed host (the site's jump host) for the devices
    given, or for those that answer in an address range, one connection per device, all of them
    in one run of the tool.
  - Returns each device's entry as the tool reports it and sets the fact C(ql_t36_devices).
  - Reads only; never reports a change.
author: QL-T36 tool maintainers
options:
  devices:
    description:
      - The devices, each C(HOST[:PORT]) with HOST a dotted-decimal IPv4 address (port 2000 when
        left out).
      - An empty list fails the task without contacting anything.
    type: list
    elements: str
  scan:
    description:
      - Instead of I(devices), the devices that answer in this range, C(A.B.C.D/N) (N 22 or more)
        or C(A.B.C.D-E).
    type: str
  port:
    description:
      - With I(scan), the port tried on every address; the tool's default is 2000.
    type: int
extends_documentation_fragment:
  - qlt36.fleet.common
attributes:
  check_mode:
    support: full
    description: Runs as in a normal run, which only reads.
  diff_mode:
    support: none
    description: Nothing is changed, so there is nothing to show.
'''

EXAMPLES = r'''
- name: Read every device of the site
  qlt36.fleet.info:
    devices: "{{ site_devices }}"
  register: site

- name: Show the devices that run an old firmware
  ansible.builtin.debug:
    msg: "{{ ql_t36_devices | selectattr('version', 'ne', '2.10') | map(attribute='device') }}"

- name: Find the devices of a plant network
  qlt36.fleet.info:
    scan: 10.20.0.0/24
    connect_timeout: 0.5
'''

RETURN = r'''
devices:
  description:
    - One entry per device, in the order given (with I(scan), those that answered), as the tool
      reports them.
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: C(HOST:PORT).
      type: str
      sample: 10.20.0.7:2000
    ok:
      description: Whether every read succeeded.
      type: bool
    status:
      description: C(ok), C(failed), C(busy) (another run drives it) or C(interrupted).
      type: str
    error:
      description: What went wrong, or null.
      type: str
    version:
      description: The firmware version, or null when it could not be read.
      type: str
      sample: "2.10"
    addresses:
      description: The device's IP address, the DP-310's IP address, the subnet mask, the gateway
        and the multicast address, or null when they could not be read.
      type: list
      elements: str
    mac:
      description: The MAC address, or null.
      type: str
      sample: 00A0B1C2D3E4
failed_devices:
  description: The devices whose entry says they failed; the task fails when there is one.
  returned: always
  type: list
  elements: str
tool_version:
  description: The version of ql-t36-cli that ran.
  returned: always
  type: str
cmd:
  description: The tool's argument list.
  returned: always
  type: list
  elements: str
ansible_facts:
  description: Facts set for the host.
  returned: success
  type: dict
  contains:
    ql_t36_devices:
      description: The same list as I(devices).
      type: list
      elements: dict
'''

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qlt36.fleet.plugins.module_utils.runner import (
    COMMON_ARGUMENT_SPEC, Runner, device_arguments)


def command_arguments(params):
    if params.get('scan'):
        arguments = ['inventory', '--scan=' + params['scan']]
        if params.get('port') is not None:
            arguments.append('--port=%d' % params['port'])
        return arguments
    return device_arguments(params['devices']) + ['inventory']


def main():
    argument_spec = dict(
        devices=dict(type='list', elements='str'),
        scan=dict(type='str'),
        port=dict(type='int'),
    )
    argument_spec.update(COMMON_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec,
                           mutually_exclusive=[('devices', 'scan')],
                           required_one_of=[('devices', 'scan')],
                           required_by=dict(port='scan'),
                           supports_check_mode=True)
    if module.params['devices'] is not None and not module.params['devices']:
        module.fail_json(msg='no devices given: nothing was contacted')

    runner = Runner(module)
    report, status = runner.run(command_arguments(module.params), module.params['devices'])
    if module.params.get('scan'):
        # Addresses without a device are no devices (the JSON report leaves them out already).
        report['devices'] = [entry for entry in report['devices']
                             if entry.get('version') is not None]
        if not report['devices']:
            module.fail_json(msg='no device answered in %s' % module.params['scan'],
                             devices=[], failed_devices=[], cmd=runner.cmd)
    result = dict(changed=False, ansible_facts=dict(ql_t36_devices=report['devices']))
    runner.conclude(report, status, result)


if __name__ == '__main__':
    main()
