#include "hw/sysfs_values.h"

#include "util.h"

#include <limits>

namespace hw {

std::optional<uint64_t> strict_u64(std::string_view text) {
    std::string t = util::trim(text);
    if (!util::all_digits(t)) return std::nullopt;
    constexpr uint64_t bad = std::numeric_limits<uint64_t>::max();
    uint64_t v = util::to_u64(t, bad);
    // to_u64 gives the fallback on overflow; the largest value itself is no real count.
    if (v == bad) return std::nullopt;
    return v;
}

std::optional<uint64_t> read_strict_u64(const std::string& path) {
    return strict_u64(util::read_file(path));
}

} // namespace hw
