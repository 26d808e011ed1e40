// Parsers of the kernel's memory files: /proc/meminfo, /proc/swaps and the firmware memory
// map. Text in, plain records out; the memory collector reads the files and builds rows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hw {

struct Meminfo {
    // Key (text before the colon) to the number after it: KiB for "kB" lines, a count for
    // the HugePages_* lines. A later line with the same key wins.
    std::map<std::string, uint64_t> values;
    // Every parsed key in file order, duplicates kept.
    std::vector<std::string> order;

    bool has(const std::string& key) const { return values.count(key) != 0; }
    // The value, or 0 when the key is absent.
    uint64_t get(const std::string& key) const;
};

Meminfo parse_meminfo(const std::vector<std::string>& lines);

struct SwapArea {
    std::string name; // escapes decoded
    std::string type;
    uint64_t size_kb = 0;
    uint64_t used_kb = 0;
    std::string priority; // as the kernel writes it, e.g. "-2"
};

// The lines of /proc/swaps; the first is the column header.
std::vector<SwapArea> parse_swaps(const std::vector<std::string>& lines);
// The kernel allows fewer than 32 swap areas, and meminfo has well under a hundred lines.
constexpr size_t max_swap_lines = 64;
constexpr size_t max_meminfo_lines = 1024;

struct MemmapRange {
    uint64_t start = 0;
    uint64_t end = 0; // inclusive
    std::string type; // "System RAM", "Reserved" …
};

// True when the ranges below the top of System RAM span more than `total_bytes` plus
// 256 MiB: the firmware (or integrated graphics) keeps a noticeable part of the installed
// memory from the kernel.
bool memmap_exceeds_total(const std::vector<MemmapRange>& ranges, uint64_t total_bytes);

// KiB to bytes, saturating instead of wrapping for absurd values.
uint64_t kib_to_bytes(uint64_t kib);

// a + b, saturating instead of wrapping: sums of firmware-given sizes must not come out
// small.
uint64_t saturating_add(uint64_t a, uint64_t b);

} // namespace hw
