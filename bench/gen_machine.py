#!/usr/bin/env python3
"""Writes a synthetic machine tree (the kernel files the collectors read) for the scaling
benchmarks: QUARVEL_SYSROOT=DIR quarvel --report then describes it.

usage: bench/gen_machine.py DIR [--cpus N] [--disks N] [--nets N] [--usb N]

  --cpus   logical CPUs: 2 threads per core, 64 cores per socket, eight cores share an L3,
           one NUMA node per 128 CPUs, cpufreq per CPU (default 4)
  --disks  SATA disks with one partition each, half of them mounted (default 1)
  --nets   network interfaces on PCI network cards (default 1)
  --usb    USB devices behind external hubs on four buses (default 0)

The shapes follow what real kernels write (sibling lists, shared cache lists, links into
/sys/devices), so every collector takes its ordinary paths. Imported by run_all.sh's
helpers too: generate(dir, cpus, disks, nets, usb)."""
import argparse
import os


def fmt_list(cpus):
    """Kernel CPU list syntax of a sorted list: 0-3,8,10-11."""
    out, i = [], 0
    while i < len(cpus):
        j = i
        while j + 1 < len(cpus) and cpus[j + 1] == cpus[j] + 1:
            j += 1
        out.append(str(cpus[i]) if i == j else f'{cpus[i]}-{cpus[j]}')
        i = j + 1
    return ','.join(out)


