#!/usr/bin/env python3
"""The report's speed, measured in one run and printed side by side (bench/run_all.sh runs
this, then the window's start). Figures of one run are comparable with each other; on a
shared machine compare the ratios, and prefer the processor times (user + system, which
waiting for a core does not inflate) to the wall times.

usage: bench/suite.py [BUILD_DIR] [--runs N] [--quick] [SECTION...]

Sections (all by default):
  peers     quarvel --report beside lshw, hwinfo --short, inxi -F and the pipeline
            lscpu; lspci -vv; lsusb -v; lsblk -O; sensors; free (wall, processor, memory)
  floor     the report against reading once the very files it read (found with strace),
            on this machine and on every fixture machine; also lists files read twice.
            Over a fixture also against reading them opened the guarded way (-g)
  scaling   the report over generated machines that grow (CPUs, disks, interfaces, USB
            devices), with the cost per item and the collectors' share
  ids       loading the identifier databases (bench_ids_load)

--quick uses fewer runs and smaller trees (for trying the suite, not for figures)."""
import json
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import gen_machine  # noqa: E402

PIPELINE = 'lscpu; lspci -vv; lsusb -v; lsblk -O; sensors; free'


def load():
    with open('/proc/loadavg') as f:
        return ' '.join(f.read().split()[:3])


