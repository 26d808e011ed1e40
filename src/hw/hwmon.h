// Pieces of the hardware-monitoring interface that the sensors branch and the sensor graphs
// share: which files of a chip directory are channels, what their fixed-point readings are in
// display units, and how they are shown. All but attribute_dir are pure, so they can be
// checked on plain lists and strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw::hwmon {

// A reading of the group `prefix` ("temp", "fan", "in", "curr", "power", "energy",
// "humidity") as the kernel writes it (millidegrees Celsius, rpm, millivolts, milliamperes,
// microwatts, microjoules, milli-percent) in display units (°C, rpm, V, A, W, J, %RH). Nothing for
// empty or unparsable text, a value that is not finite, or a negative fan speed.
std::optional<double> display_value(std::string_view raw, std::string_view prefix);

// Readings shown as text with their unit. Empty or unparsable input gives empty text, so the
// caller adds no row.
std::string temp_value(std::string_view raw);
std::string rpm_value(std::string_view raw);
std::string volt_value(std::string_view raw);
std::string curr_value(std::string_view raw);
std::string power_value(std::string_view raw);
std::string energy_value(std::string_view raw);
std::string humidity_value(std::string_view raw);

// One channel of a group: "temp3" and the file that holds its reading.
struct Channel {
    std::string stem;
    std::string reading; // "temp3_input", or "power1_average" for chips without an input
};

// The channels of one group ("temp", "fan", "in", "curr", "power") among the entries of a
// chip directory, in the order of `entries`. Only <prefix><number>_input counts, so
// "intrusion0_alarm" is no voltage and "power1_input_highest" no extra channel. Power
// channels that only have an average (discrete amdgpu cards) use it as their reading.
std::vector<Channel> channels(const std::vector<std::string>& entries, std::string_view prefix);

// The directory that holds the attributes of the chip at `hwmon_dir`: that directory itself
// on current kernels, the device's directory for old drivers. Looks at the files.
std::string attribute_dir(const std::string& hwmon_dir);

} // namespace hw::hwmon
