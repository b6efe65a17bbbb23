#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: QL-T36 tool maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: firmware
short_description: Roll a firmware image out to a site's QL-T36 devices
version_added: 2.1.0
description:
  - Runs C(ql-t36-cli flash) on the managed host (the site's jump host) for the devices given, in
    one run of the tool.
  - Each device's version is read first; a device that runs I(version) already is skipped. The
    others are flashed and must report I(version) afterwards, read on a new connection
    I(verify_delay) seconds after the flash.
author: QL-T36 tool maintainers
options:
  devices:
    description:
      - The devices, each C(HOST[:PORT]), in the order they are flashed (see I(canary)).
      - An empty list fails the task without contacting anything.
    type: list
    elements: str
    required: true
  image:
    description: The firmware image, a file on the managed host.
    type: path
    required: true
  version:
    description:
      - The version the image brings. Devices that run it are skipped; the others must report it
        after their flash, or they fail.
    type: str
    required: true
  force:
    description:
      - Flash every device, also those that run I(version) already; each must still report
        I(version) afterwards. In check mode nothing is read then, and every device would be
        flashed.
    type: bool
    default: false
  verify_delay:
    description: Seconds between a device's flash and the connection that reads its version.
    type: float
  backup:
    description: Write the first phase to the backup area (address 0).
    type: bool
    default: false
  allow_truncation:
    description: Flash an image longer than 2 MiB anyway; only its first 2 MiB are written.
    type: bool
    default: false
  retries:
    description:
      - Try a device again, up to this many times, when its connection failed or its first
        announce got no size acknowledgement; never once a block byte was written.
    type: int
  max_failures:
    description: Once this many devices have failed, start no further device (they are reported
      C(not started)).
    type: int
  canary:
    description:
      - The first I(canary) devices (in the order given) are done before any other starts, and
        the run goes on only if all of them succeeded.
    type: int
  size_timeout:
    description: The wait for a block's size acknowledgement in seconds.
    type: float
  result_timeout:
    description: The wait for a block's result in seconds.
    type: float
extends_documentation_fragment:
  - qlt36.fleet.common
attributes:
  check_mode:
    support: full
    description: Reads each device's version and reports which would be flashed and which
      skipped, sending no firmware block (C(flash --dry-run --skip-version)).
  diff_mode:
    support: full
    description: One section per device flashed (or that would be), headed by the device, with
      its version before and after.
'''

EXAMPLES = r'''
- name: Roll 2.10 out to the site, one canary first
  qlt36.fleet.firmware:
    devices: "{{ site_devices }}"
    image: /srv/firmware/ql-t36-2.10.bin
    version: "2.10"
    canary: 1
    max_failures: 2
    retries: 1
    events_log: /var/log/ql-t36/firmware.jsonl
  register: rollout
'''

RETURN = r'''
devices:
  description: One entry per device, in the order given, as the tool reports them.
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: C(HOST:PORT).
      type: str
    ok:
      description: Whether the device was flashed and verified, skipped, or (check mode) planned.
      type: bool
    status:
      description: C(ok) (flashed), C(skipped) (runs I(version)), C(planned) (check mode),
        C(failed), C(busy), C(not started) or C(interrupted).
      type: str
    error:
      description: What went wrong, or null.
      type: str
    version:
      description: The version read before the flash, or null.
      type: str
    versionAfter:
      description: The version read after the flash, or null.
      type: str
    blocks:
      description: The blocks written, each with C(address), C(length) and C(result).
      type: list
      elements: dict
    attempts:
      description: How many times the device was tried.
      type: int
changed_devices:
  description: The devices flashed, wholly or in part (in check mode, those that would be).
  returned: always
  type: list
  elements: str
skipped_devices:
  description: The devices that ran I(version) already.
  returned: always
  type: list
  elements: str
failed_devices:
  description: The devices that failed, were busy or were not started; the task fails when there
    is one.
  returned: always
  type: list
  elements: str
image:
  description: The image as the tool read it, with C(length), C(notWritten), C(sha256) and its
    C(blocks).
  returned: without I(events_log), when the tool read the image
  type: dict
tool_version:
  description: The version of ql-t36-cli that ran.
  returned: always
  type: str
cmd:
  description: The tool's argument list.
  returned: always
  type: list
  elements: str
'''

import os

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qlt36.fleet.plugins.module_utils.runner import (
    COMMON_ARGUMENT_SPEC, Runner, device_arguments, seconds)

FLASHED = {False: 'ok', True: 'planned'}


def command_arguments(params, check_mode):
    arguments = device_arguments(params['devices']) + ['flash']
    if check_mode:
        arguments.append('--dry-run')
    if not params['force']:
        arguments.append('--skip-version=' + params['version'])
    if not check_mode:
        arguments.append('--verify-version=' + params['version'])
        if params.get('verify_delay') is not None:
            arguments.append('--verify-delay=' + seconds(params['verify_delay']))
    for flag in ('backup', 'allow_truncation'):
        if params[flag]:
            arguments.append('--' + flag.replace('_', '-'))
    for name in ('retries', 'max_failures', 'canary'):
        if params.get(name) is not None:
            arguments.append('--%s=%d' % (name.replace('_', '-'), params[name]))
    for name in ('size_timeout', 'result_timeout'):
        if params.get(name) is not None:
            arguments.append('--%s=%s' % (name.replace('_', '-'), seconds(params[name])))
    arguments.append(os.path.abspath(params['image']))
    return arguments


def device_diff(entry, version, check_mode):
    if entry.get('status') != FLASHED[check_mode]:
        return None
    after = version if check_mode else entry.get('versionAfter')
    return dict(before_header=entry.get('device'), after_header=entry.get('device'),
                before='version: %s\n' % (entry.get('version') or 'not read'),
                after='version: %s\n' % after)


def main():
    argument_spec = dict(
        devices=dict(type='list', elements='str', required=True),
        image=dict(type='path', required=True),
        version=dict(type='str', required=True),
        force=dict(type='bool', default=False),
        verify_delay=dict(type='float'),
        backup=dict(type='bool', default=False),
        allow_truncation=dict(type='bool', default=False),
        retries=dict(type='int'),
        max_failures=dict(type='int'),
        canary=dict(type='int'),
        size_timeout=dict(type='float'),
        result_timeout=dict(type='float'),
    )
    argument_spec.update(COMMON_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    params = module.params
    if not params['devices']:
        module.fail_json(msg='no devices given: nothing was contacted')

    runner = Runner(module)
    report, status = runner.run(command_arguments(params, module.check_mode), params['devices'])
    devices = report['devices']
    if module.check_mode and not params['force']:
        unread = [entry.get('device') for entry in devices
                  if entry.get('status') == 'planned' and entry.get('version') is None]
        if unread:
            # An older tool plans a dry run without reading anything: every device would look
            # out of date, and check mode would promise flashes that may never happen.
            module.fail_json(msg='ql-t36-cli did not read the versions of %s in its dry run; '
                             'check mode needs a tool that does' % ', '.join(unread),
                             devices=devices, cmd=runner.cmd)

    flashed = FLASHED[module.check_mode]
    result = dict(
        # A device that took blocks and then failed was changed all the same.
        changed_devices=[e.get('device') for e in devices
                         if e.get('status') == flashed or e.get('blocks')],
        skipped_devices=[e.get('device') for e in devices if e.get('status') == 'skipped'],
    )
    result['changed'] = bool(result['changed_devices'])
    if 'image' in report:
        result['image'] = report['image']
    if module._diff:
        result['diff'] = [diff for diff in (device_diff(entry, params['version'], module.check_mode)
                                            for entry in devices) if diff]
    runner.conclude(report, status, result)


if __name__ == '__main__':
    main()
