// Pieces of the hardware-monitoring interface that the sensors branch and the monitor bar
// share: which files of a chip directory are channels, how their fixed-point readings are
// shown, and where a chip keeps its files. All but the last are pure, so they can be checked
// on plain lists and strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hw::hwmon {

// Readings as the kernel writes them: millidegrees Celsius, rpm, millivolts, milliamperes
// and microwatts. Empty or unparsable input gives empty text, so the caller adds no row.
std::string temp_value(std::string_view raw);
std::string rpm_value(std::string_view raw);
std::string volt_value(std::string_view raw);
std::string curr_value(std::string_view raw);
std::string power_value(std::string_view raw);

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

// Where the chip at /sys/class/hwmon/hwmonN keeps "name" and its channels: newer drivers use
// the class directory, old ones the device's own directory.
std::string attribute_dir(const std::string& class_dir);

} // namespace hw::hwmon
