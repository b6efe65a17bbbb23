# -*- coding: utf-8 -*-
# Copyright: QL-T36 tool maintainers
"""The one way this collection's modules run ql-t36-cli on a site's jump host.

Every module builds an argument list here (never a shell line), always with explicit devices or a
plan, so the settings file's default device is never contacted; reads the tool's JSON report (or,
with events_log, its JSON Lines written straight into that file); and turns the exit status into
a task result.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import subprocess

# The report formats this collection reads. 3 renamed a cut block's "written" to "sent" and counts
# unanswered scan addresses as scanned only; nothing the modules read changed, so both are read.
# A newer format may change what the modules rely on: it is refused, not guessed at.
FORMAT_VERSIONS = (2, 3)

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
SIGNALS = {129: 'SIGHUP', 130: 'SIGINT', 143: 'SIGTERM'}

COMMON_ARGUMENT_SPEC = dict(
    cli=dict(type='path', default='ql-t36-cli'),
    jobs=dict(type='int'),
    connect_timeout=dict(type='float'),
    timeout=dict(type='float'),
    settle=dict(type='int'),
    events_log=dict(type='path'),
)

# What a device's JSON entry holds besides its command's own fields.
_EVENT_ONLY_KEYS = ('seq', 'time', 'event')


def seconds(value):
    """A number of seconds as the tool reads it: plain decimals, never an exponent."""
    text = '%.3f' % value
    return text.rstrip('0').rstrip('.') if '.' in text else text


def common_arguments(params):
    """The tool's global options for the modules' common options."""
    arguments = []
    if params.get('jobs') is not None:
        arguments.append('--jobs=%d' % params['jobs'])
    if params.get('connect_timeout') is not None:
        arguments.append('--connect-timeout=' + seconds(params['connect_timeout']))
    if params.get('timeout') is not None:
        arguments.append('--timeout=' + seconds(params['timeout']))
    if params.get('settle') is not None:
        arguments.append('--settle=%d' % params['settle'])
    return arguments


def device_arguments(devices):
    # One word each, so a value can never be read as an option of its own.
    return ['--device=' + device for device in devices]


def execute(argv, events_log=None):
    """Runs the tool without a shell; returns (status, stdout, stderr) as text.

    With events_log the tool's JSON Lines go straight into that file (appended), so the log grows
    while the run goes and keeps what was said even if this module is killed; stdout is then the
    part this run added.
    """
    if events_log is None:
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        out, err = process.communicate()
    else:
        with open(events_log, 'ab') as log:
            start = log.seek(0, os.SEEK_END)
            process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.PIPE)
            err = process.communicate()[1]
        with open(events_log, 'rb') as log:
            log.seek(start)
            out = log.read()
    return (process.returncode, out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace'))


def parse_report(out, events):
    """The report as one document ({formatVersion, toolVersion, devices, ...}), or None."""
    if not events:
        try:
            document = json.loads(out)
        except ValueError:
            return None
        return document if isinstance(document, dict) else None
    document = None
    devices = []
    for line in out.splitlines():
        try:
            event = json.loads(line)
        except ValueError:
            return None
        kind = event.get('event') if isinstance(event, dict) else None
        if kind == 'run start':
            document = dict(command=event.get('command'), toolVersion=event.get('toolVersion'),
                            formatVersion=event.get('formatVersion'))
        elif kind == 'outcome':
            devices.append(dict((key, value) for key, value in event.items()
                                if key not in _EVENT_ONLY_KEYS))
    if document is not None:
        document['devices'] = devices
    return document


def label(device):
    """A device as the tool names it: HOST:PORT."""
    return device.strip() if ':' in device else device.strip() + ':2000'


def address_order(entry):
    host, _, port = entry.get('device', '').partition(':')
    return tuple(int(part) for part in host.split('.') if part.isdigit()) + (int(port or 0),)


def in_order(devices, order):
    """Events come as devices finish: back into the order given, else into address order (a
    scan's, as the JSON report has it)."""
    if order is None:
        return sorted(devices, key=address_order)
    position = dict((name, index) for index, name in enumerate(label(d) for d in order))
    return sorted(devices, key=lambda entry: position.get(entry.get('device'), len(position)))


def describe(entry):
    text = entry.get('status') or 'failed'
    if entry.get('error') and entry.get('error') != text:
        text += ': ' + entry['error']
    return '%s (%s)' % (entry.get('device'), text)


class Runner:
    """Runs the tool for one module call and ends the call on what it cannot go on from."""

    def __init__(self, module):
        self.module = module
        self.params = module.params
        self.cmd = None
        self.stderr = ''

    def executable(self):
        cli = self.params['cli']
        if os.sep in cli:
            if not (os.path.isfile(cli) and os.access(cli, os.X_OK)):
                self.module.fail_json(msg='%s is not an executable file' % cli)
            return cli
        return self.module.get_bin_path(cli, required=True)

    def argv(self, command_arguments):
        output = '--events' if self.params.get('events_log') else '--json'
        return ([self.executable(), output] + common_arguments(self.params)
                + list(command_arguments))

    def run(self, command_arguments, order=None):
        """Runs the tool; returns (report, status) for a run whose report can be read. `order`: the
        devices in the order given (None: address order).

        Usage errors, interrupts, unreadable reports and statuses other than 0 and 1 end the
        module call here, each with what the tool said.
        """
        argv = self.cmd = self.argv(command_arguments)
        events_log = self.params.get('events_log')
        try:
            status, out, err = execute(argv, events_log)
        except (OSError, IOError) as error:
            self.module.fail_json(msg='cannot run %s: %s' % (argv[0], error), cmd=argv)
        self.stderr = err
        report = parse_report(out, events_log is not None)
        if report and events_log is not None:
            report['devices'] = in_order(report['devices'], order)
        devices = report.get('devices', []) if report else []
        said = err.strip()
        if status == EXIT_USAGE:
            self.module.fail_json(msg=said or 'ql-t36-cli refused the command line', rc=status,
                                  cmd=argv, stderr=err)
        if status in SIGNALS:
            self.module.fail_json(msg='interrupted', signal=SIGNALS[status], rc=status, cmd=argv,
                                  devices=devices, stderr=err)
        if report is None or 'formatVersion' not in report:
            self.module.fail_json(
                msg='ql-t36-cli gave no report with a formatVersion (exit status %d)%s'
                % (status, ': ' + said if said else ''), rc=status, cmd=argv, stdout=out, stderr=err)
        if report['formatVersion'] not in FORMAT_VERSIONS:
            self.module.fail_json(
                msg='ql-t36-cli reports in format %s; this collection reads format %s'
                % (report['formatVersion'], ' and '.join(str(v) for v in FORMAT_VERSIONS)),
                rc=status, cmd=argv)
        if status not in (EXIT_OK, EXIT_FAILED):
            self.module.fail_json(msg='ql-t36-cli ended with status %d%s'
                                  % (status, ': ' + said if said else ''), rc=status, cmd=argv,
                                  devices=devices, stderr=err)
        return report, status

    def conclude(self, report, status, result):
        """Ends the call: failed when a device failed (naming each), with every entry returned."""
        devices = report['devices']
        failed = [entry for entry in devices if not entry.get('ok')]
        result.update(devices=devices, failed_devices=[entry.get('device') for entry in failed],
                      tool_version=report.get('toolVersion'), cmd=self.cmd)
        if failed:
            self.module.fail_json(
                msg='%d of %d devices failed: %s'
                % (len(failed), len(devices), ', '.join(describe(entry) for entry in failed)),
                **result)
        if status != EXIT_OK:
            # Every device done, yet the tool failed: its report or log could not be written.
            self.module.fail_json(msg=self.stderr.strip() or 'ql-t36-cli failed', **result)
        self.module.exit_json(**result)
