#include "live/monitor_sample.h"

#include "hw/hwmon.h"
#include "hw/memory_parsers.h"
#include "util.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace live {

// ---- Processor load -------------------------------------------------------------------------

std::optional<CpuCounters> cpu_counters(const std::vector<std::string>& numbers) {
    if (numbers.size() < 5) return std::nullopt;
    // user nice system idle iowait irq softirq steal. The kernel counts guest and guest_nice
    // (the ninth and tenth) inside user and nice already; adding them again would show a host
    // that runs virtual machines busier than it is.
    CpuCounters c;
    for (size_t i = 0; i < numbers.size() && i < 8; ++i)
        c.total = hw::saturating_add(c.total, util::to_u64(numbers[i], 0));
    c.idle = hw::saturating_add(util::to_u64(numbers[3], 0), util::to_u64(numbers[4], 0));
    return c;
}

std::optional<double> busy_percent(CpuCounters before, CpuCounters now) {
    if (before.total == 0 || now.total <= before.total) return std::nullopt;
    const double total = static_cast<double>(now.total - before.total);
    // iowait may run backwards on some kernels, so the idle difference can be negative.
    const double idle = static_cast<double>(now.idle) - static_cast<double>(before.idle);
    return std::clamp((total - idle) * 100 / total, 0.0, 100.0);
}

namespace {

// "cpu12" → 12; -1 for the aggregate line, other words and numbers out of range.
int cpu_number(std::string_view word) {
    if (!util::starts_with(word, "cpu")) return -1;
    std::string_view digits = word.substr(3);
    if (!util::all_digits(digits) || digits.size() > 4) return -1;
    int n = static_cast<int>(util::to_i64(digits, -1));
    return n <= max_cpu_number ? n : -1;
}

} // namespace

CpuLoads next_cpu_loads(const CpuLoads& previous, const std::vector<std::string>& stat_lines) {
    CpuLoads next = previous;
    next.total = 0;
    std::vector<bool> seen(next.per_cpu.size());
    for (const auto& line : stat_lines) {
        if (!util::starts_with(line, "cpu")) continue;
        std::vector<std::string> words = util::split_ws(line);
        if (words.empty()) continue;
        auto counters = cpu_counters({words.begin() + 1, words.end()});
        if (!counters) continue;
        if (words[0] == "cpu") {
            next.total = busy_percent(previous.total_counters, *counters).value_or(0);
            next.total_counters = *counters;
            continue;
        }
        const int n = cpu_number(words[0]);
        if (n < 0) continue;
        const size_t i = static_cast<size_t>(n);
        if (i >= next.per_cpu.size()) {
            next.per_cpu.resize(i + 1, 0);
            next.per_cpu_counters.resize(i + 1);
            seen.resize(i + 1);
        }
        if (auto load = busy_percent(next.per_cpu_counters[i], *counters)) next.per_cpu[i] = *load;
        next.per_cpu_counters[i] = *counters;
        seen[i] = true;
    }
    // A CPU taken offline is no longer listed; it does no work, and its last load would
    // otherwise stay on screen. Nothing listed at all means the file could not be read.
    if (std::find(seen.begin(), seen.end(), true) != seen.end())
        for (size_t i = 0; i < seen.size(); ++i)
            if (!seen[i]) next.per_cpu[i] = 0, next.per_cpu_counters[i] = {};
    return next;
}

// ---- Memory ---------------------------------------------------------------------------------

std::optional<MemoryUse> memory_use(const std::vector<std::string>& meminfo_lines) {
    const hw::Meminfo m = hw::parse_meminfo(meminfo_lines);
    const uint64_t total_kib = m.get("MemTotal");
    if (total_kib == 0) return std::nullopt;
    // Kernels before 3.14 have no MemAvailable; free memory and the caches are what they
    // could give back. Without either, every byte would read as used.
    uint64_t available_kib =
        m.has("MemAvailable")
            ? m.get("MemAvailable")
            : hw::saturating_add(m.get("MemFree"),
                                 hw::saturating_add(m.get("Buffers"), m.get("Cached")));
    const uint64_t used_kib = total_kib - std::min(available_kib, total_kib);
    MemoryUse u;
    u.total = hw::kib_to_bytes(total_kib);
    u.used = hw::kib_to_bytes(used_kib);
    // The share first: used / total is at most 1 when rounded, used * 100 / total is not.
    u.percent = static_cast<double>(used_kib) / static_cast<double>(total_kib) * 100;
    return u;
}

// ---- Temperature ----------------------------------------------------------------------------

TemperatureSource choose_temperature_source(const std::vector<HwmonChip>& chips) {
    struct Preference {
        const char* chip;
        const char* label; // null: any input
    };
    static const Preference preferences[] = {{"k10temp", "Tctl"},
                                             {"coretemp", "Package id 0"},
                                             {"zenpower", "Tdie"},
                                             {"cpu_thermal", nullptr},
                                             {"acpitz", nullptr}};
    for (const auto& pref : preferences) {
        for (const auto& chip : chips) {
            if (chip.name != pref.chip || chip.inputs.empty()) continue;
            for (const auto& input : chip.inputs)
                if (!pref.label || input.label == pref.label) return {input.path, input.label};
            // The driver is right even when its labels are not the usual ones.
            return {chip.inputs.front().path, chip.inputs.front().label};
        }
    }
    for (const auto& chip : chips)
        if (!chip.inputs.empty()) return {chip.inputs.front().path, chip.name};
    return {};
}

