#include "live/net_traffic.h"

#include "hw/sysfs_values.h"
#include "util.h"

#include <algorithm>
#include <cmath>

namespace live {

namespace {

const std::string net_root = "/sys/class/net";

double rate(uint64_t before, uint64_t now, double seconds) {
    return now >= before ? static_cast<double>(now - before) / seconds : 0;
}

} // namespace

std::vector<NetIface> scan_interfaces() {
    std::vector<NetIface> out;
    for (const auto& name : util::list_dir(net_root)) {
        const std::string dir = net_root + "/" + name;
        // Plain files such as bonding_masters sit beside the interfaces.
        if (name == "lo" || !util::is_dir(dir)) continue;
        // Tunnels (VPNs, WireGuard, PPP) track no link state: they are up as "unknown", which
        // the kernel counts as up too. Down is "down" for every driver.
        const std::string state = util::read_text(dir + "/operstate");
        if (state != "up" && state != "unknown") continue;
        NetIface iface;
        iface.name = name;
        iface.speed = hw::link_speed_text(util::read_file(dir + "/speed"));
        if (auto c = read_counters(name)) {
            iface.last_rx = iface.rx_total = c->rx;
            iface.last_tx = iface.tx_total = c->tx;
            iface.counted = true;
        }
        out.push_back(std::move(iface));
    }
    return out;
}

std::vector<NetIface> carry_over(const std::vector<NetIface>& shown,
                                 std::vector<NetIface> scanned) {
    for (auto& fresh : scanned) {
        auto it = std::find_if(shown.begin(), shown.end(),
                               [&](const NetIface& i) { return i.name == fresh.name; });
        if (it == shown.end()) continue;
        std::string speed = std::move(fresh.speed); // the link may have renegotiated
        fresh = *it;
        fresh.speed = std::move(speed);
    }
    return scanned;
}

std::optional<NetCounters> read_counters(const std::string& name) {
    const std::string dir = net_root + "/" + name + "/statistics/";
    auto rx = hw::read_strict_u64(dir + "rx_bytes");
    auto tx = hw::read_strict_u64(dir + "tx_bytes");
    if (!rx || !tx) return std::nullopt;
    return NetCounters{*rx, *tx};
}

void advance(NetIface& iface, const std::optional<NetCounters>& now, double seconds) {
    if (!(seconds >= min_traffic_interval_s)) return;
    iface.rx_rate = iface.tx_rate = 0;
    if (now) {
        // Without an earlier reading the bytes so far belong to no known interval.
        if (iface.counted) {
            iface.rx_rate = rate(iface.last_rx, now->rx, seconds);
            iface.tx_rate = rate(iface.last_tx, now->tx, seconds);
        }
        iface.last_rx = iface.rx_total = now->rx;
        iface.last_tx = iface.tx_total = now->tx;
        iface.counted = true;
    } else {
        // The bytes of the seconds nobody could read belong to no measured interval: counted
        // across them, they would all land in the next second's rate.
        iface.counted = false;
    }
    push_history(iface.rx_history, iface.rx_rate);
    push_history(iface.tx_history, iface.tx_rate);
}

double graph_scale(const NetIface& iface) {
    double top = min_traffic_scale;
    for (const auto* h : {&iface.rx_history, &iface.tx_history})
        for (double v : *h)
            top = std::max(top, v);
    return top;
}

std::string rate_text(double bytes_per_second) {
    const double rounded = std::round(std::max(bytes_per_second, 0.0));
    return util::fmt_bytes(rounded >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(rounded)) + "/s";
}

int traffic_height(size_t count) {
    return count == 0 ? 96 : 104 * static_cast<int>(count) + 12;
}

} // namespace live
