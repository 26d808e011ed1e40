#include "hw/cpu_cache.h"

#include "hw/cpu_list.h"
#include "util.h"

#include <algorithm>
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

namespace {

int read_level(const std::string& dir) {
    int64_t level = util::to_i64(util::read_file(dir + "/level"), 0);
    return level < 0 || level > 99 ? 0 : static_cast<int>(level);
}

std::string read_shared_list(const std::string& dir) {
    std::string list = util::read_text(dir + "/shared_cpu_list");
    if (list.empty())
        list = format_cpu_list(parse_cpu_mask(util::read_file(dir + "/shared_cpu_map")));
    return list;
}

} // namespace

CacheEntry CacheReader::read_entry(const std::string& dir) {
    CacheEntry e;
    e.level = read_level(dir);
    e.type = util::read_text(dir + "/type");
    e.size_bytes = parse_cache_size(util::read_file(dir + "/size"));
    e.shared_list = read_shared_list(dir);
    bool first_of_label = m_labels.emplace(cache_label(e), true).second;
    if (m_detail == Detail::Full || first_of_label) {
        e.ways = util::read_text(dir + "/ways_of_associativity");
        e.line_size = util::read_text(dir + "/coherency_line_size");
    }
    if (m_detail == Detail::Full) {
        e.sets = util::read_text(dir + "/number_of_sets");
        if (m_policies) {
            e.alloc_policy = util::read_text(dir + "/allocation_policy");
            e.write_policy = util::read_text(dir + "/write_policy");
        }
    }
    return e;
}

std::vector<CacheEntry> CacheReader::read(int cpu) {
    auto covered = [&](const std::string& index) -> const CacheEntry* {
        auto it = m_cover.find(index);
        if (it == m_cover.end()) return nullptr;
        auto hit = it->second.find(cpu);
        return hit == it->second.end() ? nullptr : &m_entries[hit->second];
    };
    std::vector<CacheEntry> out;
    // A CPU whose every known cache was already seen through a CPU sharing it needs not even
    // be listed: the first CPU of each kind has private caches and is always listed.
    bool all_covered = !m_indexes.empty();
    for (const auto& index : m_indexes)
        all_covered = all_covered && covered(index);
    if (all_covered) {
        for (const auto& index : m_indexes)
            out.push_back(*covered(index));
        return out;
    }
    std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cache";
    for (const auto& index : util::list_dir(base, "index")) {
        if (std::find(m_indexes.begin(), m_indexes.end(), index) == m_indexes.end())
            m_indexes.push_back(index);
        if (const CacheEntry* seen = covered(index)) {
            out.push_back(*seen);
            continue;
        }
        CacheEntry e = read_entry(base + "/" + index);
        m_entries.push_back(e);
        auto& cover = m_cover[index];
        std::vector<int> sharers = parse_cpu_list(e.shared_list);
        if (sharers.empty()) sharers.push_back(cpu);
        for (int n : sharers)
            cover.emplace(n, m_entries.size() - 1);
        cover.emplace(cpu, m_entries.size() - 1);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<CacheEntry> read_caches(int cpu) {
    return CacheReader(CacheReader::Detail::Full).read(cpu);
}

void CacheTally::add(int cpu, const CacheEntry& entry) {
    // The kernel leaves out "size" where the firmware does not give it (Arm machines whose
    // device tree has no cache sizes): such a cache adds nothing a total could show.
    if (entry.size_bytes == 0) return;
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
