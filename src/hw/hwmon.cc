#include "hw/hwmon.h"

#include "util.h"

#include <cmath>
#include <limits>
#include <set>

namespace hw::hwmon {

namespace {

// A reading that is not a finite number leaves no row rather than "inf" or "nan".
bool reading(std::string_view raw, double& out) {
    out = util::to_double(raw, std::numeric_limits<double>::quiet_NaN());
    return std::isfinite(out);
}

std::string scaled(std::string_view raw, double divisor, int decimals, const char* unit) {
    double v;
    if (!reading(raw, v)) return {};
    return util::fmt_double(v / divisor, decimals) + unit;
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

std::string temp_value(std::string_view raw) {
    return scaled(raw, 1000, 1, " °C");
}

std::string rpm_value(std::string_view raw) {
    double v;
    if (!reading(raw, v)) return {};
    // Fan speeds are whole numbers; a negative one is garbage, not a speed.
    if (v < 0 || v >= 1.8e19) return {};
    return util::fmt_int(static_cast<uint64_t>(v)) + " rpm";
}

std::string volt_value(std::string_view raw) {
    return scaled(raw, 1000, 3, " V");
}

std::string curr_value(std::string_view raw) {
    return scaled(raw, 1000, 3, " A");
}

std::string power_value(std::string_view raw) {
    return scaled(raw, 1e6, 2, " W");
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

// libsensors looks in the device's directory too, so old drivers still work there.
std::string attribute_dir(const std::string& d) {
    if (util::path_exists(d + "/name")) return d;
    if (util::path_exists(d + "/device/name")) return d + "/device";
    return d;
}

} // namespace hw::hwmon
