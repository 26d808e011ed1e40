// The network node's live panel: one card per active interface with its receive and send
// rates, totals and a two-minute graph, sampled once a second while the node is shown.
#pragma once

#include "gui/live_area.h"
#include "live/net_traffic.h"
#include "theme.h"

#include <cstdint>
#include <string>
#include <vector>

namespace netview {

// The cards for an area `width` wide, or the line saying that no interface is active.
void draw(cairo_t* cr, int width, const std::vector<live::NetIface>& ifaces, const Palette& p);
// The figures in words, for assistive technology: each interface's rates and totals.
std::string describe(const std::vector<live::NetIface>& ifaces);

} // namespace netview

class NetGraphs {
public:
    using Iface = live::NetIface;

    GtkWidget* build(const Palette& p);
    void set_palette(const Palette& p) { m_live.set_palette(p); }
    // Finds the interfaces again (their histories restart) and samples once a second.
    void start();
    // After a refresh: interfaces that came get a card, those that left lose theirs, the others
    // keep their graphs.
    void rescan();
    void stop() { m_live.stop(); }
    bool running() const { return m_live.running(); }
    int needed_height() const { return live::traffic_height(m_ifaces.size()); }
    const std::vector<Iface>& interfaces() const { return m_ifaces; }

private:
    void sample();

    LiveArea m_live;
    std::vector<Iface> m_ifaces;
    int64_t m_read_us = 0; // monotonic time of the last reading of the counters
};
