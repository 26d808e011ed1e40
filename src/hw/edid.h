// The monitor identity in an EDID block, as /sys/class/drm/<connector>/edid holds it. Only
// the 128-byte base block is decoded; extension blocks are counted in the size alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

struct Edid {
    bool valid = false; // header and checksum of the base block are right
    std::string manufacturer;
    uint16_t product_code = 0;
    uint32_t serial_number = 0; // 0 when not given
    int week = 0;               // 0 when not given (also for a model year)
    bool model_year = false;    // week byte 255: the year is the model year
    int year = 0;
    int version = 0, revision = 0;
    bool digital = false;
    int width_cm = 0, height_cm = 0; // 0 when not given
    double gamma = 0;                // 0 when not given
    std::string monitor_name;
    std::string serial_text;
    int pref_width = 0, pref_height = 0; // 0 when there is no detailed timing
    double pref_refresh = 0;
    std::vector<std::string> modes;
};

// Never reads past `bytes`; anything short, with a wrong header or a wrong checksum comes
// back with valid == false and nothing else set.
Edid parse_edid(std::string_view bytes);

} // namespace hw
