#!/usr/bin/python3
"""Simulated devices on loopback for the collection's tests and benchmark, ended by their PIDs.

  simulators.py start STATE --first 127.0.0.21 --count 3 [--same-port] [-- SIMULATOR OPTIONS]
  simulators.py closed --first 127.0.0.34        (a loopback address and port nobody answers on)
  simulators.py stop STATE

start prints {"devices": ["127.0.0.21:PORT", ...]} and adds each simulator to STATE; ports are
chosen free (--same-port: one port free on every address, for a scan). stop ends those of STATE.
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

LISTENING = re.compile(r'listening on ([0-9.]+):([0-9]+)')


def addresses(first, count):
    start = ipaddress.IPv4Address(first)
    result = [start + i for i in range(count)]
    if not all(a.is_loopback for a in result):
        sys.exit('simulators.py: loopback addresses only, not %s..%s' % (result[0], result[-1]))
    return [str(a) for a in result]


def free_on_all(hosts):
    for _ in range(50):
        port = random.randint(20000, 60000)
        try:
            for host in hosts:
                with socket.socket() as probe:
                    probe.bind((host, port))
            return port
        except OSError:
            continue
    sys.exit('simulators.py: no port free on all of %s' % ', '.join(hosts))


def load(state):
    return json.load(open(state)) if os.path.exists(state) else []


def alive(pid):
    try:
        with open('/proc/%d/stat' % pid) as stat:
            return stat.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except (OSError, IndexError):
        return False


def signal_simulator(pid, number):
    try:
        # Only a simulator this script started: a PID may have been reused since.
        with open('/proc/%d/cmdline' % pid, 'rb') as cmdline:
            if b'ql-t36-sim' in cmdline.read():
                os.kill(pid, number)
    except OSError:
        pass


def stop(entries):
    for entry in entries:
        signal_simulator(entry['pid'], signal.SIGTERM)
    deadline = time.monotonic() + 5
    while any(alive(entry['pid']) for entry in entries) and time.monotonic() < deadline:
        time.sleep(0.05)
    for entry in entries:
        if alive(entry['pid']):
            signal_simulator(entry['pid'], signal.SIGKILL)
        if os.path.exists(entry['log']):
            os.remove(entry['log'])


def start(hosts, port, options, logs):
    simulator = os.environ.get('QL_T36_SIM') or shutil.which('ql-t36-sim')
    if not simulator:
        sys.exit('simulators.py: ql-t36-sim is not on PATH')
    started = []
    for host in hosts:
        log = os.path.join(logs, 'sim-%s-%d.log' % (host, time.monotonic_ns()))
        with open(log, 'wb') as out:
            process = subprocess.Popen([simulator, '--listen=%s:%d' % (host, port)] + options,
                                       stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        started.append(dict(pid=process.pid, log=log))
    deadline = time.monotonic() + 10
    for entry in started:
        while 'device' not in entry:
            found = LISTENING.search(open(entry['log']).read())
            if found:
                entry['device'] = '%s:%s' % found.groups()
            elif not alive(entry['pid']) or time.monotonic() > deadline:
                stop(started)
                return None
            else:
                time.sleep(0.02)
    return started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('action', choices=('start', 'closed', 'stop'))
    parser.add_argument('state', nargs='?')
    parser.add_argument('--first', default='127.0.0.1')
    parser.add_argument('--count', type=int, default=1)
    parser.add_argument('--same-port', action='store_true')
    argv = sys.argv[1:]
    options = argv[argv.index('--') + 1:] if '--' in argv else []
    args = parser.parse_args(argv[:argv.index('--')] if '--' in argv else argv)
    if args.action == 'stop':
        stop(load(args.state))
        if os.path.exists(args.state):
            os.remove(args.state)
        return
    hosts = addresses(args.first, args.count)
    if args.action == 'closed':
        with socket.socket() as probe:
            probe.bind((hosts[0], 0))
            print(json.dumps(dict(devices=['%s:%d' % probe.getsockname()])))
        return
    for _ in range(5):
        started = start(hosts, free_on_all(hosts) if args.same_port else 0, options,
                        os.path.dirname(os.path.abspath(args.state)))
        if started:
            break
    else:
        sys.exit('simulators.py: the simulators did not start')
    entries = load(args.state) + started
    with open(args.state, 'w') as state:
        json.dump(entries, state)
    print(json.dumps(dict(devices=[entry['device'] for entry in started])))


if __name__ == '__main__':
    main()
