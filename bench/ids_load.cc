// How long the identifier databases take to give names: the time every report and every
// window start pays for them. Each run is a fresh process that times, in-process, the names
// of a typical desktop's devices (Intel, NVIDIA, Realtek, Samsung, Logitech… and their
// classes) found as the program finds them, by halving the files, and the same names after a
// whole Ids::load() (search, read through, parse), which a name the halving misses costs; a
// warm reload inside one process is shown for comparison. Uses this machine's files, or a
// capture's under QUARVEL_SYSROOT.
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

// The names a desktop asks for; how many came out non-empty.
int typical_names(const hw::Ids& ids) {
    int found = 0;
    const uint32_t pci[][3] = {{0x8086, 0x9a14, 0x060000}, {0x8086, 0xa0ed, 0x0c0330},
                               {0x10de, 0x2504, 0x030000}, {0x10ec, 0x8168, 0x020000},
                               {0x144d, 0xa808, 0x010802}, {0x8086, 0x2723, 0x028000}};
    for (const auto& [vendor, device, cls] : pci) {
        found += !ids.pci_vendor(vendor).empty() + !ids.pci_device(vendor, device).empty() +
                 !ids.pci_class(cls).empty();
        ids.pci_subsystem(0x1043, 0x8694, vendor, device);
        ids.pci_interface(cls);
    }
    const uint32_t usb[][2] = {
        {0x1d6b, 0x0002}, {0x1d6b, 0x0003}, {0x046d, 0xc52b}, {0x8087, 0x0026}, {0x0bda, 0x8153}};
    for (const auto& [vendor, product] : usb)
        found += !ids.usb_vendor(vendor).empty() + !ids.usb_device(vendor, product).empty();
    return found;
}

// The typical names in this fresh process, by halving or after a whole load; prints
// "wall cpu names" for the parent.
int child(bool whole) {
    Stamp t0 = now();
    hw::Ids ids = whole ? hw::Ids::load() : hw::Ids::on_demand();
    const int found = typical_names(ids);
    Stamp t1 = now();
    std::printf("%f %f %d\n", ms_between(t0.wall, t1.wall), ms_between(t0.cpu, t1.cpu), found);
    return 0;
}

Samples fresh_runs(const char* self, const char* mode, int runs, int& found) {
    Samples s;
    const std::string command = std::string("'") + self + "' --child " + mode;
    for (int i = 0; i < runs; ++i) {
        FILE* p = popen(command.c_str(), "r");
        if (!p) break;
        double wall = 0, cpu = 0;
        if (std::fscanf(p, "%lf %lf %d", &wall, &cpu, &found) == 3) {
            s.wall.push_back(wall);
            s.cpu.push_back(cpu);
        }
        pclose(p);
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--child") == 0)
        return child(std::strcmp(argv[2], "whole") == 0);
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    std::string pci_path = hw::find_ids_file("pci.ids");
    std::string usb_path = hw::find_ids_file("usb.ids");
    std::printf("pci.ids: %s\nusb.ids: %s\n", pci_path.empty() ? "(none)" : pci_path.c_str(),
                usb_path.empty() ? "(none)" : usb_path.c_str());

    int found = 0, found_whole = 0;
    Samples halved = fresh_runs(argv[0], "halve", runs, found);
    Samples fresh = fresh_runs(argv[0], "whole", runs, found_whole);

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

    std::printf("%d runs, %zu bytes, %zu names indexed at a whole load (vendors, classes), "
                "%d (halving) and %d (whole load) of 34 typical names found; milliseconds\n",
                runs, bytes, names, found, found_whole);
    print("typical names by halving (fresh)", halved);
    print("typical names after a whole load", fresh);
    print("reload in a warm process", warm);
    print("parsing alone (warm)", parsing);
    std::printf("  target: names under 10 ms\n");
    return 0;
}
