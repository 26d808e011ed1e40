#include "hw/wireless_table.h"

#include "util.h"

namespace hw {

namespace {

// One printed figure: the number and the kernel's update marker right behind it.
std::optional<int> updated_value(const std::string& field) {
    if (field.size() < 2 || field.back() != '.') return std::nullopt;
    int64_t v = util::to_i64(field.substr(0, field.size() - 1), INT64_MIN);
    // Levels are one signed byte in the kernel; anything outside is not a measurement.
    if (v < -256 || v > 255) return std::nullopt;
    return static_cast<int>(v);
}

} // namespace

std::map<std::string, WirelessLine> parse_wireless(std::string_view text) {
    std::map<std::string, WirelessLine> out;
    // No string streams: the first one of a run sets up the C++ locales, which nothing else in
    // the report needs.
    for (const std::string& line : util::lines(text)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = util::trim(line.substr(0, colon));
        // The two heading lines have '|' in them, interface names never do.
        if (name.empty() || line.find('|') != std::string::npos) continue;
        // Status, link quality, level and noise.
        const std::vector<std::string> fields = util::split_ws(line.substr(colon + 1));
        if (fields.size() < 4) continue;
        WirelessLine w;
        w.link = updated_value(fields[1]);
        w.level = updated_value(fields[2]);
        w.noise = updated_value(fields[3]);
        // cfg80211 reports no noise and prints 0 − 256; it is never a reading.
        if (w.noise && *w.noise == -256) w.noise.reset();
        if (w.level && *w.level == -256) w.level.reset();
        // A card that is not associated prints zeros throughout, marked or not.
        if (w.link.value_or(0) == 0 && w.level.value_or(0) == 0 && w.noise.value_or(0) == 0)
            w = WirelessLine{};
        out[name] = w;
    }
    return out;
}

std::string wireless_level_text(int value) {
    if (value < 0) return util::fmt_signed(value) + " dBm";
    return util::fmt_int(static_cast<uint64_t>(value));
}

} // namespace hw
