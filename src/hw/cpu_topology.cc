#include "hw/cpu_topology.h"

#include "hw/cpu_list.h"
#include "util.h"

#include <set>
#include <unordered_map>

namespace hw {

namespace {

// A package or socket id the kernel knows: a non-negative decimal number.
std::optional<int64_t> known_id(const std::string& text) {
    if (text.empty()) return std::nullopt;
    int64_t v = util::to_i64(text, -1);
    if (v < 0) return std::nullopt;
    return v;
}

const std::string cpu_root = "/sys/devices/system/cpu";

std::string cpu_dir(int cpu) {
    return cpu_root + "/cpu" + std::to_string(cpu);
}

bool is_cpu_entry(const std::string& name) {
    return util::starts_with(name, "cpu") && util::all_digits(std::string_view(name).substr(3));
}

} // namespace

CpuLists read_cpu_lists() {
    CpuLists l;
    l.present_text = util::read_text(cpu_root + "/present");
    l.present = cpu_set(parse_cpu_list(l.present_text));
    if (l.present.empty()) {
        for (const auto& name : util::list_dir(cpu_root, "cpu"))
            if (is_cpu_entry(name))
                l.present.push_back(static_cast<int>(util::to_i64(name.substr(3), -1)));
        l.present = cpu_set(l.present);
        l.present_text = format_cpu_list(l.present);
        l.present_note = "cpu*";
    }
    l.online_text = util::read_text_shared(cpu_root + "/online"); // the OS branch counts it too
    l.online = cpu_set(parse_cpu_list(l.online_text));
    if (l.online.empty()) {
        for (int n : l.present) {
            // CPUs that cannot be taken offline (often cpu0) have no "online" file.
            if (!util::is_dir(cpu_dir(n))) continue;
            if (util::read_file(cpu_dir(n) + "/online") != "0") l.online.push_back(n);
        }
        l.online_text = format_cpu_list(l.online);
        l.online_note = "cpu*/online";
    }
    l.online_set.insert(l.online.begin(), l.online.end());
    l.offline_text = util::read_text(cpu_root + "/offline");
    return l;
}

std::vector<CpuTopology>
read_topology(const std::vector<int>& online,
              const std::function<std::string(const std::string&)>& read_text) {
    std::vector<CpuTopology> all;
    // Threads of one core share its sibling set and its package: those of a sibling already
    // read are taken over, so a core's files are read once, not once per thread.
    std::unordered_map<int, size_t> told_by;
    for (int n : online) {
        if (auto it = told_by.find(n); it != told_by.end()) {
            CpuTopology t = all[it->second];
            t.cpu = n;
            all.push_back(std::move(t));
            continue;
        }
        const std::string topo = cpu_dir(n) + "/topology/";
        CpuTopology t;
        t.cpu = n;
        t.package_id = read_text(topo + "physical_package_id");
        // The mask is only the older kernels' form: reading it beside the list would cost one
        // more file per CPU on machines where the count of files is the whole cost.
        const std::string list = read_text(topo + "thread_siblings_list");
        t.thread_siblings = list.empty()
                                ? canonical_cpu_list("", read_text(topo + "thread_siblings"))
                                : canonical_cpu_list(list, "");
        for (int sibling : parse_cpu_list(t.thread_siblings))
            told_by.emplace(sibling, all.size());
        all.push_back(std::move(t));
    }
    if (!has_sibling_sets(all))
        for (auto& t : all)
            t.core_id = read_text(cpu_dir(t.cpu) + "/topology/core_id");
    return all;
}

size_t count_sockets(const std::vector<CpuTopology>& cpus,
                     const std::vector<CpuInfoBlock>& blocks) {
    std::set<int64_t> packages;
    for (const auto& c : cpus)
        if (auto id = known_id(c.package_id)) packages.insert(*id);
    if (!packages.empty()) return packages.size();
    for (const auto& b : blocks)
        if (auto id = known_id(b.get("physical id"))) packages.insert(*id);
    return packages.size();
}

bool has_sibling_sets(const std::vector<CpuTopology>& cpus) {
    for (const auto& c : cpus)
        if (!c.thread_siblings.empty()) return true;
    return false;
}

size_t count_cores(const std::vector<CpuTopology>& cpus) {
    if (has_sibling_sets(cpus)) {
        std::set<std::string> sets;
        std::set<int> covered;
        for (const auto& c : cpus) {
            if (c.thread_siblings.empty()) continue;
            if (sets.insert(c.thread_siblings).second)
                for (int n : parse_cpu_list(c.thread_siblings))
                    covered.insert(n);
        }
        size_t cores = sets.size();
        for (const auto& c : cpus)
            if (c.thread_siblings.empty() && !covered.count(c.cpu)) ++cores;
        return cores;
    }
    std::set<std::string> pairs;
    for (const auto& c : cpus)
        if (!c.core_id.empty()) pairs.insert(c.package_id + "/" + c.core_id);
    return pairs.size();
}

} // namespace hw
