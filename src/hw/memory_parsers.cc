#include "hw/memory_parsers.h"

#include "util.h"

namespace hw {

namespace {

constexpr uint64_t memmap_threshold = 256ull << 20;

} // namespace

uint64_t Meminfo::get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? 0 : it->second;
}

Meminfo parse_meminfo(const std::vector<std::string>& lines) {
    Meminfo m;
    for (const auto& line : lines) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = util::trim(std::string_view(line).substr(0, colon));
        if (key.empty()) continue; // nothing to label a row with
        std::string rest = util::trim(std::string_view(line).substr(colon + 1));
        m.values[key] = util::to_u64(rest, 0);
        m.order.push_back(std::move(key));
    }
    return m;
}

std::vector<SwapArea> parse_swaps(const std::vector<std::string>& lines) {
    std::vector<SwapArea> out;
    for (size_t i = 1; i < lines.size(); ++i) {
        auto f = util::split_ws(lines[i]);
        if (f.size() < 5) continue;
        SwapArea a;
        // The kernel octal-escapes white space and backslashes in the file name.
        a.name = util::unescape_octal(f[0]);
        a.type = f[1];
        a.size_kb = util::to_u64(f[2], 0);
        a.used_kb = util::to_u64(f[3], 0);
        a.priority = f[4];
        out.push_back(std::move(a));
    }
    return out;
}

bool memmap_exceeds_total(const std::vector<MemmapRange>& ranges, uint64_t total_bytes) {
    uint64_t top = 0;
    for (const auto& r : ranges)
        if (r.end >= r.start && r.type == "System RAM" && r.end > top) top = r.end;
    if (top == 0) return false;
    uint64_t span = 0;
    for (const auto& r : ranges)
        if (r.end >= r.start && r.end <= top)
            span = saturating_add(span, saturating_add(r.end - r.start, 1));
    return span > saturating_add(total_bytes, memmap_threshold);
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t kib_to_bytes(uint64_t kib) {
    return kib > UINT64_MAX / 1024 ? UINT64_MAX : kib * 1024;
}

} // namespace hw
