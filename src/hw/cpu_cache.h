// Processor caches as /sys/devices/system/cpu/cpuN/cache/indexK describes them, and the
// machine-wide totals where every physical cache is counted once.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

struct CacheEntry {
    int level = 0;
    std::string type; // "Data", "Instruction" or "Unified"
    uint64_t size_bytes = 0;
    std::string shared_list; // kernel list syntax; from the mask on kernels without the list
    std::string ways;
    std::string line_size;
    std::string sets;
    std::string alloc_policy;
    std::string write_policy;
};

// "32K", "1280K", "12M", "512" (bytes). 0 when the text has no number or the size does not
// fit 64 bits.
uint64_t parse_cache_size(std::string_view text);

// L1d, L1i, L2, L3; separate instruction and data caches at other levels give L2d/L2i.
std::string cache_label(const CacheEntry& entry);

// Every index directory of one CPU, in index order.
std::vector<CacheEntry> read_caches(int cpu);

// Reads the caches of many CPUs without reading one physical cache twice: CPUs that share a
// cache list it at the same index with the same CPU list, so the entry read through the
// first of them stands for the others.
class CacheReader {
public:
    // Identity reads level, type, size and the shared list (ways and line size only for the
    // first cache of each label): enough for the machine-wide totals.
    enum class Detail { Identity, Full };
    // `policies`: whether the caches may state their allocation and write policies, which
    // x86 never does (its caches are described by the processor, not by firmware tables).
    explicit CacheReader(Detail detail, bool policies = true)
        : m_detail(detail), m_policies(policies) {}
    // The caches of one CPU in index order, as read_caches would return them.
    std::vector<CacheEntry> read(int cpu);
    // Index directories actually read so far (for the benchmark and tests).
    size_t entries_read() const { return m_entries.size(); }

private:
    CacheEntry read_entry(const std::string& dir);

    Detail m_detail;
    bool m_policies;
    std::vector<std::string> m_indexes;                   // every index name met, in order
    std::map<std::string, std::map<int, size_t>> m_cover; // index → CPU → entry in m_entries
    std::vector<CacheEntry> m_entries;
    std::map<std::string, bool> m_labels;
};

struct CacheTotal {
    std::string label;
    uint64_t total_bytes = 0;
    std::vector<uint64_t> sizes; // one per physical cache, in the order they were met
    CacheEntry sample;           // the first one met, for associativity and line size
};

// Adds up physical caches: two CPUs sharing one cache report it twice, with the same label
// and the same shared CPU list, and it counts once.
class CacheTally {
public:
    // `cpu` is the CPU the entry was read from: a cache without a shared list is its own.
    // A cache of unknown size is left out.
    void add(int cpu, const CacheEntry& entry);
    // In byte order of the labels: L1d, L1i, L2, L3.
    std::vector<CacheTotal> totals() const;
    bool empty() const { return m_totals.empty(); }

private:
    std::map<std::string, CacheTotal> m_totals;
    std::map<std::string, bool> m_seen; // label + "|" + canonical shared list
};

// "1.00 MiB  (8 × 128 KiB)", or the sizes joined with " + " when they differ.
std::string cache_total_text(const CacheTotal& total);
// "8-way, 64 B line" from the sample, each part only when known.
std::string cache_total_note(const CacheTotal& total);

} // namespace hw
