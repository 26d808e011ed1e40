// The hardware-monitoring channels of every chip, read once a second: readings in display
// units, critical thresholds, and two-minute histories.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace live {

enum class SensorKind { Temperature = 0, Fan = 1, Voltage = 2, Power = 3 };

struct SensorChannel {
    std::string path;  // the file the reading comes from
    std::string label; // the chip's label for it, or its base name ("temp1")
    std::string chip;  // the chip's "name"
    SensorKind kind = SensorKind::Temperature;
    double value = 0;     // °C, rpm, V or W: the last reading taken
    bool current = false; // the last attempt gave that reading
    double crit = 0;      // in the same unit; 0 when the chip sets none
    std::deque<double> history;
};

// Every temperature, fan, power and voltage channel of every chip, chip by chip, each with its
// first reading taken. A channel whose reading cannot be read now is left out, as in the tree.
std::vector<SensorChannel> scan_sensors();

// The channels of a new scan, each one that was already `shown` (the same file, chip and
// label) keeping its history with the scan's reading appended; those that left are gone.
std::vector<SensorChannel> carry_over(const std::vector<SensorChannel>& shown,
                                      std::vector<SensorChannel> scanned);

// Takes the text read from the channel's file. A number becomes the value and joins the
// history (at most 120 entries); empty or garbled text (a chip that is gone, a read that
// failed) adds nothing and leaves the channel without a current reading. True when a reading
// was taken.
bool take_reading(SensorChannel& channel, std::string_view raw);

// "45.5 °C", "1,200 rpm", "1.35 V", "12.5 W", with the language's separators.
std::string value_text(SensorKind kind, double value);
// The channel's current reading as value_text, or "–" while it has none.
std::string reading_text(const SensorChannel& channel);
// The history's span as "41.0–45.5" (whole numbers for fans); empty without a history.
std::string range_text(const SensorChannel& channel);
// The span the history graph shows: the history's, widened about its middle to at least 4
// units (0.1 V for voltages) so a steady reading draws a flat line.
std::pair<double, double> graph_range(const SensorChannel& channel);
// Where the value sits on the load ramp (0 cool or slow … 1 hot or fast), for temperatures
// and fans; nothing for the kinds that have no such scale.
std::optional<double> ramp_position(const SensorChannel& channel);

// Height of the two-column cards for `count` channels, or of the message without any.
int sensors_height(size_t count);

} // namespace live
