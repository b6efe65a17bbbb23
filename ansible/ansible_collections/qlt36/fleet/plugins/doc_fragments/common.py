# -*- coding: utf-8 -*-
# Copyright: QL-T36 tool maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    # The options every module hands to ql-t36-cli.
    DOCUMENTATION = r'''
options:
  cli:
    description:
      - The command-line tool on the managed host (the site's jump host), a path or a name
        looked up on C(PATH).
    type: path
    default: ql-t36-cli
  jobs:
    description:
      - Devices handled at once by the tool (its C(--jobs)), 1 to 256; the tool's default is 32.
    type: int
  connect_timeout:
    description:
      - The bound on each connection attempt in seconds (C(--connect-timeout)).
    type: float
  timeout:
    description:
      - The reply wait of reads and sets in seconds (C(--timeout)).
    type: float
  settle:
    description:
      - After connecting, wait this many milliseconds before the first command (C(--settle)),
        0 to 10000.
    type: int
  events_log:
    description:
      - A file on the managed host that the tool's events (C(--events), JSON Lines of connects,
        commands, replies, blocks, retries and each device's outcome) are appended to as the
        run goes.
      - Without it, the tool's JSON report is read and nothing is written on the managed host.
    type: path
requirements:
  - ql-t36-cli on the managed host (Debian package C(ql-t36-cli)).
notes:
  - The tool runs on the managed host with an argument list, never through a shell.
  - Devices are always given explicitly; the tool's settings file (and its default device) is
    never used.
  - Option values are checked by the tool before any device is contacted; a value it refuses
    fails the task with its message.
'''
