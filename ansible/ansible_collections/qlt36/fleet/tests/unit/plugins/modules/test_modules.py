# -*- coding: utf-8 -*-
# The two halves of every module: its options to the tool's argument list, and the tool's status
# and report to the task's result. The tool itself is replaced by canned answers.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import stat

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes

from ansible_collections.qlt36.fleet.plugins.module_utils import runner
from ansible_collections.qlt36.fleet.plugins.modules import addresses, firmware, info

MODULES = dict(info=info, addresses=addresses, firmware=firmware)
IMAGE = os.path.abspath('image.bin')
PLAN_HEADER = '"device","ip","dp310","mask","gateway","multicast","mac"\r\n'


class Ended(Exception):
    pass


def report(*devices, **extra):
    document = dict(command='x', toolVersion='2.1.0', formatVersion=2, devices=list(devices))
    document.update(extra)
    return json.dumps(document)


def entry(device, status, **fields):
    fields.update(device=device, status=status, ok=status not in ('failed', 'busy', 'not started'),
                  error='Error:connect(), Code = 10061' if status == 'failed' else None)
    return fields


@pytest.fixture
def run(monkeypatch, tmp_path):
    """Runs a module against a canned tool; returns (its call or None, the result)."""
    def run_module(module, params, answer=(0, report(), ''), check=False, diff=False):
        calls = []

        def execute(argv, events_log=None):
            plan = argv[-1] if os.path.basename(argv[-1]).startswith('ql-t36-plan.') else None
            calls.append(dict(argv=argv, plan=plan and (oct(stat.S_IMODE(os.stat(plan).st_mode)),
                                                        open(plan, newline='').read(), plan)))
            return answer

        def end(self, **result):
            raise Ended(result)

        params = dict(params, cli='/bin/true', _ansible_check_mode=check, _ansible_diff=diff,
                      _ansible_tmpdir=str(tmp_path))
        basic._ANSIBLE_ARGS = to_bytes(json.dumps(dict(ANSIBLE_MODULE_ARGS=params)))
        monkeypatch.setattr(runner, 'execute', execute)
        monkeypatch.setattr(basic.AnsibleModule, 'exit_json', end)
        monkeypatch.setattr(basic.AnsibleModule, 'fail_json', lambda self, **r: end(self, failed=True, **r))
        with pytest.raises(Ended) as ended:
            MODULES[module].main()
        return (calls[0] if calls else None), ended.value.args[0]
    return run_module


COMMAND_LINES = [
    ('info', dict(devices=['127.0.0.2', '127.0.0.3:2001'], jobs=8, connect_timeout=0.5, timeout=2,
                  settle=0),
     ['--json', '--jobs=8', '--connect-timeout=0.5', '--timeout=2', '--settle=0',
      '--device=127.0.0.2', '--device=127.0.0.3:2001', 'inventory']),
    ('info', dict(scan='127.0.0.0/24', port=2001), ['--json', 'inventory', '--scan=127.0.0.0/24', '--port=2001']),
    ('firmware', dict(devices=['127.0.0.2'], image='image.bin', version='2.10', verify_delay=0.25,
                      backup=True, retries=2, max_failures=1, canary=1, size_timeout=3,
                      result_timeout=5.5),
     ['--json', '--device=127.0.0.2', 'flash', '--skip-version=2.10', '--verify-version=2.10',
      '--verify-delay=0.25', '--backup', '--retries=2', '--max-failures=1', '--canary=1',
      '--size-timeout=3', '--result-timeout=5.5', IMAGE]),
    ('firmware', dict(devices=['127.0.0.2'], image='image.bin', version='2.10', allow_truncation=True, _check=True),
     ['--json', '--device=127.0.0.2', 'flash', '--dry-run', '--skip-version=2.10', '--allow-truncation', IMAGE]),
    ('firmware', dict(devices=['127.0.0.2'], image='image.bin', version='2.10', force=True),
     ['--json', '--device=127.0.0.2', 'flash', '--verify-version=2.10', IMAGE]),
    ('addresses', dict(plan='plan.csv', _check=True, events_log='/dev/null'),
     ['--events', 'apply', '--dry-run', os.path.abspath('plan.csv')]),
]


@pytest.mark.parametrize('module, params, expected', COMMAND_LINES)
def test_command_line(run, module, params, expected):
    call, result = run(module, params, check=params.pop('_check', False))
    assert call['argv'] == ['/bin/true'] + expected


