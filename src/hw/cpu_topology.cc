#include "hw/cpu_topology.h"

#include "hw/cpu_list.h"
#include "util.h"

#include <set>

namespace hw {

namespace {

// A package or socket id the kernel knows: a non-negative decimal number.
std::optional<int64_t> known_id(const std::string& text) {
    if (text.empty()) return std::nullopt;
    int64_t v = util::to_i64(text, -1);
    if (v < 0) return std::nullopt;
    return v;
}

} // namespace

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
