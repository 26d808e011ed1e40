// The sensors node's live panel: a small card per hardware-monitoring channel with its
// reading in a colour that rises with it, its critical threshold and a two-minute graph,
// sampled once a second while the node is shown.
#pragma once

#include "gui/live_area.h"
#include "live/sensor_readings.h"
#include "theme.h"

#include <string>
#include <vector>

namespace sensorview {

// The cards in two columns for an area `width` wide; without channels the "no sensors"
// message and `hint` (what a confined package must be allowed, or empty) below it.
void draw(cairo_t* cr, int width, const std::vector<live::SensorChannel>& channels,
          const Palette& p, const std::string& hint);
// The figures in words, for assistive technology: each reading and critical value.
std::string describe(const std::vector<live::SensorChannel>& channels, const std::string& hint);

} // namespace sensorview

class SensorGraphs {
public:
    using Kind = live::SensorKind;
    using Channel = live::SensorChannel;

    GtkWidget* build(const Palette& p);
    void set_palette(const Palette& p) { m_live.set_palette(p); }
    // Finds the channels again (their histories restart) and reads them once a second.
    void start();
    // After a refresh: channels that came get a card, those that left lose theirs, the others
    // keep their graphs.
    void rescan();
    void stop() { m_live.stop(); }
    bool running() const { return m_live.running(); }
    // Two cards a row whatever the width.
    int needed_height(int /*width*/) const { return live::sensors_height(m_channels.size()); }
    const std::vector<Channel>& channels() const { return m_channels; }

private:
    void sample();

    LiveArea m_live;
    std::vector<Channel> m_channels;
    std::string m_hint; // shown when there is no channel
};