def test_plan_is_private_quoted_and_removed(run):
    config = [dict(device='127.0.0.2:2001', gateway='10.0.0.1'), dict(device='#127.0.0.3', mac='00A0B1C2D3F0')]
    call, result = run('addresses', dict(config=config))
    mode, text, path = call['plan']
    assert mode == '0o600'
    assert text == (PLAN_HEADER + '"127.0.0.2:2001","","","","10.0.0.1","",""\r\n'
                    '"#127.0.0.3","","","","","","00A0B1C2D3F0"\r\n')
    assert call['argv'][1:] == ['--json', 'apply', path]
    assert not os.path.exists(path)


A, B = '127.0.0.2:2000', '127.0.0.3:2000'
MOVED = entry(A, 'changed', addresses=['127.0.0.2', '10.0.0.20', '255.0.0.0', '10.0.0.9', '239.0.0.1'],
              mac=None, movedTo=None, changes=[dict(field='gateway', was='10.0.0.1', planned='10.0.0.9')])
RESULTS = [
    ('info', dict(devices=[]), None, dict(failed=True, msg='no devices given: nothing was contacted')),
    ('firmware', dict(devices=[], image='i', version='1'), None, dict(failed=True)),
    ('info', dict(devices=[A]), (2, '', 'ql-t36-cli: --jobs wants a number from 1 to 256, not "0"\n'),
     dict(failed=True, msg='ql-t36-cli: --jobs wants a number from 1 to 256, not "0"')),
    ('info', dict(devices=[A]), (130, report(entry(A, 'interrupted')), ''), dict(failed=True, msg='interrupted', signal='SIGINT')),
    ('info', dict(devices=[A]), (129, '', ''), dict(failed=True, msg='interrupted', signal='SIGHUP')),
    ('info', dict(devices=[A]), (0, 'A  version 2.00', ''), dict(failed=True)),
    ('info', dict(devices=[A]), (0, report(formatVersion=9), ''), dict(failed=True)),
    ('info', dict(devices=[A]), (0, json.dumps(dict(devices=[])), ''), dict(failed=True)),
    ('info', dict(devices=['127.0.0.2', B], events_log='/x'),  # events come as devices finish
     (0, '{"event":"run start","formatVersion":2,"seq":1}\n' + ''.join(
         '{"event":"outcome","seq":2,"time":"t","device":"%s","ok":true,"status":"ok"}\n' % d for d in (B, A)), ''),
     dict(changed=False, devices=[dict(device=d, ok=True, status='ok') for d in (A, B)])),
    ('addresses', dict(plan='p.csv'), (1, report(MOVED, entry(B, 'failed')), ''),
     dict(failed=True, changed=True, changed_devices=[A], failed_devices=[B],
          msg='1 of 2 devices failed: %s (failed: Error:connect(), Code = 10061)' % B)),
    ('addresses', dict(plan='p.csv', _diff=True), (0, report(MOVED, entry(B, 'unchanged')), ''),
     dict(changed=True, changed_devices=[A], diff=[dict(
         before_header=A, after_header=A,
         before='ip: 127.0.0.2\ndp310: 10.0.0.20\nmask: 255.0.0.0\ngateway: 10.0.0.1\nmulticast: 239.0.0.1\n',
         after='ip: 127.0.0.2\ndp310: 10.0.0.20\nmask: 255.0.0.0\ngateway: 10.0.0.9\nmulticast: 239.0.0.1\n')])),
    ('firmware', dict(devices=[A, B], image='i', version='2.10'),
     (0, report(entry(A, 'ok', version='2.00', versionAfter='2.10'), entry(B, 'skipped', version='2.10')), ''),
     dict(changed=True, changed_devices=[A], skipped_devices=[B])),
    ('firmware', dict(devices=[A, B], image='i', version='2.10', _check=True),
     (0, report(entry(A, 'planned', version='2.00'), entry(B, 'skipped', version='2.10')), ''),
     dict(changed=True, changed_devices=[A], skipped_devices=[B])),
    ('firmware', dict(devices=[A], image='i', version='2.10', _check=True), (0, report(entry(A, 'planned', version=None)), ''),
     dict(failed=True)),
    ('firmware', dict(devices=[A, B], image='i', version='2.10', canary=1),
     (1, report(entry(A, 'failed', blocks=[dict(result='Update Complete')]), entry(B, 'not started')), ''),
     dict(failed=True, failed_devices=[A, B], changed=True, changed_devices=[A])),
]


@pytest.mark.parametrize('module, params, answer, expected', RESULTS)
def test_result(run, module, params, answer, expected):
    check, diff = params.pop('_check', False), params.pop('_diff', False)
    call, result = run(module, params, answer or (0, report(), ''), check, diff)
    assert (call is None) == (answer is None)
    assert dict((key, result.get(key)) for key in expected) == expected
