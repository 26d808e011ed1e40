// What the monitor bar shows, sampled once a second: processor load from /proc/stat, memory in
// use from /proc/meminfo and one temperature from the hardware monitors, plus who the
// processor is, read once. The computations are pure (previous state and text in, new state
// out); only the read_* functions touch files.
#pragma once

#include "hw/cpu_topology.h"
#include "hw/cpuinfo_parser.h"
#include "live/history.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace live {

// ---- Processor load -------------------------------------------------------------------------

struct CpuCounters {
    uint64_t total = 0; // clock ticks of every kind
    uint64_t idle = 0;  // idle and iowait
};

// The counters of one "cpu" line of /proc/stat, given the numbers after its first word.
// Nothing with fewer than five numbers.
std::optional<CpuCounters> cpu_counters(const std::vector<std::string>& numbers);

// The busy share between two readings in percent, within 0…100. Nothing when there is no
// earlier reading or the counters did not advance (a reset, or a CPU that was offline).
std::optional<double> busy_percent(CpuCounters before, CpuCounters now);

struct CpuLoads {
    double total = 0; // percent
    CpuCounters total_counters;
    std::vector<double> per_cpu; // percent, by CPU number
    std::vector<CpuCounters> per_cpu_counters;
};

// CPU numbers above this are taken for garbage, so a bad line cannot grow the tables.
constexpr int max_cpu_number = 4096;

// One reading of /proc/stat applied to the previous state. The first reading gives 0 for
// every load; real values follow with the second.
CpuLoads next_cpu_loads(const CpuLoads& previous, const std::vector<std::string>& stat_lines);

// ---- Memory ---------------------------------------------------------------------------------

struct MemoryUse {
    uint64_t total = 0; // bytes
    uint64_t used = 0;  // bytes: total less what is available to programs
    double percent = 0;
};

// Nothing without a MemTotal line.
std::optional<MemoryUse> memory_use(const std::vector<std::string>& meminfo_lines);

// ---- Temperature ----------------------------------------------------------------------------

struct TemperatureInput {
    std::string path;  // the tempN_input file
    std::string label; // its tempN_label, often empty
};

struct HwmonChip {
    std::string name;                     // the chip's "name" file
    std::vector<TemperatureInput> inputs; // in the directory's order
};

struct TemperatureSource {
    std::string path; // empty: no sensor
    std::string label;
};

// The processor's own reading where a known driver offers it (k10temp's Tctl, coretemp's
// package, zenpower's Tdie, then any input of cpu_thermal or acpitz), else the first
// temperature input of any chip, captioned with the chip's name.
TemperatureSource choose_temperature_source(const std::vector<HwmonChip>& chips);

// Degrees Celsius of a tempN_input text (millidegrees); -1 when it is empty, unparsable, or
// not a plausible processor temperature (0 or below, above 200).
double temperature_celsius(std::string_view text);

// The chips under /sys/class/hwmon with their temperature inputs, in directory order.
std::vector<HwmonChip> read_hwmon_chips();
// The reading of `path`; -1 for an empty path or an implausible value.
double read_temperature(const std::string& path);
// The reading of `source`, which is chosen again when its chip is gone (a drive's chip goes
// with the drive): the best chip left is then read, under its own caption.
double read_temperature_following(TemperatureSource& source);

// ---- The processor's identity ---------------------------------------------------------------

struct CpuIdentity {
    std::string name; // model name; empty when unknown
    int sockets = 0;  // as the processor branch counts them
    int cores_physical = 0;
    int cpus_present = 0;
    std::vector<int> core_of_cpu;   // by CPU number: an index unique across sockets; -1 unknown
    std::vector<int> socket_of_cpu; // by CPU number: the package id; -1 unknown
    std::vector<int> draw_order;    // CPU numbers by socket, then core, then number
};

// `online` is the topology of the online CPUs; `present` the number of present CPUs.
CpuIdentity identify_cpus(const std::vector<hw::CpuTopology>& online,
                          const std::vector<hw::CpuInfoBlock>& cpuinfo, size_t present);
CpuIdentity read_cpu_identity();

// ---- Everything the bar shows ---------------------------------------------------------------

struct MonitorFigures {
    CpuLoads cpu;
    std::deque<double> cpu_history; // total load, oldest first
    MemoryUse memory;               // percent 0 while MemTotal is missing
    double temp_now = -1;           // °C; -1 unknown
    std::deque<double> temp_history;
    std::string temp_label;
    CpuIdentity identity;
};

// One sample: the lines of /proc/stat and /proc/meminfo and a temperature reading (-1: none).
// An unknown temperature adds nothing to its history; missing memory figures show 0 % and
// keep the totals last known.
void apply_sample(MonitorFigures& f, const std::vector<std::string>& stat_lines,
                  const std::vector<std::string>& meminfo_lines, double temperature);

} // namespace live
