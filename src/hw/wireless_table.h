// The per-interface link figures of /proc/net/wireless.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace hw {

struct WirelessLine {
    // Each figure only when the driver marked it as freshly updated ("54." rather than
    // "54"); a stale or never-measured value (cfg80211's noise of -256) stays empty.
    std::optional<int> link;
    std::optional<int> level;
    std::optional<int> noise;
};

// Interface name → its line. Heading lines and lines that do not parse are skipped.
std::map<std::string, WirelessLine> parse_wireless(std::string_view text);

// "-56 dBm" for a level the driver gives in dBm (the kernel prints those as negative
// numbers), the bare number for a relative level.
std::string wireless_level_text(int value);

} // namespace hw
