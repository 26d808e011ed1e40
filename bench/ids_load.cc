// How long the identifier databases take to load: the time every report and every window
// start pays before the first name is shown. Each run is a fresh process that times its own
// first Ids::load() in-process (search, read, parse), as the program pays it; a warm reload
// inside one process is shown for comparison. Uses this machine's files, or a capture's under
// QUARVEL_SYSROOT.
//
// usage: build/bench_ids_load [RUNS]   (default 20; target: under 10 ms for both files)
//
// Wall time includes waiting for a core on a shared machine; processor time does not.
// Compare figures within one run.
#include "hw/ids.h"
#include "hw/ids_parser.h"
#include "util.h"

#include "timing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using bench::ms_between;
using bench::now;
using bench::Stamp;

struct Samples {
    std::vector<double> wall;
    std::vector<double> cpu;
};

void print_row(const char* what, const char* clock, std::vector<double> v) {
    if (v.empty()) return;
    std::sort(v.begin(), v.end());
    std::printf("  %-32s %-4s min %6.2f   median %6.2f   max %6.2f\n", what, clock, v.front(),
                v[v.size() / 2], v.back());
}

void print(const char* what, const Samples& s) {
    print_row(what, "wall", s.wall);
    print_row("", "cpu", s.cpu);
}

// One load in this fresh process; prints "wall cpu names" for the parent.
int child() {
    Stamp t0 = now();
    hw::Ids ids = hw::Ids::load();
    Stamp t1 = now();
    // A few lookups, so that a load that found nothing shows.
    int found = !ids.pci_vendor(0x8086).empty() + !ids.pci_device(0x8086, 0x1237).empty() +
                !ids.usb_vendor(0x1d6b).empty() + !ids.usb_device(0x1d6b, 0x0002).empty();
    std::printf("%f %f %d\n", ms_between(t0.wall, t1.wall), ms_between(t0.cpu, t1.cpu), found);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return child();
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    std::string pci_path = hw::find_ids_file("pci.ids");
    std::string usb_path = hw::find_ids_file("usb.ids");
    std::printf("pci.ids: %s\nusb.ids: %s\n", pci_path.empty() ? "(none)" : pci_path.c_str(),
                usb_path.empty() ? "(none)" : usb_path.c_str());

    Samples fresh;
    int found = 0;
    std::string command = std::string("'") + argv[0] + "' --child";
    for (int i = 0; i < runs; ++i) {
        FILE* p = popen(command.c_str(), "r");
        if (!p) return 1;
        double wall = 0, cpu = 0;
        if (std::fscanf(p, "%lf %lf %d", &wall, &cpu, &found) == 3) {
            fresh.wall.push_back(wall);
            fresh.cpu.push_back(cpu);
        }
        pclose(p);
    }

    Samples warm, parsing;
    size_t bytes = 0, names = 0;
    for (int i = 0; i < runs; ++i) {
        Stamp t0 = now();
        hw::Ids ids = hw::Ids::load();
        Stamp t1 = now();
        warm.wall.push_back(ms_between(t0.wall, t1.wall));
        warm.cpu.push_back(ms_between(t0.cpu, t1.cpu));

        util::FileContents pci(util::resolve_path(pci_path), 1 << 26);
        util::FileContents usb(util::resolve_path(usb_path), 1 << 26);
        t0 = now();
        hw::PciIdTables p;
        hw::UsbIdTables u;
        hw::parse_pci_ids(pci.text(), p);
        hw::parse_usb_ids(usb.text(), u);
        t1 = now();
        parsing.wall.push_back(ms_between(t0.wall, t1.wall));
        parsing.cpu.push_back(ms_between(t0.cpu, t1.cpu));
        bytes = pci.text().size() + usb.text().size();
        names = p.vendors.size() + p.classes.size() + p.subclasses.size() + p.interfaces.size() +
                u.vendors.size();
    }

    std::printf("%d runs, %zu bytes, %zu names indexed at load (vendors, classes), %d of 4 sample "
                "ids named; "
                "milliseconds\n",
                runs, bytes, names, found);
    print("first load in a fresh process", fresh);
    print("reload in a warm process", warm);
    print("parsing alone (warm)", parsing);
    std::printf("  target: first load under 10 ms\n");
    return 0;
}
