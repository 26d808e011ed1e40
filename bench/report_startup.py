#!/usr/bin/env python3
"""Wall time of `quarvel --report` over an empty machine (no collector finds anything), and
how much a program pays merely for linking the graphical toolkit.

usage: bench/report_startup.py [BUILD_DIR] [RUNS]

Prints medians over RUNS runs (default 50) of:
  - /bin/true (the cost of starting any process from this script),
  - a C program that links nothing, and one that links GTK 3 (dynamic loading alone),
  - quarvel --report with QUARVEL_SYSROOT pointing at an empty directory,
and the number of threads quarvel --report starts (from strace, when it is installed).
Numbers vary between runs on shared machines: compare the ratios within one run."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def median_ms(argv, env, runs):
    samples = []
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        samples.append((time.perf_counter() - t0) * 1000)
    return statistics.median(samples)


def build_probe(tmp, name, libs):
    src = os.path.join(tmp, name + '.c')
    with open(src, 'w') as f:
        f.write('int main(void) { return 0; }\n')
    exe = os.path.join(tmp, name)
    cmd = ['cc', src, '-o', exe, '-Wl,--no-as-needed'] + libs
    subprocess.run(cmd, check=True)
    return exe


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else 'build'
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    quarvel = os.path.abspath(os.path.join(build, 'quarvel'))
    with tempfile.TemporaryDirectory() as tmp:
        empty = os.path.join(tmp, 'machine')
        os.mkdir(empty)
        env = {'PATH': '/usr/bin:/bin', 'LANGUAGE': 'en', 'XDG_CONFIG_HOME': tmp,
               'QUARVEL_SYSROOT': empty}
        gtk_libs = subprocess.run(['pkg-config', '--libs', 'gtk+-3.0'], capture_output=True,
                                  text=True, check=True).stdout.split()
        plain = build_probe(tmp, 'plain', [])
        gtk = build_probe(tmp, 'gtk', gtk_libs)
        for argv in ([quarvel, '--report'], [plain], [gtk]):   # warm the page cache
            subprocess.run(argv, env=env, stdout=subprocess.DEVNULL)
        t_true = median_ms(['/bin/true'], env, runs)
        t_plain = median_ms([plain], env, runs)
        t_gtk = median_ms([gtk], env, runs)
        t_report = median_ms([quarvel, '--report'], env, runs)
        print(f'median of {runs} runs, milliseconds of wall time')
        print(f'  /bin/true                         {t_true:7.2f}')
        print(f'  empty C program                   {t_plain:7.2f}')
        print(f'  empty C program linking GTK 3     {t_gtk:7.2f}'
              f'   (toolkit loading alone: {t_gtk - t_plain:.2f})')
        print(f'  quarvel --report, empty machine   {t_report:7.2f}'
              f'   (target: under 20)')
        libs = subprocess.run(['ldd', quarvel], capture_output=True, text=True).stdout
        print(f'  quarvel links GTK: {"yes" if "libgtk-3" in libs else "no"}')
        if shutil.which('strace'):
            out = subprocess.run(['strace', '-f', '-e', 'trace=clone,clone3', '-o', '/dev/stdout',
                                  quarvel, '--report'], env=env, capture_output=True,
                                 text=True).stdout
            threads = sum(1 for line in out.splitlines() if 'CLONE_THREAD' in line)
            print(f'  threads started by quarvel --report: {threads}')
        else:
            print('  (install strace to count the threads quarvel --report starts)')


if __name__ == '__main__':
    main()
