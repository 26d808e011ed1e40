#include "live/sensor_readings.h"

#include "hw/hwmon.h"
#include "live/history.h"
#include "util.h"

#include <algorithm>
#include <cmath>

namespace live {

namespace {

struct KindFiles {
    const char* prefix;
    SensorKind kind;
};

// The order the cards of one chip appear in.
const KindFiles kinds[] = {{"temp", SensorKind::Temperature},
                           {"fan", SensorKind::Fan},
                           {"power", SensorKind::Power},
                           {"in", SensorKind::Voltage}};

const char* prefix_of(SensorKind kind) {
    for (const auto& k : kinds)
        if (k.kind == kind) return k.prefix;
    return "";
}

// Fan speeds, which take_reading keeps non-negative and within 64 bits.
std::string whole(double rpm) {
    return util::fmt_int(static_cast<uint64_t>(std::round(std::max(rpm, 0.0))));
}

} // namespace

std::vector<SensorChannel> scan_sensors() {
    std::vector<SensorChannel> out;
    for (const auto& entry : util::list_dir("/sys/class/hwmon", "hwmon")) {
        // The device's own directory, not its number: the kernel hands a removed chip's number
        // to the next one, whose readings would go on under the removed chip's card.
        const std::string dir =
            hw::hwmon::attribute_dir(util::resolve_path("/sys/class/hwmon/" + entry));
        const std::string chip = util::read_text(dir + "/name");
        const auto files = util::list_dir(dir);
        for (const auto& k : kinds) {
            for (const auto& ch : hw::hwmon::channels(files, k.prefix)) {
                SensorChannel c;
                c.path = dir + "/" + ch.reading;
                c.kind = k.kind;
                c.chip = chip;
                c.label = util::read_text(dir + "/" + ch.stem + "_label");
                if (c.label.empty()) c.label = ch.stem;
                // In the unit of the reading: a power limit is in microwatts, not millidegrees.
                c.crit = hw::hwmon::display_value(util::read_file(dir + "/" + ch.stem + "_crit"),
                                                  k.prefix)
                             .value_or(0);
                if (take_reading(c, util::read_file(c.path))) out.push_back(std::move(c));
            }
        }
    }
    return out;
}

std::vector<SensorChannel> carry_over(const std::vector<SensorChannel>& shown,
                                      std::vector<SensorChannel> scanned) {
    for (auto& fresh : scanned) {
        auto it = std::find_if(shown.begin(), shown.end(), [&](const SensorChannel& c) {
            return c.path == fresh.path && c.chip == fresh.chip && c.label == fresh.label &&
                   c.kind == fresh.kind;
        });
        if (it == shown.end()) continue;
        std::deque<double> history = it->history;
        push_history(history, fresh.value);
        fresh.history = std::move(history);
    }
    return scanned;
}

bool take_reading(SensorChannel& channel, std::string_view raw) {
    auto v = hw::hwmon::display_value(raw, prefix_of(channel.kind));
    channel.current = v.has_value();
    if (!v) return false;
    channel.value = *v;
    push_history(channel.history, *v);
    return true;
}

std::string value_text(SensorKind kind, double value) {
    switch (kind) {
    case SensorKind::Fan:
        return whole(value) + " rpm";
    case SensorKind::Power:
        return util::fmt_double(value, 1) + " W";
    case SensorKind::Temperature:
        return util::fmt_double(value, 1) + " °C";
    case SensorKind::Voltage:
        return util::fmt_double(value, 2) + " V";
    }
    return {};
}

std::string reading_text(const SensorChannel& channel) {
    // The last reading of a chip that was unplugged or stopped answering would read as live.
    return channel.current ? value_text(channel.kind, channel.value) : "\u2013";
}

std::string range_text(const SensorChannel& channel) {
    if (channel.history.empty()) return {};
    auto [lo, hi] = std::minmax_element(channel.history.begin(), channel.history.end());
    auto shown = [&](double v) {
        return channel.kind == SensorKind::Fan ? whole(v) : util::fmt_double(v, 1);
    };
    return shown(*lo) + "\u2013" + shown(*hi);
}

std::pair<double, double> graph_range(const SensorChannel& channel) {
    if (channel.history.empty()) return {0, 1};
    auto [lo_it, hi_it] = std::minmax_element(channel.history.begin(), channel.history.end());
    double lo = *lo_it, hi = *hi_it;
    const double least = channel.kind == SensorKind::Voltage ? 0.1 : 4;
    if (hi - lo < least) {
        const double mid = lo / 2 + hi / 2; // (lo + hi) overflows near the largest doubles
        lo = mid - least / 2, hi = mid + least / 2;
    }
    return {lo, hi};
}

std::optional<double> ramp_position(const SensorChannel& channel) {
    double f;
    if (channel.kind == SensorKind::Fan)
        f = channel.value / 4000;
    else if (channel.kind == SensorKind::Temperature)
        f = (channel.value - 30) / 65;
    else
        return std::nullopt;
    return std::clamp(f, 0.0, 1.0);
}

int sensors_height(size_t count) {
    return count == 0 ? 78 : static_cast<int>((count + 1) / 2) * 86 + 12;
}

} // namespace live