def hyperfine(commands, runs, env, warmup=2):
    """{name: (median wall ms, mean processor ms)} for [(name, command line)]."""
    with tempfile.NamedTemporaryFile(suffix='.json') as out:
        argv = ['hyperfine', '-N', '--style', 'none', '--warmup', str(warmup), '--runs',
                str(runs), '--export-json', out.name]
        for name, cmd in commands:
            argv += ['-n', name, cmd]
        subprocess.run(argv, env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        data = json.load(open(out.name))
    return {r['command']: (r['median'] * 1000, (r['user'] + r['system']) * 1000)
            for r in data['results']}


def peak_mib(argv, env, runs=3):
    """Median peak resident memory (MiB) of the program and the children it waited for."""
    kib = []
    for _ in range(runs):
        r = subprocess.run(['/usr/bin/time', '-f', '%M'] + argv, env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        last = r.stderr.strip().splitlines()[-1] if r.stderr.strip() else ''
        if last.isdigit():
            kib.append(int(last))
    return statistics.median(kib) / 1024 if kib else float('nan')


LOADER_FILES = re.compile(r'(\.so(\.[0-9]+)*|/etc/ld\.so\.cache)$')
# strace -y names the file behind every descriptor, also one opened relative to a directory
# descriptor or reopened through /proc/self/fd, which is how reads under a sysroot go.
CALL = re.compile(r'^(\d+) +(\w+)\((.*)\) += (-?\d+)(?:<(.*)>)?')
FD_ARG = re.compile(r'^(\d+)<(.*?)>(?:[,)]|$)')


def unescape(path):
    return path.encode('latin-1', 'backslashreplace').decode('unicode_escape').encode(
        'latin-1').decode('utf-8', 'replace')


def files_read(argv, env):
    """Files the program read (read, pread, getdents or mmap on a descriptor it opened), in
    the order of first reading, and those it read again after opening them anew. The dynamic
    loader's libraries are not the report's files and are left out. Paths are those of this
    machine's file system: under a sysroot they include it."""
    # One trace per thread (-ff): a large machine is read on several threads, and calls of
    # threads running at once would be cut in two in one trace. Each thread opens, reads and
    # closes its own descriptors.
    lines = []
    with tempfile.TemporaryDirectory() as traces:
        subprocess.run(['strace', '-ff', '-qq', '-y', '-e',
                        'trace=openat,open,openat2,read,pread64,getdents64,mmap,close', '-o',
                        os.path.join(traces, 't')] + argv, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        for name in sorted(os.listdir(traces), key=lambda n: int(n.split('.')[-1])):
            pid = name.split('.')[-1]
            with open(os.path.join(traces, name), errors='replace') as f:
                lines += [f'{pid} {line}' for line in f.read().splitlines()]
    open_fds = {}  # (pid, fd) -> [path, read in this opening]
    reads = {}     # path -> openings in which it was read
    for line in lines:
        m = CALL.match(line)
        if not m:
            continue
        pid, call, args, ret, ret_path = m.groups()
        if call in ('openat', 'open', 'openat2'):
            # Directories opened with openat2 are those the reader keeps open under a sysroot;
            # it lists them to answer its own looks, which no floor needs.
            if ret.startswith('-'):
                continue
            if 'O_PATH' in args or call == 'openat2':
                open_fds.pop((pid, int(ret)), None)  # the number now names something else
                continue
            # The path as opened where it is absolute (/proc/self/… names the reader, not the
            # traced program), else the file the descriptor turned out to be.
            opened = re.search(r'"([^"]*)"', args)
            if opened and opened.group(1).startswith('/') and \
                    not opened.group(1).startswith('/proc/self/fd/'):
                open_fds[(pid, int(ret))] = [unescape(opened.group(1)), False]
            elif ret_path is not None:
                open_fds[(pid, int(ret))] = [unescape(ret_path), False]
            continue
        fd = FD_ARG.match(args.split(', ')[4] + ',' if call == 'mmap' and args.count(', ') > 4
                          else args)
        if not fd:
            continue
        key = (pid, int(fd.group(1)))
        if call == 'close':
            open_fds.pop(key, None)
            continue
        entry = open_fds.get(key)
        if not entry or entry[1] or ret.startswith('-') or LOADER_FILES.search(entry[0]):
            continue
        entry[1] = True
        reads[entry[0]] = reads.get(entry[0], 0) + 1
    return list(reads), [p for p, n in reads.items() if n > 1]


def record_target(target, measured, met):
    """One line of the summary bench/run_all.sh prints at its end (QUARVEL_BENCH_TARGETS names
    the file): the target, what this run measured, and whether it held (None: a figure to judge
    by eye, such as the cost per added item)."""
    path = os.environ.get('QUARVEL_BENCH_TARGETS')
    if path:
        with open(path, 'a') as f:
            verdict = '' if met is None else 'met' if met else 'not met'
            f.write(f'{target}\t{measured}\t{verdict}\n')


def ratio(a, b):
    return a / b if b else float('nan')


def median_or_nan(values):
    return statistics.median(values) if values else float('nan')


def section_peers(build, runs, env):
    q = os.path.join(build, 'quarvel')
    tools = [('quarvel --report', f'{q} --report'), ('lshw', 'lshw'),
             ('hwinfo --short', 'hwinfo --short'), ('inxi -F', 'inxi -F'),
             ('pipeline', f"bash -c '{PIPELINE}'")]
    present = [(n, c) for n, c in tools if shutil.which(c.split()[0])]
    missing = [n for n, c in tools if (n, c) not in present]
    print(f'\n== The report beside its peers ({runs} runs each; load {load()}) ==')
    if missing:
        print(f'  not installed, skipped: {", ".join(missing)} (bench/run_all.sh installs them)')
    res = hyperfine(present, runs, env)
    base = res['quarvel --report']
    print(f'  {"":18s} {"wall median":>12s} {"× quarvel":>10s} {"processor":>10s} '
          f'{"× quarvel":>10s} {"peak memory":>12s}')
    for name, cmd in present:
        wall, cpu = res[name]
        argv = ['bash', '-c', PIPELINE] if name == 'pipeline' else cmd.split()
        mib = peak_mib(argv, env)
        print(f'  {name:18s} {wall:9.1f} ms {ratio(wall, base[0]):9.1f}× {cpu:7.1f} ms '
              f'{ratio(cpu, base[1]):9.1f}× {mib:8.1f} MiB')
        if name == 'quarvel --report':
            record_target('report peak memory ≤ 10 MiB', f'{mib:.1f} MiB', mib <= 10)
    print('  pipeline = ' + PIPELINE)
    print('  target: quarvel --report peak memory ≤ 10 MiB on an ordinary machine')
    if os.environ.get('DISPLAY') or os.environ.get('WAYLAND_DISPLAY'):
        bare = {k: v for k, v in env.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY')}
        r = hyperfine([('with display', f'{q} --report')], runs, env)['with display']
        r2 = hyperfine([('without', f'{q} --report')], runs, bare)['without']
        print(f'  with a display the report asks the toolkit for the monitors: '
              f'{r[0]:.1f} ms wall, {r[1]:.1f} ms processor, '
              f'{peak_mib([q, "--report"], env):.1f} MiB; without a display '
              f'{r2[0]:.1f} ms, {r2[1]:.1f} ms, {peak_mib([q, "--report"], bare):.1f} MiB')


def floor_row(build, runs, env, label, tmp):
    """Over a capture the report opens each file the guarded way (bench_read_files -g), which
    takes twice the calls of a plain open; that floor is shown beside the plain one."""
    q = os.path.join(build, 'quarvel')
    reader = os.path.join(build, 'bench_read_files')
    files, twice = files_read([q, '--report'], env)
    listing = os.path.join(tmp, 'files.txt')
    with open(listing, 'w') as f:
        f.write(''.join(p + '\n' for p in files))
    # The reader with nothing to read: what starting any program costs here. A virtual machine
    # that traps the processor's identification makes that most of a small machine's floor.
    commands = [('report', f'{q} --report'), ('floor', f'{reader} {listing}'),
                ('start', f'{reader} /dev/null')]
    guarded = bool(env.get('QUARVEL_SYSROOT'))
    if guarded:
        commands.append(('guarded', f'{reader} {listing} -g'))
    res = hyperfine(commands, runs, env)
    (rw, rc), (fw, fc), sc = res['report'], res['floor'], res['start'][1]
    gc = res['guarded'][1] if guarded else float('nan')
    # Where reading takes the floor barely past starting, the difference is noise: no ratio.
    net = ratio(rc - sc, fc - sc) if fc - sc >= 0.2 else float('nan')
    print(f'  {label:28s} {len(files):6d} {rw:9.2f} {fw:9.2f} {ratio(rw, fw):6.2f}× '
          f'{rc:9.2f} {fc:9.2f} {ratio(rc, fc):6.2f}×'
          + (f' {gc:8.2f} {ratio(rc, gc):6.2f}×' if guarded else f' {"":8s} {"":7s}')
          + f' {sc:7.2f} ' + (f'{"–":>7s}' if math.isnan(net) else f'{net:6.2f}×')
          + (f'   read twice: {len(twice)} ({", ".join(twice[:3])})' if twice else ''))
    return ratio(rw, fw), ratio(rc, fc), ratio(rc, gc), net, fw


def section_floor(build, runs, env, quick):
    print(f'\n== The report against its floor: reading once the files it read '
          f'({runs} runs each; load {load()}) ==')
    print(f'  {"machine":28s} {"files":>6s} {"report":>9s} {"floor":>9s} {"ratio":>7s} '
          f'{"report":>9s} {"floor":>9s} {"ratio":>7s} {"guarded":>8s} {"ratio":>7s} '
          f'{"start":>7s} {"net":>7s}')
    print(f'  {"":28s} {"":6s} {"wall median, ms":>26s} {"processor, ms":>44s}')
    with tempfile.TemporaryDirectory() as tmp:
        wall, cpu = floor_row(build, runs, env, 'this machine', tmp)[:2]
        record_target('report ≤ 1.5 × its floor, this machine',
                      f'{wall:.2f}× wall, {cpu:.2f}× processor', max(wall, cpu) <= 1.5)
        fixtures = sorted(os.listdir(os.path.join(ROOT, 'tests', 'fixtures')))
        if quick:
            fixtures = fixtures[:3]
        ratios = []
        for name in fixtures:
            e = dict(env, QUARVEL_SYSROOT=os.path.join(ROOT, 'tests', 'fixtures', name))
            # A fixture's report takes a millisecond or two: twice the runs cost little and
            # steady the median of the ratios, which is what the target is about.
            ratios.append(floor_row(build, runs * 2, e, name, tmp))
        if ratios:
            wall = statistics.median(r[0] for r in ratios)
            cpu = statistics.median(r[1] for r in ratios)
            record_target('report ≤ 1.5 × its floor, fixture machines (median)',
                          f'{wall:.2f}× wall, {cpu:.2f}× processor', max(wall, cpu) <= 1.5)
            print(f'  fixture machines: median ratio wall {wall:.2f}×, processor {cpu:.2f}×; '
                  f'worst processor {max(r[1] for r in ratios):.2f}×; against the guarded '
                  f'floor {statistics.median(r[2] for r in ratios):.2f}× (processor, median); '
                  f'net of starting {median_or_nan([r[3] for r in ratios if not math.isnan(r[3])]):.2f}×')
    print('  target: report ≤ 1.5 × floor (median); "guarded" reads the same files opened the '
          'way the report opens a capture\'s (no device, no link followed: a directory only '
          'its owner may change is listed and each file in it opened; elsewhere each file is '
          'looked at before it is opened); "start" is a program that starts and reads nothing '
          '(processor), "net" the processor ratio with it taken from both sides, where '
          'reading takes the floor 0.2 ms or more past it')


ITEM_NAMES = dict(cpus='CPU', disks='block device', nets='network interface', usb='USB device')


def section_scaling(build, env, quick):
    q = os.path.join(build, 'quarvel')
    collectors = os.path.join(build, 'bench_collectors')
    others = dict(disks=256, nets=128, usb=256)
    series = [
        ('CPUs (with 256 disks, 128 interfaces, 256 USB devices)', 'cpus',
         [dict(cpus=n, **others) for n in ((64, 256) if quick else (64, 256, 1024, 4096))]),
        ('block devices (4 CPUs)', 'disks',
         [dict(cpus=4, disks=n, nets=1, usb=0) for n in ((16, 256) if quick else (16, 256, 1024))]),
        ('network interfaces (4 CPUs)', 'nets',
         [dict(cpus=4, disks=1, nets=n, usb=0) for n in (16, 512)]),
        ('USB devices (4 CPUs)', 'usb',
         [dict(cpus=4, disks=1, nets=1, usb=n) for n in (16, 1000)]),
    ]
    print(f'\n== Collection over generated machines (load {load()}) ==')
    with tempfile.TemporaryDirectory() as tmp:
        for title, key, shapes in series:
            print(f'  {title}')
            prev = None
            costs = []
            for shape in shapes:
                tree = os.path.join(tmp, '-'.join(f'{k}{v}' for k, v in shape.items()))
                if not os.path.isdir(tree):
                    gen_machine.generate(tree, **shape)
                e = dict(env, QUARVEL_SYSROOT=tree)
                runs = 3 if shape[key] >= 1024 else 5
                wall, cpu = hyperfine([('r', f'{q} --report')], runs, e, warmup=1)['r']
                mib = peak_mib([q, '--report'], e, runs=1)
                line = (f'    {shape[key]:5d}  wall {wall:8.1f} ms  processor {cpu:8.1f} ms  '
                        f'peak {mib:6.1f} MiB')
                if prev:
                    per = (cpu - prev[1]) / (shape[key] - prev[0]) * 1000
                    line += f'  +{per:7.1f} µs processor per added item'
                    costs.append(f'{per:.0f}')
                print(line)
                limit = {1024: 100, 4096: 400}.get(shape[key]) if key == 'cpus' else None
                if limit:
                    record_target(f'{shape[key]:,} CPUs with the other items ≤ {limit} ms',
                                  f'{wall:.0f} ms wall', wall <= limit)
                prev = (shape[key], cpu)
                if key == 'cpus' and shape['cpus'] == 1024 and os.path.exists(collectors):
                    out = subprocess.run([collectors, '3'], env=e, capture_output=True,
                                         text=True).stdout
                    print('      in one process, by collector (bench_collectors):')
                    for row in out.splitlines()[1:]:
                        print('      ' + row)
                    # Where the floor itself is above the target, only fewer files could meet it.
                    print('      against reading once the files it read (columns as in the floor '
                          'section: files, wall report/floor, processor report/floor, guarded):')
                    floor_wall = floor_row(build, runs, e, '   ', tmp)[4]
                    record_target('   reading once the files it read, 1,024 CPUs',
                                  f'{floor_wall:.0f} ms wall', None)
            record_target(f'cost linear in the items: µs of processor per added {ITEM_NAMES[key]}',
                          ' → '.join(costs), None)
            shutil.rmtree(tmp)
            os.mkdir(tmp)
    print('  targets: cost linear in the items; 1,024 CPUs with the other items ≤ 100 ms, '
          '4,096 CPUs ≤ 400 ms')


def main():
    args = sys.argv[1:]
    if '-h' in args or '--help' in args:
        print(__doc__)
        return
    quick = '--quick' in args
    runs = 15 if not quick else 5
    if '--runs' in args:
        runs = int(args[args.index('--runs') + 1])
        del args[args.index('--runs'):args.index('--runs') + 2]
    args = [a for a in args if a != '--quick']
    all_sections = ['peers', 'floor', 'scaling', 'ids']
    build = args.pop(0) if args and args[0] not in all_sections else os.path.join(ROOT, 'build')
    build = os.path.abspath(build)
    sections = args or all_sections
    unknown = [a for a in sections if a not in all_sections]
    if unknown:
        sys.exit(f'unknown section: {" ".join(unknown)} (sections: {" ".join(all_sections)})')
    if not os.access(os.path.join(build, 'quarvel'), os.X_OK):
        sys.exit(f'no program at {os.path.join(build, "quarvel")} (build the project first)')
    for tool in ('hyperfine', 'strace'):
        if not shutil.which(tool):
            sys.exit(f'{tool} is missing: bench/run_all.sh installs what the suite needs')
    config = tempfile.mkdtemp()
    # The report in English, with no settings of this user, as the golden reports are made.
    env = dict(os.environ, XDG_CONFIG_HOME=config, LANGUAGE='en', LC_ALL='C.UTF-8')
    env.pop('QUARVEL_SYSROOT', None)
    print(f'Quarvel benchmarks: {build}; {os.cpu_count()} processors; load average {load()}')
    try:
        if 'peers' in sections:
            section_peers(build, runs, env)
        if 'floor' in sections:
            section_floor(build, runs, env, quick)
        if 'scaling' in sections:
            section_scaling(build, env, quick)
        if 'ids' in sections:
            print(f'\n== Identifier databases (load {load()}) ==')
            subprocess.run([os.path.join(build, 'bench_ids_load'), str(runs)], env=env)
    finally:
        shutil.rmtree(config, ignore_errors=True)
    print(f'\nload average at the end: {load()}')


if __name__ == '__main__':
    main()
