#include "hw/block_stat.h"

#include "hw/sysfs_values.h"
#include "util.h"

#include <array>

namespace hw {

std::optional<BlockStat> parse_block_stat(std::string_view text) {
    auto fields = util::split_ws(text);
    std::array<uint64_t, 11> v{};
    if (fields.size() < v.size()) return std::nullopt;
    for (size_t n = 0; n < v.size(); ++n) {
        auto value = strict_u64(fields[n]);
        if (!value) return std::nullopt;
        v[n] = *value;
    }
    return BlockStat{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
}

} // namespace hw
