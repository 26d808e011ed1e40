// Times the processor collector in-process over a machine tree.
//
//   bench_cpu_collector SYSROOT [RUNS]
//
// Prints the first (cold) run and the minimum and median of the following runs in
// milliseconds, plus the shape of the branch so a run over the wrong tree shows.
#include "hw/hardware.h"
#include "i18n.h"
#include "util.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SYSROOT [RUNS]\n", argv[0]);
        return 2;
    }
    int runs = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
    setenv("QUARVEL_SYSROOT", argv[1], 1);
    I18n::instance().set_language("en");
    util::set_number_format(".", ",");

    std::vector<double> ms;
    size_t children = 0, rows = 0;
    for (int i = 0; i < runs; ++i) {
        hw::Node root;
        auto t0 = std::chrono::steady_clock::now();
        hw::collect_cpu(root);
        auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (const hw::Node* cpu = root.find("cpu")) {
            children = cpu->children.size();
            rows = 0;
            for (const auto& c : cpu->children)
                for (const auto& s : c->sections)
                    rows += s.items.size();
        }
    }
    // What one small kernel-style file costs on this machine, to judge the figures above:
    // every CPU's core_id read once, as often as the collector runs.
    std::vector<double> per_read;
    size_t files = 0;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        files = 0;
        for (const auto& name : util::list_dir("/sys/devices/system/cpu", "cpu")) {
            if (util::read_file("/sys/devices/system/cpu/" + name + "/topology/core_id").empty())
                continue;
            ++files;
        }
        auto t1 = std::chrono::steady_clock::now();
        if (files)
            per_read.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() /
                               static_cast<double>(files));
    }
    std::sort(per_read.begin(), per_read.end());
    double cold = ms.front();
    std::vector<double> warm(ms.begin() + 1, ms.end());
    std::sort(warm.begin(), warm.end());
    std::printf("cold %.2f ms  warm min %.2f ms  median %.2f ms  (%d runs; %zu children, %zu "
                "child rows)\n",
                cold, warm.front(), warm[warm.size() / 2], runs, children, rows);
    if (!per_read.empty())
        std::printf("one file read: median %.2f us (%zu core_id files per run)\n",
                    per_read[per_read.size() / 2], files);
    return 0;
}
