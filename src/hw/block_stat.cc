#include "hw/block_stat.h"

#include "util.h"

#include <array>

namespace hw {

std::optional<BlockStat> parse_block_stat(std::string_view text) {
    std::array<uint64_t, 11> v{};
    size_t n = 0;
    size_t i = 0;
    while (n < v.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
            ++i;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n')
            ++i;
        if (i == start) return std::nullopt;
        std::string_view field = text.substr(start, i - start);
        for (char c : field)
            if (c < '0' || c > '9') return std::nullopt;
        uint64_t value = util::to_u64(field, UINT64_MAX);
        if (value == UINT64_MAX) return std::nullopt; // beyond 64 bits: not a counter
        v[n++] = value;
    }
    return BlockStat{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
}

} // namespace hw
