// Where the report's time goes, collector by collector, over this machine or a tree under
// QUARVEL_SYSROOT (bench/gen_machine.py writes large ones).
//
//   bench_collectors [RUNS]
//
// Each collector runs RUNS times in this one process (the identifier databases load once,
// in the first collector that needs them, as in the program); printed are the first run
// and the median of the others in milliseconds, then the same for writing the text. The
// first run is the one the report pays; the others show the work without cold caches.
#include "hw/hardware.h"
#include "i18n.h"
#include "report.h"
#include "util.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

size_t count_rows(const hw::Node& n) {
    size_t rows = 0;
    for (const auto& s : n.sections)
        rows += s.items.size();
    for (const auto& c : n.children)
        rows += count_rows(*c);
    return rows;
}

void print_row(const char* name, std::vector<double> ms, size_t rows) {
    double first = ms.front();
    std::vector<double> rest(ms.begin() + 1, ms.end());
    std::sort(rest.begin(), rest.end());
    double median = rest.empty() ? first : rest[rest.size() / 2];
    std::printf("  %-10s first %8.2f   median %8.2f   rows %7zu\n", name, first, median, rows);
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    I18n::instance().set_language("en");
    util::set_number_format(".", ",");
    const char* root = std::getenv("QUARVEL_SYSROOT");
    std::printf("%s, %d runs, milliseconds\n", root && *root ? root : "this machine", runs);

    hw::Node tree;
    double total_first = 0, total_median = 0;
    for (const auto& entry : hw::collector_table()) {
        std::vector<double> ms;
        size_t rows = 0;
        for (int i = 0; i < runs; ++i) {
            hw::Node scratch;
            auto t0 = std::chrono::steady_clock::now();
            try {
                entry.collect(scratch);
            } catch (...) {
            }
            ms.push_back(ms_since(t0));
            rows = count_rows(scratch);
            if (i + 1 == runs)
                for (auto& c : scratch.children)
                    tree.children.push_back(std::move(c));
        }
        print_row(entry.name, ms, rows);
        total_first += ms.front();
        std::vector<double> rest(ms.begin() + 1, ms.end());
        std::sort(rest.begin(), rest.end());
        total_median += rest.empty() ? ms.front() : rest[rest.size() / 2];
    }
    std::vector<double> ms;
    size_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        bytes = report::to_text(tree).size();
        ms.push_back(ms_since(t0));
    }
    print_row("text", ms, count_rows(tree));
    std::printf("  collectors: first %.2f, median %.2f; report text %zu bytes\n", total_first,
                total_median, bytes);
    return 0;
}
