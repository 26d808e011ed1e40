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

// The kernel's SPEED_UNKNOWN is -1; older drivers wrote 65535 or the unsigned form of -1.
// Nothing on a wire is faster than a few Tbit/s, so larger numbers are not speeds either.
std::string link_speed_text(std::string_view raw) {
    auto value = strict_u64(raw);
    int64_t mbit = value && *value < (1ULL << 62) ? static_cast<int64_t>(*value) : -1;
    if (mbit <= 0 || mbit == 65535 || mbit > 10'000'000) return {};
    return util::fmt_int(static_cast<uint64_t>(mbit)) + " Mbit/s";
}

} // namespace hw