double temperature_celsius(std::string_view text) {
    const std::string t = util::trim(text);
    std::string_view digits = t;
    if (util::starts_with(digits, "-")) digits.remove_prefix(1);
    if (!util::all_digits(digits)) return -1;
    const double c = static_cast<double>(util::to_i64(t, 0)) / 1000;
    return c <= 0 || c > 200 ? -1 : c;
}

std::vector<HwmonChip> read_hwmon_chips() {
    std::vector<HwmonChip> chips;
    for (const auto& entry : util::list_dir("/sys/class/hwmon", "hwmon")) {
        // The device's own directory, which the bar reads for as long as it runs: the kernel
        // hands a removed chip's number to the next one, whose temperature would then be shown
        // under the removed chip's caption.
        const std::string dir =
            hw::hwmon::attribute_dir(util::resolve_path("/sys/class/hwmon/" + entry));
        HwmonChip chip;
        chip.name = util::read_text(dir + "/name");
        const auto entries = util::list_dir(dir, "temp");
        for (const auto& ch : hw::hwmon::channels(entries, "temp")) {
            // An open diode the chip flags reads far above any real temperature (often 127 °C).
            const std::string fault = ch.stem + "_fault";
            if (std::find(entries.begin(), entries.end(), fault) != entries.end() &&
                util::read_file(dir + "/" + fault) == "1")
                continue;
            chip.inputs.push_back(
                {dir + "/" + ch.reading, util::read_text(dir + "/" + ch.stem + "_label")});
        }
        chips.push_back(std::move(chip));
    }
    return chips;
}

double read_temperature(const std::string& path) {
    return path.empty() ? -1 : temperature_celsius(util::read_file(path));
}

double read_temperature_following(TemperatureSource& source) {
    const double reading = read_temperature(source.path);
    // A failed read of a file still there (an error of the moment) keeps the source.
    if (reading >= 0 || source.path.empty() || util::path_exists(source.path)) return reading;
    source = choose_temperature_source(read_hwmon_chips());
    return read_temperature(source.path);
}

// ---- The processor's identity ---------------------------------------------------------------

CpuIdentity identify_cpus(const std::vector<hw::CpuTopology>& online,
                          const std::vector<hw::CpuInfoBlock>& cpuinfo, size_t present) {
    CpuIdentity id;
    id.name = hw::cpuinfo_model(cpuinfo);
    id.sockets = static_cast<int>(hw::count_sockets(online, cpuinfo));
    id.cores_physical = static_cast<int>(hw::count_cores(online));
    id.cpus_present = static_cast<int>(present);

    // A core is what count_cores takes it to be: a sibling set, else a (package, core) pair.
    const bool by_siblings = hw::has_sibling_sets(online);
    std::map<std::string, int> core_index;
    int highest = -1;
    for (const auto& t : online)
        highest = std::max(highest, t.cpu);
    if (highest > max_cpu_number) highest = max_cpu_number;
    id.core_of_cpu.assign(static_cast<size_t>(highest + 1), -1);
    id.socket_of_cpu.assign(static_cast<size_t>(highest + 1), -1);
    for (const auto& t : online) {
        if (t.cpu < 0 || t.cpu > highest) continue;
        const size_t n = static_cast<size_t>(t.cpu);
        id.socket_of_cpu[n] =
            static_cast<int>(std::max<int64_t>(util::to_i64(t.package_id, -1), -1));
        std::string key;
        if (by_siblings)
            key = t.thread_siblings.empty() ? "cpu " + std::to_string(t.cpu) : t.thread_siblings;
        else if (!t.core_id.empty())
            key = t.package_id + "/" + t.core_id;
        if (key.empty()) continue;
        id.core_of_cpu[n] =
            core_index.emplace(key, static_cast<int>(core_index.size())).first->second;
    }
    for (const auto& t : online)
        if (t.cpu >= 0 && t.cpu <= highest) id.draw_order.push_back(t.cpu);
    std::sort(id.draw_order.begin(), id.draw_order.end(), [&](int a, int b) {
        auto key = [&](int c) {
            return std::tuple(id.socket_of_cpu[static_cast<size_t>(c)],
                              id.core_of_cpu[static_cast<size_t>(c)], c);
        };
        return key(a) < key(b);
    });
    id.draw_order.erase(std::unique(id.draw_order.begin(), id.draw_order.end()),
                        id.draw_order.end());
    return id;
}

CpuIdentity read_cpu_identity() {
    const hw::CpuLists lists = hw::read_cpu_lists();
    const auto topology = hw::read_topology(lists.online, util::read_text);
    return identify_cpus(topology, hw::parse_cpuinfo(util::read_file_raw("/proc/cpuinfo")),
                         lists.present.size());
}

// ---- Everything the bar shows ---------------------------------------------------------------

void apply_sample(MonitorFigures& f, const std::vector<std::string>& stat_lines,
                  const std::vector<std::string>& meminfo_lines, double temperature) {
    f.cpu = next_cpu_loads(f.cpu, stat_lines);
    if (auto m = memory_use(meminfo_lines))
        f.memory = *m;
    else
        f.memory.percent = 0;
    f.temp_now = temperature;
    push_history(f.cpu_history, f.cpu.total);
    if (temperature >= 0) push_history(f.temp_history, temperature);
}

} // namespace live
