// One-value attributes as drivers write them (hardware-monitor readings, link and USB speeds,
// USB power, cache sizes, counters): whatever a file holds, what is shown is valid UTF-8
// without "nan" or "inf", and the sensor graphs get a finite range to draw in.
//
// Each line of the input is one reading of every attribute; a sensor channel of each kind
// takes the lines one after another, as it would take one reading a second.
#include "fuzz_support.h"
#include "hw/cpu_cache.h"
#include "hw/hwmon.h"
#include "hw/link_types.h"
#include "hw/sysfs_values.h"
#include "hw/usb_topology.h"
#include "live/sensor_readings.h"
#include "util.h"

#include <algorithm>
#include <cmath>
#include <string>

using fuzz::check;

namespace {

void check_shown(const std::string& s) {
    check(util::valid_utf8(s) == s);
    const std::string l = util::lower(s);
    check(l.find("nan") == std::string::npos && l.find("inf") == std::string::npos);
}

void one_value(const std::string& raw) {
    for (const char* prefix : {"temp", "fan", "in", "curr", "power"})
        if (auto v = hw::hwmon::display_value(raw, prefix)) check(std::isfinite(*v));
    for (auto format : {hw::hwmon::temp_value, hw::hwmon::rpm_value, hw::hwmon::volt_value,
                        hw::hwmon::curr_value, hw::hwmon::power_value})
        check_shown(format(raw));

    if (auto n = hw::strict_u64(raw)) {
        // The number as written, bar leading zeros.
        std::string digits = util::trim(raw);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        check(digits == std::to_string(*n));
    }
    std::string speed = hw::link_speed_text(raw);
    check(speed.empty() || util::ends_with(speed, " Mbit/s"));
    const double mbit = hw::usb_mbit(raw);
    check(std::isfinite(mbit) && mbit >= 0);
    check(util::valid_utf8(hw::usb_speed_text(raw)) == hw::usb_speed_text(raw));
    const int ma = hw::usb_power_ma(raw);
    check(ma >= 0 && ma <= 1000000);
    hw::parse_cache_size(raw);
    hw::link_type_name(static_cast<unsigned>(util::to_u64(raw, 0)));
}

} // namespace

FUZZ_TARGET(input) {
    const std::vector<std::string> lines = util::split(input, '\n');
    for (const auto& line : lines)
        one_value(line);

    for (auto kind : {live::SensorKind::Temperature, live::SensorKind::Fan,
                      live::SensorKind::Voltage, live::SensorKind::Power}) {
        live::SensorChannel c;
        c.kind = kind;
        for (const auto& line : lines)
            if (live::take_reading(c, line)) check(std::isfinite(c.value));
        check(c.history.size() <= 120);
        check_shown(live::value_text(kind, c.value));
        check_shown(live::reading_text(c));
        check_shown(live::range_text(c));
        const auto [lo, hi] = live::graph_range(c);
        check(std::isfinite(lo) && std::isfinite(hi) && lo <= hi);
        if (auto at = live::ramp_position(c)) check(*at >= 0 && *at <= 1);
    }
}
