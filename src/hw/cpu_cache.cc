#include "hw/cpu_cache.h"

#include "hw/cpu_list.h"
#include "util.h"

#include <limits>

namespace hw {

uint64_t parse_cache_size(std::string_view text) {
    std::string t = util::trim(text);
    uint64_t n = util::to_u64(t, 0);
    if (t.empty() || n == 0) return 0;
    uint64_t factor = 1;
    switch (t.back()) {
    case 'K':
    case 'k':
        factor = 1024ULL;
        break;
    case 'M':
    case 'm':
        factor = 1024ULL * 1024;
        break;
    case 'G':
    case 'g':
        factor = 1024ULL * 1024 * 1024;
        break;
    default:
        break;
    }
    if (n > std::numeric_limits<uint64_t>::max() / factor) return 0;
    return n * factor;
}

std::string cache_label(const CacheEntry& entry) {
    std::string label = "L" + std::to_string(entry.level);
    if (entry.type == "Data") label += "d";
    if (entry.type == "Instruction") label += "i";
    return label;
}

std::vector<CacheEntry> read_caches(int cpu) {
    std::vector<CacheEntry> out;
    std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cache";
    for (const auto& index : util::list_dir(base, "index")) {
        std::string d = base + "/" + index;
        CacheEntry e;
        int64_t level = util::to_i64(util::read_file(d + "/level"), 0);
        e.level = level < 0 || level > 99 ? 0 : static_cast<int>(level);
        e.type = util::valid_utf8(util::read_file(d + "/type"));
        e.size_bytes = parse_cache_size(util::read_file(d + "/size"));
        e.shared_list = util::valid_utf8(util::read_file(d + "/shared_cpu_list"));
        if (e.shared_list.empty())
            e.shared_list = format_cpu_list(parse_cpu_mask(util::read_file(d + "/shared_cpu_map")));
        e.ways = util::valid_utf8(util::read_file(d + "/ways_of_associativity"));
        e.line_size = util::valid_utf8(util::read_file(d + "/coherency_line_size"));
        e.sets = util::valid_utf8(util::read_file(d + "/number_of_sets"));
        e.alloc_policy = util::valid_utf8(util::read_file(d + "/allocation_policy"));
        e.write_policy = util::valid_utf8(util::read_file(d + "/write_policy"));
        out.push_back(std::move(e));
    }
    return out;
}

bool CacheTally::counted(const std::string& label, const std::string& canonical_list) const {
    return m_seen.count(label + "|" + canonical_list) > 0;
}

void CacheTally::add(int cpu, const CacheEntry& entry) {
    std::string label = cache_label(entry);
    std::string list = format_cpu_list(parse_cpu_list(entry.shared_list));
    if (list.empty()) list = std::to_string(cpu);
    if (!m_seen.emplace(label + "|" + list, true).second) return;
    auto [it, fresh] = m_totals.try_emplace(label);
    CacheTotal& t = it->second;
    if (fresh) {
        t.label = label;
        t.sample = entry;
    }
    uint64_t room = std::numeric_limits<uint64_t>::max() - t.total_bytes;
    t.total_bytes += entry.size_bytes < room ? entry.size_bytes : room;
    t.sizes.push_back(entry.size_bytes);
}

std::vector<CacheTotal> CacheTally::totals() const {
    std::vector<CacheTotal> out; // std::map keeps byte order of the labels
    for (const auto& [label, t] : m_totals)
        out.push_back(t);
    return out;
}

std::string cache_total_text(const CacheTotal& total) {
    std::string text = util::fmt_bytes(total.total_bytes);
    if (total.sizes.size() < 2) return text;
    bool same = true;
    for (uint64_t s : total.sizes)
        same = same && s == total.sizes.front();
    text += "  (";
    if (same) {
        text += util::fmt_int(total.sizes.size()) + " × " + util::fmt_bytes(total.sizes.front());
    } else {
        std::vector<std::string> parts;
        for (uint64_t s : total.sizes)
            parts.push_back(util::fmt_bytes(s));
        text += util::join(parts, " + ");
    }
    return text + ")";
}

std::string cache_total_note(const CacheTotal& total) {
    std::vector<std::string> parts;
    // A zero is what some hypervisors and firmware tables put where they know nothing.
    if (util::to_u64(total.sample.ways, 0) > 0) parts.push_back(total.sample.ways + "-way");
    if (util::to_u64(total.sample.line_size, 0) > 0)
        parts.push_back(total.sample.line_size + " B line");
    return util::join(parts, ", ");
}

} // namespace hw
