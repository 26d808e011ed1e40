// Strict readings of one-value kernel attributes for the storage and network branches,
// where garbage must give no row rather than a plausible-looking wrong number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hw {

// A decimal count and nothing else (surrounding blanks allowed): "1e9", "-1", "12 px" and
// numbers beyond 64 bits give nothing.
std::optional<uint64_t> strict_u64(std::string_view text);
// strict_u64 of the attribute file at `path`; nothing when it cannot be read.
std::optional<uint64_t> read_strict_u64(const std::string& path);

// A network link's "speed" attribute as "1,000 Mbit/s"; empty while the speed is unknown.
std::string link_speed_text(std::string_view raw);

} // namespace hw
