#!/usr/bin/env python3
"""Runs a command and tells, per thread, where its time went: on a core, waiting for one (the
run queue: other work on the machine), or asleep (waiting for another thread or for the disk).

Usage: scripts/thread_times.py COMMAND [ARGS...]

Samples /proc/PID/task/*/{stat,schedstat,status} every 50 ms while the command runs (Linux
only; schedstat needs a kernel with schedstats, as Debian's has). Per thread it prints when it
was first and last seen, CPU time (user and system), run-queue wait, the rest of its life as
sleep, voluntary and involuntary context switches, and the share of samples in each state
(R running or runnable, S sleeping, D waiting for the disk). A pipeline that keeps its cores
busy shows little sleep on its busiest threads; the CPU times do not depend much on the load.
"""
import collections
import os
import subprocess
import sys
import time

if len(sys.argv) < 2:
    sys.exit(__doc__)
tick = os.sysconf('SC_CLK_TCK')
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
states = collections.defaultdict(collections.Counter)
first, last, sched, switches = {}, {}, {}, {}
start = time.time()
while child.poll() is None:
    now = time.time() - start
    try:
        tasks = os.listdir(f'/proc/{child.pid}/task')
    except OSError:
        break
    for tid in map(int, tasks):
        base = f'/proc/{child.pid}/task/{tid}'
        try:
            with open(f'{base}/stat') as f:
                stat = f.read()
            with open(f'{base}/schedstat') as f:
                onCpu, runQueue = f.read().split()[:2]
            with open(f'{base}/status') as f:
                status = f.read().splitlines()
        except OSError:
            continue  # the thread ended between listing and reading
        fields = stat[stat.rindex(')') + 2:].split()
        states[tid][fields[0]] += 1
        first.setdefault(tid, now)
        last[tid] = now
        sched[tid] = (int(onCpu) / 1e9, int(runQueue) / 1e9,
                      int(fields[11]) / tick, int(fields[12]) / tick)
        switches[tid] = [line.split()[1] for line in status if 'ctxt_switches' in line]
    time.sleep(0.05)
print(f'wall {time.time() - start:.2f} s, exit status {child.wait()}')
for tid in sorted(states):
    onCpu, runQueue, user, system = sched[tid]
    life = last[tid] - first[tid]
    seen = sum(states[tid].values())
    shares = ' '.join(f'{s}:{100 * n / seen:.0f}%' for s, n in states[tid].most_common())
    print(f'thread {tid}: {first[tid]:.1f}-{last[tid]:.1f} s, CPU {onCpu:.2f} s '
          f'(user {user:.2f}, system {system:.2f}), run queue {runQueue:.2f} s, '
          f'asleep {max(life - onCpu - runQueue, 0):.2f} s, context switches '
          f'{"/".join(switches[tid])} (voluntary/involuntary), {shares}')
