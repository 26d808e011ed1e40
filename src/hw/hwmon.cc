#include "hw/hwmon.h"

#include "util.h"

#include <cmath>
#include <limits>
#include <set>

namespace hw::hwmon {

namespace {

// In display units, or nothing; shown with `decimals`.
std::string shown(std::optional<double> v, int decimals, const char* unit) {
    return v ? util::fmt_double(*v, decimals) + unit : std::string();
}

// "<prefix><digits>" followed by `suffix`, exactly.
bool is_channel_file(std::string_view name, std::string_view prefix, std::string_view suffix,
                     std::string& stem) {
    if (!util::starts_with(name, prefix) || !util::ends_with(name, suffix)) return false;
    if (name.size() <= prefix.size() + suffix.size()) return false;
    if (!util::all_digits(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size())))
        return false;
    stem = std::string(name.substr(0, name.size() - suffix.size()));
    return true;
}

} // namespace

std::optional<double> display_value(std::string_view raw, std::string_view prefix) {
    // A reading that is not a finite number leaves no value rather than "inf" or "nan".
    const double v = util::to_double(raw, std::numeric_limits<double>::quiet_NaN());
    if (!std::isfinite(v)) return std::nullopt;
    if (prefix == "fan") {
        // Fan speeds are whole numbers; a negative one is garbage, not a speed.
        if (v < 0 || v >= 1.8e19) return std::nullopt;
        return v;
    }
    return v / (prefix == "power" || prefix == "energy" ? 1e6 : 1000);
}

std::string temp_value(std::string_view raw) {
    return shown(display_value(raw, "temp"), 1, " °C");
}

std::string rpm_value(std::string_view raw) {
    auto v = display_value(raw, "fan");
    return v ? util::fmt_int(static_cast<uint64_t>(*v)) + " rpm" : std::string();
}

std::string volt_value(std::string_view raw) {
    return shown(display_value(raw, "in"), 3, " V");
}

std::string curr_value(std::string_view raw) {
    return shown(display_value(raw, "curr"), 3, " A");
}

std::string power_value(std::string_view raw) {
    return shown(display_value(raw, "power"), 2, " W");
}

std::string energy_value(std::string_view raw) {
    return shown(display_value(raw, "energy"), 1, " J");
}

std::string humidity_value(std::string_view raw) {
    return shown(display_value(raw, "humidity"), 1, " %RH");
}

std::vector<Channel> channels(const std::vector<std::string>& entries, std::string_view prefix) {
    std::vector<Channel> out;
    std::set<std::string> with_input;
    std::string stem;
    for (const auto& e : entries)
        if (is_channel_file(e, prefix, "_input", stem)) with_input.insert(stem);
    for (const auto& e : entries) {
        if (is_channel_file(e, prefix, "_input", stem)) {
            out.push_back({stem, e});
        } else if (prefix == "power" && is_channel_file(e, prefix, "_average", stem) &&
                   !with_input.count(stem)) {
            out.push_back({stem, e});
        }
    }
    return out;
}

// Newer drivers keep their attributes in the class directory; old ones left "name" and the
// channels in the device's own directory, which is where libsensors looks for them too.
std::string attribute_dir(const std::string& hwmon_dir) {
    if (util::path_exists(hwmon_dir + "/name")) return hwmon_dir;
    if (util::path_exists(hwmon_dir + "/device/name")) return hwmon_dir + "/device";
    return hwmon_dir;
}

} // namespace hw::hwmon
