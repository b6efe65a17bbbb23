#!/usr/bin/python3
"""What the Ansible collection costs beyond the command-line tool's own time.

Three local sites of 32 simulated devices each (127.0.0.101-132, 133-164, 165-196, ports chosen
free, ended by PID). The same work twice: a play over the three sites (one local host each, forks
3) with three tasks per site (qlt36.fleet.info, qlt36.fleet.addresses that finds every device as
planned, qlt36.fleet.firmware that finds every device at the version), and the command-line tool
alone doing those three commands for each site, the sites at once. Prints the wall times and the
collection's overhead per site and task (goal: under 1 s).

Usage: bench/ansible_sites.py [ROUNDS]   (the tool and simulator of build/dev; 3 rounds)
"""
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COLLECTIONS = os.path.join(ROOT, 'ansible')
SIMULATORS = os.path.join(ROOT, 'scripts/simulators.py')
CLI = os.path.join(ROOT, 'build/dev/cli/ql-t36-cli')
SITES = (('site_a', '127.0.0.101'), ('site_b', '127.0.0.133'), ('site_c', '127.0.0.165'))
DEVICES_PER_SITE = 32
TASKS_PER_SITE = 3

PLAY = '''---
- name: The same work on every site
  hosts: sites
  gather_facts: false
  tasks:
    - name: Read the devices
      qlt36.fleet.info:
        devices: "{{ site_devices }}"
    - name: Apply the plan they hold already
      qlt36.fleet.addresses:
        plan: "{{ site_plan }}"
    - name: Roll out the version they run
      qlt36.fleet.firmware:
        devices: "{{ site_devices }}"
        image: "{{ image }}"
        version: "2.00"
'''
# Ansible's own cost for the same shape of play: three tasks per site that run /bin/true.
BASELINE = '''---
- name: Three tasks on every site that do nothing
  hosts: sites
  gather_facts: false
  tasks:
    - name: Nothing
      ansible.builtin.command: /bin/true
    - name: Nothing again
      ansible.builtin.command: /bin/true
    - name: Nothing a third time
      ansible.builtin.command: /bin/true
'''


def cli_work(devices, plan, image):
    """The three commands of one site, one after another; returns the seconds they took."""
    start = time.monotonic()
    device_args = ['--device=' + device for device in devices]
    for arguments in (device_args + ['inventory'], ['apply', plan],
                      device_args + ['flash', '--skip-version=2.00', '--verify-version=2.00', image]):
        done = subprocess.run([CLI, '--json'] + arguments, stdout=subprocess.PIPE, check=False)
        if done.returncode != 0:
            sys.exit('bench: ql-t36-cli %s ended with %d' % (arguments[-2], done.returncode))
    return time.monotonic() - start


def cpu():
    """CPU seconds of the ended children: on a loaded machine a steadier cost than wall time."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command, env, cpus):
    start, start_cpu = time.monotonic(), cpu()
    done = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          check=False)
    if done.returncode != 0:
        sys.exit('bench: %s failed:\n%s' % (command[0], done.stdout.decode(errors='replace')))
    cpus.append(cpu() - start_cpu)
    return time.monotonic() - start


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    for program in (CLI, os.path.join(ROOT, 'build/dev/sim/ql-t36-sim')):
        if not os.access(program, os.X_OK):
            sys.exit('bench: %s is missing (cmake --workflow --preset dev)' % program)
    scratch = tempfile.mkdtemp(prefix='ql-t36-bench-sites.')
    state = os.path.join(scratch, 'simulators.json')
    env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=COLLECTIONS, ANSIBLE_FORKS='3',
               PATH=os.pathsep.join([os.path.dirname(CLI), os.path.join(ROOT, 'build/dev/sim'),
                                     '/usr/bin', os.environ.get('PATH', '')]))
    try:
        sites = {}
        for name, first in SITES:
            started = subprocess.run([SIMULATORS, 'start', state, '--first', first,
                                      '--count', str(DEVICES_PER_SITE)], env=env, check=True,
                                     stdout=subprocess.PIPE)
            devices = json.loads(started.stdout)['devices']
            plan = os.path.join(scratch, name + '.csv')
            with open(plan, 'w') as out:
                out.write('device,ip,dp310,mask,gateway,multicast\n')
                out.writelines('%s,,,,192.168.0.254,\n' % device for device in devices)
            sites[name] = dict(site_devices=devices, site_plan=plan)
        image = os.path.join(scratch, 'image.bin')
        with open(image, 'wb') as out:
            out.write(b'QL-T36' * 1000)
        inventory = os.path.join(scratch, 'sites.json')
        with open(inventory, 'w') as out:
            json.dump(dict(sites=dict(hosts=sites, vars=dict(
                ansible_connection='local', ansible_python_interpreter='/usr/bin/python3',
                image=image))), out)
        play, baseline = os.path.join(scratch, 'play.yml'), os.path.join(scratch, 'baseline.yml')
        with open(play, 'w') as out:
            out.write(PLAY)
        with open(baseline, 'w') as out:
            out.write(BASELINE)

        plays, tools, baselines, play_cpus, tool_cpus, baseline_cpus = [], [], [], [], [], []
        for _ in range(rounds):
            baselines.append(timed(['ansible-playbook', '-i', inventory, baseline], env, baseline_cpus))
            plays.append(timed(['ansible-playbook', '-i', inventory, play], env, play_cpus))
            with ThreadPoolExecutor(len(sites)) as pool:
                start, start_cpu = time.monotonic(), cpu()
                per_site = list(pool.map(lambda site: cli_work(site['site_devices'], site['site_plan'],
                                                               image), sites.values()))
                tools.append(time.monotonic() - start)
                tool_cpus.append(cpu() - start_cpu)
        play_time, tool_time = min(plays), min(tools)
        overhead = (play_time - tool_time) / TASKS_PER_SITE
        print('%d sites of %d simulated devices, %d tasks per site, best of %d rounds:'
              % (len(SITES), DEVICES_PER_SITE, TASKS_PER_SITE, rounds))
        print('  play (ansible-playbook, forks 3):        %6.2f s   (rounds: %s)'
              % (play_time, ', '.join('%.2f' % t for t in plays)))
        print('  ql-t36-cli alone, the sites at once:     %6.2f s   (rounds: %s; slowest site %.2f s)'
              % (tool_time, ', '.join('%.2f' % t for t in tools), max(per_site)))
        print('  collection overhead per site and task:   %6.2f s   (goal: under 1 s)' % overhead)
        print('  for scale, the same play running /bin/true three times: %.2f s; load average %s'
              % (min(baselines), ' '.join(open('/proc/loadavg').read().split()[:3])))
        print('  CPU time (user+sys, best round): play %.2f s, ql-t36-cli alone %.2f s, the /bin/true '
              'play %.2f s; collection CPU per site and task beyond the tool and Ansible: %.2f s'
              % (min(play_cpus), min(tool_cpus), min(baseline_cpus),
                 (min(play_cpus) - min(tool_cpus) - min(baseline_cpus)) / (len(SITES) * TASKS_PER_SITE)))
    finally:
        subprocess.run([SIMULATORS, 'stop', state], env=env, check=False)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == '__main__':
    main()
