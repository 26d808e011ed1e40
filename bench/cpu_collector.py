#!/usr/bin/env python3
"""Times the processor collector in-process (bench_cpu_collector, built by CMake) on:
  - a generated machine with 1024 present CPUs (2 sockets x 256 cores x 2 threads, four
    caches per CPU, cpufreq per CPU, 8 NUMA nodes): the merged "Cores" list is used;
  - the 64-CPU fixture machine tests/fixtures/cpu-x86-64cpus (one child per CPU).

usage: bench/cpu_collector.py [BUILD_DIR] [RUNS]

Targets: under 30 ms for 1024 CPUs, under 20 ms for 64. The machine is shared: compare
figures within one run."""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def fmt_list(cpus):
    cpus = sorted(cpus)
    out, i = [], 0
    while i < len(cpus):
        j = i
        while j + 1 < len(cpus) and cpus[j + 1] == cpus[j] + 1:
            j += 1
        out.append(str(cpus[i]) if i == j else f'{cpus[i]}-{cpus[j]}')
        i = j + 1
    return ','.join(out)


def write(base, rel, text):
    path = os.path.join(base, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write(text + '\n')


def generate(base, sockets=2, cores=256, threads=2, nodes=8):
    n = sockets * cores * threads
    cpu = 'sys/devices/system/cpu'
    per_core = sockets * cores
    info = []
    for c in range(n):
        core = c % per_core
        sock = core // cores
        sib = [core + t * per_core for t in range(threads)]
        ccx = core // 8  # eight cores share an L3
        l3 = [x for x in range(n) if (x % per_core) // 8 == ccx]
        d = f'{cpu}/cpu{c}'
        write(base, f'{d}/topology/physical_package_id', str(sock))
        write(base, f'{d}/topology/core_id', str(core % cores))
        write(base, f'{d}/topology/thread_siblings_list', fmt_list(sib))
        write(base, f'{d}/topology/core_siblings_list', fmt_list([x for x in range(n) if (x % per_core) // cores == sock]))
        for idx, (lvl, typ, size, shared) in enumerate(((1, 'Data', '32K', sib), (1, 'Instruction', '32K', sib),
                                                       (2, 'Unified', '1024K', sib), (3, 'Unified', '32768K', l3))):
            k = f'{d}/cache/index{idx}'
            write(base, f'{k}/level', str(lvl))
            write(base, f'{k}/type', typ)
            write(base, f'{k}/size', size)
            write(base, f'{k}/shared_cpu_list', fmt_list(shared))
            write(base, f'{k}/ways_of_associativity', '8')
            write(base, f'{k}/coherency_line_size', '64')
            write(base, f'{k}/number_of_sets', '64')
        p = f'{cpu}/cpufreq/policy{c}'
        for name, v in (('scaling_cur_freq', 1500000 + 1000 * (c % 900)), ('cpuinfo_min_freq', 1500000),
                        ('cpuinfo_max_freq', 3100000), ('scaling_governor', 'performance'),
                        ('scaling_driver', 'acpi-cpufreq')):
            write(base, f'{p}/{name}', str(v))
        os.symlink(f'../cpufreq/policy{c}', os.path.join(base, d, 'cpufreq'))
        if c:
            write(base, f'{d}/online', '1')
        info.append(f'processor\t: {c}\nvendor_id\t: AuthenticAMD\nmodel name\t: AMD EPYC 9754 128-Core Processor\n'
                    f'physical id\t: {sock}\ncpu MHz\t\t: 1500.000\nflags\t\t: fpu vme de pse tsc msr pae lm svm aes avx avx2\n')
    write(base, 'proc/cpuinfo', '\n'.join(info))
    for name in ('present', 'online', 'possible'):
        write(base, f'{cpu}/{name}', f'0-{n - 1}')
    for nd in range(nodes):
        span = per_core // nodes
        cpus = [x for x in range(n) if (x % per_core) // span == nd]
        write(base, f'sys/devices/system/node/node{nd}/cpulist', fmt_list(cpus))
        write(base, f'sys/devices/system/node/node{nd}/distance', ' '.join('10' if i == nd else '32' for i in range(nodes)))
        write(base, f'sys/devices/system/node/node{nd}/meminfo', f'Node {nd} MemTotal:       131072000 kB\nNode {nd} MemFree:        120000000 kB')
    return n


def files_opened(exe, sysroot):
    """Files the collector opens in one run, counted with strace when it is installed."""
    import shutil
    if not shutil.which('strace'):
        return None
    base = subprocess.run(['strace', '-f', '-c', '-e', 'trace=openat', exe, sysroot, '2'],
                          capture_output=True, text=True).stderr
    for line in base.splitlines():
        parts = line.split()
        if parts and parts[-1] == 'openat':
            return int(parts[3])
    return None


def run(exe, sysroot, runs, label):
    out = subprocess.run([exe, sysroot, runs], capture_output=True, text=True, check=True).stdout.strip()
    print(label)
    for line in out.splitlines():
        print('  ' + line)
    opened = files_opened(exe, sysroot)
    if opened is not None:
        # Two collector runs plus two baseline loops; the baseline opens one file per CPU.
        print(f'  files opened per collector run (strace, approx.): {opened // 2}')


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build')
    runs = sys.argv[2] if len(sys.argv) > 2 else '20'
    exe = os.path.join(build, 'bench_cpu_collector')
    if not os.path.exists(exe):
        sys.exit(f'{exe} is missing: build the project first')
    with tempfile.TemporaryDirectory() as tmp:
        n = generate(tmp)
        run(exe, tmp, runs, f'{n} CPUs (generated, merged list; target < 30 ms):')
    fixture = os.path.join(ROOT, 'tests', 'fixtures', 'cpu-x86-64cpus')
    run(exe, fixture, runs, '64 CPUs (tests/fixtures/cpu-x86-64cpus; target < 20 ms):')


if __name__ == '__main__':
    main()
