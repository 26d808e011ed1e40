#!/usr/bin/env python3
"""Compares the PCI names in Quarvel's report with what lspci prints for the same devices
from the same pci.ids file.

usage: tools/compare_lspci.py BINARY [SYSROOT]

Without SYSROOT the live machine is compared; with it, a captured tree (lspci then reads
SYSROOT/sys/bus/pci and the pci.ids the capture carries). For every function it checks the
class name (the node's summary), the vendor and device names, the order of the functions
and the subsystem: the subsystem's own name when the file lists it, else the subsystem
vendor's. Prints every disagreement and a closing "N passed, N failed" line; exits 1 on any
disagreement. Needs lspci (package pciutils)."""
import os
import re
import subprocess
import sys

ID_DIRS = ['/usr/share/hwdata', '/usr/share/misc', '/usr/share', '/var/lib/usbutils',
           '/usr/local/share/hwdata']


def resolve(sysroot, path):
    """The file `path` names on the machine, links followed inside the sysroot."""
    base = sysroot or '/'
    parts = path.strip('/').split('/')
    done = []
    hops = 0
    while parts:
        p = parts.pop(0)
        if p in ('', '.'):
            continue
        if p == '..':
            if done:
                done.pop()
            continue
        cur = os.path.join(base, *done, p)
        if os.path.islink(cur) and hops < 40:
            hops += 1
            target = os.readlink(cur)
            if target.startswith('/'):
                done = []
            parts = target.strip('/').split('/') + parts
            continue
        done.append(p)
    return os.path.join(base, *done)


def find_ids(sysroot):
    for d in ID_DIRS:
        p = resolve(sysroot, d + '/pci.ids')
        if os.path.isfile(p):
            return p
    return None


def quarvel_devices(binary, sysroot):
    env = {'PATH': '/usr/bin:/bin', 'LANGUAGE': 'en', 'LANG': 'C.UTF-8',
           'XDG_CONFIG_HOME': '/nonexistent'}
    if sysroot:
        env['QUARVEL_SYSROOT'] = sysroot
    out = subprocess.run([binary, '--report'], env=env, capture_output=True, text=True,
                         check=True).stdout
    section = out[out.find('=== PCI devices'):]
    section = section[:section.find('\n=== ', 1)]
    devices = []
    for block in re.split(r'\n  === ', section)[1:]:
        head = block.split('\n', 1)[0]
        m = re.match(r'(.*?)(?:  \[(.*)\])? ===$', head)
        d = {'title': m.group(1), 'class': m.group(2) or ''}
        for line in block.split('\n')[1:]:
            m = re.match(r'\s{6}(\S[^ ]*(?: [^ ]+)*?)\s{2,}(.*?)(?:   \((\S+)\))?$', line)
            if not m:
                continue
            label, value = m.group(1), m.group(2)
            value = re.sub(r'  \(0x[0-9a-f:x]+\)$', '', value)
            if label in ('Address', 'Vendor', 'Device', 'Subsystem'):
                d[label.lower()] = '' if value == 'Unknown' or value.startswith('(0x') else value
        devices.append(d)
    return devices


def lspci_devices(sysroot, ids):
    cmd = ['lspci', '-vmm', '-nn', '-D', '-O', 'hwdb.disable=1', '-i', ids or '/dev/null']
    if sysroot:
        cmd += ['-A', 'linux-sysfs', '-O', 'sysfs.path=' + os.path.join(sysroot, 'sys/bus/pci')]
    out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
    devices = []
    for block in out.strip().split('\n\n'):
        d = {}
        for line in block.split('\n'):
            key, _, value = line.partition(':\t')
            m = re.match(r'(.*) \[([0-9a-f]+)\]$', value)
            name = m.group(1) if m else value
            # lspci names what pci.ids does not list "Device", "Vendor" or "Class".
            if name in ('Device', 'Vendor', 'Class', 'Unknown vendor', 'Unknown device'):
                name = ''
            d[key] = name
        devices.append(d)
    return devices


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    binary = sys.argv[1]
    sysroot = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else ''
    ids = find_ids(sysroot)
    ours = quarvel_devices(binary, sysroot)
    theirs = lspci_devices(sysroot, ids)
    print(f'pci.ids: {ids or "(none)"}; {len(ours)} functions in the report, '
          f'{len(theirs)} from lspci')
    passed = failed = 0

    def check(what, a, b):
        nonlocal passed, failed
        if a == b:
            passed += 1
        else:
            failed += 1
            print(f'  {what}: quarvel {a!r}, lspci {b!r}')

    check('order', [d.get('address') for d in ours], [d.get('Slot') for d in theirs])
    for q, l in zip(ours, theirs):
        slot = l.get('Slot')
        # Without a pci.ids lspci has no class names; Quarvel still knows the base classes.
        if ids:
            check(slot + ' class', q['class'], l.get('Class', ''))
        check(slot + ' vendor', q.get('vendor', ''), l.get('Vendor', ''))
        check(slot + ' device', q.get('device', ''), l.get('Device', ''))
        if 'SVendor' in l or 'SDevice' in l:
            expected = l.get('SDevice', '')
            # lspci repeats the device's name when the subsystem ids equal the device's
            # and the file lists no subsystem; Quarvel names the subsystem vendor then.
            listed = expected and expected != l.get('Device', '')
            check(slot + ' subsystem', q.get('subsystem', ''),
                  expected if listed else l.get('SVendor', ''))
    print(f'{passed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