class Tree:
    def __init__(self, base):
        self.base = base

    def write(self, rel, text):
        path = os.path.join(self.base, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w') as f:
            f.write(text + '\n')

    def files(self, rel, values):
        for name, value in values.items():
            self.write(f'{rel}/{name}', str(value))

    def link(self, rel, target):
        path = os.path.join(self.base, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if not os.path.lexists(path):
            os.symlink(target, path)


def gen_cpus(t, n):
    cpu = 'sys/devices/system/cpu'
    cores = max(1, n // 2)            # two threads per core
    per_socket = 64
    sockets = max(1, (cores + per_socket - 1) // per_socket)
    nodes = max(1, n // 128)
    info = []
    for c in range(n):
        core = c % cores
        sock = core // per_socket
        siblings = [core, core + cores] if n > 1 else [0]
        ccx = core // 8
        l3 = sorted([x for x in range(ccx * 8, min(ccx * 8 + 8, cores))] +
                    [x + cores for x in range(ccx * 8, min(ccx * 8 + 8, cores))]) if n > 1 else [0]
        package = sorted([x for x in range(sock * per_socket, min((sock + 1) * per_socket, cores))] +
                         [x + cores for x in range(sock * per_socket, min((sock + 1) * per_socket, cores))])
        d = f'{cpu}/cpu{c}'
        t.files(f'{d}/topology', {
            'physical_package_id': sock, 'die_id': 0, 'core_id': core % per_socket,
            'cluster_id': core // 4, 'thread_siblings_list': fmt_list(siblings),
            'core_siblings_list': fmt_list(package), 'cluster_cpus_list': fmt_list(siblings),
            'package_cpus_list': fmt_list(package)})
        for idx, (lvl, typ, size, shared, ways, sets) in enumerate((
                (1, 'Data', '32K', siblings, 8, 64), (1, 'Instruction', '32K', siblings, 8, 64),
                (2, 'Unified', '1024K', siblings, 8, 2048), (3, 'Unified', '32768K', l3, 16, 32768))):
            t.files(f'{d}/cache/index{idx}', {
                'level': lvl, 'type': typ, 'size': size, 'shared_cpu_list': fmt_list(shared),
                'ways_of_associativity': ways, 'coherency_line_size': 64, 'number_of_sets': sets,
                'id': ccx if lvl == 3 else core, 'physical_line_partition': 1})
        p = f'{cpu}/cpufreq/policy{c}'
        t.files(p, {'scaling_cur_freq': 1500000 + 1000 * (c % 900), 'scaling_min_freq': 1500000,
                    'scaling_max_freq': 3100000, 'cpuinfo_min_freq': 1500000,
                    'cpuinfo_max_freq': 3100000, 'scaling_governor': 'performance',
                    'scaling_available_governors': 'performance powersave',
                    'scaling_driver': 'acpi-cpufreq', 'cpuinfo_transition_latency': 0,
                    'affected_cpus': c, 'related_cpus': c})
        t.link(f'{d}/cpufreq', f'../cpufreq/policy{c}')
        if c:
            t.write(f'{d}/online', '1')
        info.append(f'processor\t: {c}\nvendor_id\t: AuthenticAMD\ncpu family\t: 25\nmodel\t\t: 17\n'
                    f'model name\t: AMD EPYC 9754 128-Core Processor\nstepping\t: 1\n'
                    f'microcode\t: 0xa101144\ncpu MHz\t\t: 1500.000\ncache size\t: 1024 KB\n'
                    f'physical id\t: {sock}\nsiblings\t: {2 * min(per_socket, cores)}\n'
                    f'core id\t\t: {core % per_socket}\ncpu cores\t: {min(per_socket, cores)}\n'
                    f'apicid\t\t: {c}\nfpu\t\t: yes\ncpuid level\t: 16\nwp\t\t: yes\n'
                    f'flags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat '
                    f'pse36 clflush mmx fxsr sse sse2 ht syscall nx mmxext fxsr_opt pdpe1gb rdtscp '
                    f'lm constant_tsc rep_good nopl nonstop_tsc cpuid extd_apicid aperfmperf pni '
                    f'pclmulqdq monitor ssse3 fma cx16 pcid sse4_1 sse4_2 x2apic movbe popcnt aes '
                    f'xsave avx f16c rdrand lahf_lm cmp_legacy svm extapic cr8_legacy abm sse4a '
                    f'misalignsse 3dnowprefetch osvw ibs skinit wdt tce topoext perfctr_core '
                    f'avx2 bmi2 sha_ni avx512f avx512bw\n'
                    f'bugs\t\t: sysret_ss_attrs spectre_v1 spectre_v2 spec_rstack_overflow\n'
                    f'bogomips\t: 4491.71\nTLB size\t: 3584 4K pages\nclflush size\t: 64\n'
                    f'cache_alignment\t: 64\naddress sizes\t: 52 bits physical, 57 bits virtual\n'
                    f'power management: ts ttp tm hwpstate cpb eff_freq_ro\n')
    t.write('proc/cpuinfo', '\n'.join(info))
    for name in ('present', 'online', 'possible'):
        t.write(f'{cpu}/{name}', f'0-{n - 1}')
    t.write(f'{cpu}/offline', '')
    t.files(f'{cpu}/smt', {'active': 1, 'control': 'on'})
    t.files(f'{cpu}/vulnerabilities', {
        'meltdown': 'Not affected', 'spectre_v1': 'Mitigation: usercopy/swapgs barriers',
        'spectre_v2': 'Mitigation: Retpolines; IBPB: conditional; STIBP: always-on',
        'spec_store_bypass': 'Mitigation: Speculative Store Bypass disabled via prctl'})
    for nd in range(nodes):
        span = max(1, cores // nodes)
        mine = sorted([x for x in range(nd * span, (nd + 1) * span)] +
                      [x + cores for x in range(nd * span, (nd + 1) * span)]) if n > 1 else [0]
        t.files(f'sys/devices/system/node/node{nd}', {
            'cpulist': fmt_list(mine),
            'distance': ' '.join('10' if i == nd else '32' for i in range(nodes)),
            'meminfo': f'Node {nd} MemTotal:       131072000 kB\n'
                       f'Node {nd} MemFree:        120000000 kB\nNode {nd} MemUsed:         11072000 kB'})


def pci_device(t, rel, device, cls):
    t.files(rel, {'vendor': '0x8086', 'device': device, 'class': cls, 'revision': '0x01',
                  'subsystem_vendor': '0x8086', 'subsystem_device': '0x7270'})
    address = os.path.basename(rel)
    t.link(f'sys/bus/pci/devices/{address}', '../../../' + rel[4:])


def disk_name(i):
    s = ''
    i += 1
    while i:
        i, r = divmod(i - 1, 26)
        s = chr(ord('a') + r) + s
    return 'sd' + s


def block_files(size_sectors):
    return {'size': size_sectors, 'ro': 0, 'removable': 0, 'hidden': 0,
            'stat': '  104712    22010  8512544    26804    56017    67371  6553832   151536        0   '
                    '125948   186720        0        0        0        0     5318    8379'}


def gen_disks(t, n):
    mounts = ['22 1 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw',
              '23 1 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw']
    host = 'sys/devices/pci0000:00/0000:00:17.0'
    pci_device(t, host, '0xa352', '0x010601')
    for i in range(n):
        name = disk_name(i)
        scsi = f'{host}/ata{i + 1}/host{i}/target{i}:0:0/{i}:0:0:0'
        t.files(scsi, {'model': 'Samsung SSD 870', 'vendor': 'ATA', 'rev': '2B6Q', 'state': 'running',
                       'type': 0, 'queue_depth': 32})
        blk = f'{scsi}/block/{name}'
        t.files(blk, dict(block_files(1953525168), dev=f'8:{16 * i}'))
        t.files(f'{blk}/queue', {'rotational': 0, 'logical_block_size': 512,
                                 'physical_block_size': 4096, 'hw_sector_size': 512,
                                 'minimum_io_size': 4096, 'optimal_io_size': 0, 'read_ahead_kb': 128,
                                 'nr_requests': 64, 'scheduler': 'none [mq-deadline]',
                                 'discard_granularity': 4096, 'max_sectors_kb': 1280})
        t.link(f'{blk}/device', '../../../' + f'{i}:0:0:0')
        part = f'{blk}/{name}1'
        t.files(part, dict(block_files(1953523120), dev=f'8:{16 * i + 1}', partition=1, start=2048))
        t.link(f'sys/block/{name}', f'../devices/pci0000:00/0000:00:17.0/ata{i + 1}/host{i}/'
                                    f'target{i}:0:0/{i}:0:0:0/block/{name}')
        t.link(f'sys/class/block/{name}', f'../../block/{name}')
        if i % 2 == 0:
            mounts.append(f'{30 + i} 1 8:{16 * i + 1} / /srv/{name} rw,relatime shared:{30 + i} - '
                          f'ext4 /dev/{name}1 rw')
    t.write('proc/self/mountinfo', '\n'.join(mounts))
    t.write('proc/swaps', 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority')


def gen_nets(t, n):
    for i in range(n):
        name = f'enp{i + 1}s0'
        address = f'{(i + 1) >> 8:04x}:{(i + 1) & 0xff:02x}:00.0'
        pci = f'sys/devices/pci0000:00/0000:00:1c.{i % 8}/{address}'
        pci_device(t, pci, '0x15f3', '0x020000')
        t.link(f'{pci}/driver', '../../../../bus/pci/drivers/igc')
        t.link(f'{pci}/subsystem', '../../../../bus/pci')
        d = f'{pci}/net/{name}'
        t.files(d, {'address': f'a8:a1:59:{i >> 8 & 0xff:02x}:{i & 0xff:02x}:01', 'mtu': 1500,
                    'ifindex': i + 2, 'carrier': 1, 'operstate': 'up', 'speed': 1000,
                    'duplex': 'full', 'type': 1, 'flags': '0x1003', 'tx_queue_len': 1000,
                    'dormant': 0, 'addr_len': 6, 'broadcast': 'ff:ff:ff:ff:ff:ff'})
        t.write(f'{d}/uevent', f'INTERFACE={name}\nIFINDEX={i + 2}')
        t.files(f'{d}/statistics', {'rx_bytes': 123456789 + i, 'tx_bytes': 98765432 + i,
                                    'rx_packets': 123456, 'tx_packets': 65432, 'rx_errors': 0,
                                    'tx_errors': 0, 'rx_dropped': 12, 'tx_dropped': 0,
                                    'multicast': 34, 'collisions': 0})
        t.link(f'{d}/device', f'../../../{address}')
        t.link(f'sys/class/net/{name}', '../../' + d[4:])


# Real ids, so the names are looked up in usb.ids as on a real machine.
USB_KINDS = [('046d', 'c52b', '00', 'Logitech', 'USB Receiver', ('03', '01', '01')),
             ('0781', '5581', '00', 'SanDisk', 'Ultra', ('08', '06', '50')),
             ('8087', '0aaa', 'e0', '', '', ('e0', '01', '01')),
             ('05ac', '024f', '00', 'Apple Inc.', 'Aluminium Keyboard', ('03', '01', '01'))]


def usb_device(t, rel, busnum, devnum, kind, hub=False):
    vendor, product, cls, mfr, prod, iface = ('1a40', '0101', '09', '', 'USB 2.0 Hub',
                                              ('09', '00', '00')) if hub else kind
    values = {'idVendor': vendor, 'idProduct': product, 'bDeviceClass': cls, 'speed': 480,
              'bMaxPower': '100mA', 'busnum': busnum, 'devnum': devnum, 'version': ' 2.00',
              'bcdDevice': '0100', 'bNumInterfaces': ' 1', 'bConfigurationValue': 1}
    if mfr:
        values['manufacturer'] = mfr
    if prod:
        values['product'] = prod
    t.files(rel, values)
    name = os.path.basename(rel)
    t.files(f'{rel}/{name}:1.0', {'bInterfaceClass': iface[0], 'bInterfaceSubClass': iface[1],
                                  'bInterfaceProtocol': iface[2], 'bNumEndpoints': '01',
                                  'bInterfaceNumber': '00'})


def gen_usb(t, n):
    buses = 4
    per_hub = 7
    made = 0
    controller = 'sys/devices/pci0000:00/0000:00:14.0'
    pci_device(t, controller, '0x7ae0', '0x0c0330')
    devnum = {}
    for b in range(1, buses + 1):
        root = f'{controller}/usb{b}'
        t.files(root, {'idVendor': '1d6b', 'idProduct': '0002', 'bDeviceClass': '09', 'speed': 480,
                       'busnum': b, 'devnum': 1, 'product': 'xHCI Host Controller',
                       'manufacturer': 'Linux 6.1.0-18-amd64 xhci-hcd', 'serial': '0000:00:14.0',
                       'bMaxPower': '0mA', 'version': ' 2.00'})
        t.files(f'{root}/{b}-0:1.0', {'bInterfaceClass': '09', 'bInterfaceSubClass': '00',
                                      'bInterfaceProtocol': '00'})
        t.link(f'sys/bus/usb/devices/usb{b}', f'../../../devices/pci0000:00/0000:00:14.0/usb{b}')
        devnum[b] = 1
    # External hubs on each root port, devices on the hubs' ports, round robin over buses.
    port = {b: 0 for b in range(1, buses + 1)}
    hub = {b: None for b in range(1, buses + 1)}
    b = 1
    while made < n:
        if hub[b] is None or hub[b][1] >= per_hub:
            port[b] += 1
            name = f'{b}-{port[b]}'
            rel = f'{controller}/usb{b}/{name}'
            devnum[b] += 1
            usb_device(t, rel, b, devnum[b], None, hub=True)
            t.link(f'sys/bus/usb/devices/{name}', '../../../' + rel[4:])
            hub[b] = [rel, 0]
            made += 1
            if made >= n:
                break
        hub[b][1] += 1
        name = f'{os.path.basename(hub[b][0])}.{hub[b][1]}'
        rel = f'{hub[b][0]}/{name}'
        devnum[b] += 1
        usb_device(t, rel, b, devnum[b], USB_KINDS[made % len(USB_KINDS)])
        t.link(f'sys/bus/usb/devices/{name}', '../../../' + rel[4:])
        t.link(f'sys/bus/usb/devices/{name}:1.0', '../../../' + rel[4:] + f'/{name}:1.0')
        made += 1
        b = b % buses + 1


def generate(base, cpus=4, disks=1, nets=1, usb=0):
    t = Tree(base)
    t.write('proc/meminfo', 'MemTotal:       1056964608 kB\nMemFree:        1000000000 kB\n'
                            'MemAvailable:   1010000000 kB\nSwapTotal:             0 kB')
    t.write('proc/sys/kernel/ostype', 'Linux')
    t.write('proc/sys/kernel/osrelease', '6.1.0-18-amd64')
    t.write('proc/sys/kernel/arch', 'x86_64')
    gen_cpus(t, cpus)
    gen_disks(t, disks)
    gen_nets(t, nets)
    gen_usb(t, usb)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument('dir')
    p.add_argument('--cpus', type=int, default=4)
    p.add_argument('--disks', type=int, default=1)
    p.add_argument('--nets', type=int, default=1)
    p.add_argument('--usb', type=int, default=0)
    a = p.parse_args()
    generate(a.dir, a.cpus, a.disks, a.nets, a.usb)


if __name__ == '__main__':
    main()
