// Traffic of the active network interfaces: their byte counters turned into rates over the
// interval actually measured between two readings, totals, and two-minute histories.
#pragma once

#include "live/history.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace live {

// The smallest scale of a traffic graph, so an idle link does not draw its noise full height.
constexpr double min_traffic_scale = 8192;
// Readings closer together than this (a refresh just after a tick) measure nothing: over a
// few milliseconds one burst of packets reads as megabytes a second, and would set the
// graph's scale for two minutes.
constexpr double min_traffic_interval_s = 0.05;

struct NetIface {
    std::string name;
    std::string speed; // "1,000 Mbit/s", empty when unknown
    uint64_t last_rx = 0, last_tx = 0;
    bool counted = false;            // last_rx/last_tx hold a reading
    double rx_rate = 0, tx_rate = 0; // bytes per second over the last interval
    uint64_t rx_total = 0, tx_total = 0;
    std::deque<double> rx_history, tx_history;
};

struct NetCounters {
    uint64_t rx = 0, tx = 0;
};

// The interfaces other than loopback that are up (or, for tunnels, "unknown"), in directory
// order, each with its first reading of the counters as the start of its first interval.
std::vector<NetIface> scan_interfaces();
// The interfaces of a new scan, each one that was already `shown` with its counters, rates and
// history kept (and its link speed as now read): those that left are gone, those that came
// start from their first reading.
std::vector<NetIface> carry_over(const std::vector<NetIface>& shown, std::vector<NetIface> scanned);

// The byte counters of `name`; nothing when they cannot be read.
std::optional<NetCounters> read_counters(const std::string& name);

// Takes the counters read `seconds` after the previous reading. The rates are the bytes of
// that interval divided by its length, so a late reading does not look like a burst; a
// counter that went backwards (a reset driver, a recreated interface) gives 0 for this
// interval, and so does a reading that failed. An interval shorter than
// min_traffic_interval_s changes nothing: its bytes count in the next one.
void advance(NetIface& iface, const std::optional<NetCounters>& now, double seconds);

// The top of the graph: the largest rate in either history, at least min_traffic_scale.
double graph_scale(const NetIface& iface);
// "12.3 KiB/s".
std::string rate_text(double bytes_per_second);

// Height of the cards for `count` interfaces, or of the "no interface" line.
int traffic_height(size_t count);

} // namespace live
