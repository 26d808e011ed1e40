// The monitor bar's once-a-second sample: two readings of /proc/stat, /proc/meminfo and a
// temperature input, and the topology it draws the cores by. Whatever the files hold, every
// load and share stays within 0…100 %, the tables stay bounded, and the draw order names each
// known CPU once.
//
// The input holds up to five texts cut at \x1e: /proc/stat of the first and of the second
// reading, /proc/meminfo, a tempN_input, and topology lines "cpu package core siblings".
#include "fuzz_support.h"
#include "live/monitor_sample.h"
#include "util.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

using fuzz::check;

namespace {

bool percent(double v) {
    return std::isfinite(v) && v >= 0 && v <= 100;
}

void check_loads(const live::CpuLoads& l) {
    check(percent(l.total));
    check(l.per_cpu.size() == l.per_cpu_counters.size());
    check(l.per_cpu.size() <= static_cast<size_t>(live::max_cpu_number) + 1);
    for (double v : l.per_cpu)
        check(percent(v));
}

} // namespace

FUZZ_TARGET(input) {
    const fuzz::Parts part(input, '\x1e');

    live::MonitorFigures f;
    const std::vector<std::string> meminfo = util::lines(part[2]);
    const double temperature = live::temperature_celsius(part[3]);
    check(temperature == -1 || (temperature > 0 && temperature <= 200));
    for (size_t reading : {0, 1}) {
        live::apply_sample(f, util::lines(part[reading]), meminfo, temperature);
        check_loads(f.cpu);
        check(percent(f.memory.percent) && f.memory.used <= f.memory.total);
    }
    check(f.cpu_history.size() == 2 && f.temp_history.size() == (temperature < 0 ? 0u : 2u));

    // Chips named by the topology text's words, each input labelled by the word after it.
    std::vector<live::HwmonChip> chips;
    std::vector<hw::CpuTopology> topology;
    for (const auto& line : util::lines(part[4])) {
        const auto w = util::split_ws(line);
        if (w.empty()) continue;
        chips.push_back({w[0], {{line, w.size() > 1 ? w[1] : ""}}});
        topology.push_back({static_cast<int>(util::to_i64(w[0], -1)), w.size() > 1 ? w[1] : "",
                            w.size() > 2 ? w[2] : "", w.size() > 3 ? w[3] : ""});
    }
    const live::TemperatureSource source = live::choose_temperature_source(chips);
    check(source.path.empty() == chips.empty());

    const auto cpuinfo = hw::parse_cpuinfo(part[0]);
    const live::CpuIdentity id = live::identify_cpus(topology, cpuinfo, topology.size());
    check(id.core_of_cpu.size() == id.socket_of_cpu.size());
    check(id.core_of_cpu.size() <= static_cast<size_t>(live::max_cpu_number) + 1);
    std::set<int> drawn(id.draw_order.begin(), id.draw_order.end());
    check(drawn.size() == id.draw_order.size());
    for (int cpu : id.draw_order)
        check(cpu >= 0 && static_cast<size_t>(cpu) < id.core_of_cpu.size());
}
