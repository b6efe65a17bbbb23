#!/usr/bin/python3
"""A fleet of simulated devices on loopback, to try the command-line tool and the Ansible
collection on (their tests and benchmark use it too). Ports are chosen free; the simulators are
ended by their PIDs, kept in STATE.

  scripts/simulators.py start STATE --first 127.0.0.21 --count 3 [--same-port] [-- SIM OPTIONS]
  scripts/simulators.py closed --first 127.0.0.34    (an address and port where nothing answers)
  scripts/simulators.py stop STATE

start prints {"devices": ["127.0.0.21:PORT", ...]}; --same-port puts them all on one port, as a
scan wants. The simulator is QL_T36_SIM, else ql-t36-sim on the PATH.
"""
import argparse
import ipaddress
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import time


def alive(pid):
    try:
        with open('/proc/%d/stat' % pid) as stat:
            return stat.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except (OSError, IndexError):
        return False


def stop(entries):
    for number in (signal.SIGTERM, signal.SIGKILL):
        for entry in entries:
            try:
                # Only a simulator started here: a PID may have been reused since.
                with open('/proc/%d/cmdline' % entry['pid'], 'rb') as cmdline:
                    if b'ql-t36-sim' in cmdline.read():
                        os.kill(entry['pid'], number)
            except OSError:
                pass
        deadline = time.monotonic() + 5
        while any(alive(entry['pid']) for entry in entries) and time.monotonic() < deadline:
            time.sleep(0.05)
    for entry in entries:
        if os.path.exists(entry['log']):
            os.remove(entry['log'])


def start(hosts, port, options, folder):
    simulator = os.environ.get('QL_T36_SIM') or shutil.which('ql-t36-sim')
    if not simulator:
        sys.exit('simulators.py: ql-t36-sim is not on the PATH')
    started = []
    for host in hosts:
        log = os.path.join(folder, 'sim-%s-%d.log' % (host, time.monotonic_ns()))
        with open(log, 'wb') as out:
            process = subprocess.Popen([simulator, '--listen=%s:%d' % (host, port)] + options,
                                       stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        started.append(dict(pid=process.pid, log=log))
    deadline = time.monotonic() + 10
    for entry in started:
        while 'device' not in entry:
            found = re.search(r'listening on ([0-9.]+:[0-9]+)', open(entry['log']).read())
            if found:
                entry['device'] = found.group(1)
            elif not alive(entry['pid']) or time.monotonic() > deadline:
                stop(started)
                return None
            else:
                time.sleep(0.02)
    return started


def main():
    argv = sys.argv[1:]
    split = argv.index('--') if '--' in argv else len(argv)
    parser = argparse.ArgumentParser()
    parser.add_argument('action', choices=('start', 'closed', 'stop'))
    parser.add_argument('state', nargs='?', default='simulators.json')
    parser.add_argument('--first', default='127.0.0.1')
    parser.add_argument('--count', type=int, default=1)
    parser.add_argument('--same-port', action='store_true')
    args = parser.parse_args(argv[:split])
    entries = json.load(open(args.state)) if os.path.exists(args.state) else []
    if args.action == 'stop':
        stop(entries)
        if os.path.exists(args.state):
            os.remove(args.state)
        return
    hosts = [ipaddress.IPv4Address(args.first) + i for i in range(args.count)]
    if not all(host.is_loopback for host in hosts):
        sys.exit('simulators.py: loopback addresses only')
    hosts = [str(host) for host in hosts]
    if args.action == 'closed':
        with socket.socket() as probe:
            probe.bind((hosts[0], 0))
            print(json.dumps(dict(devices=['%s:%d' % probe.getsockname()])))
        return
    for _ in range(5):
        # A port free now may be taken before the simulators bind it: then try another.
        port = random.randint(20000, 60000) if args.same_port else 0
        started = start(hosts, port, argv[split + 1:], os.path.dirname(os.path.abspath(args.state)))
        if started:
            break
    else:
        sys.exit('simulators.py: the simulators did not start')
    with open(args.state, 'w') as state:
        json.dump(entries + started, state)
    print(json.dumps(dict(devices=[entry['device'] for entry in started])))


if __name__ == '__main__':
    main()
