#include "hw/usb_topology.h"

#include "util.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace hw {

namespace {

// The bus number as a number for ordering; bus numbers are small, garbage sorts last.
uint64_t bus_order(const std::string& number) {
    return util::to_u64(number, UINT64_MAX);
}

void flatten(const std::string& parent, int depth,
             const std::map<std::string, std::vector<std::string>>& children,
             const std::map<std::string, UsbDeviceVisual>& devices,
             std::vector<UsbDeviceVisual>& out, std::set<std::string>& seen) {
    auto it = children.find(parent);
    if (it == children.end()) return;
    for (const auto& name : it->second) {
        auto dev = devices.find(name);
        // A name reached twice would mean a loop; the map is built so that it cannot be.
        if (dev == devices.end() || !seen.insert(name).second) continue;
        out.push_back(dev->second);
        out.back().depth = depth;
        flatten(name, depth + 1, children, devices, out, seen);
    }
}

} // namespace

bool usb_is_root_hub_name(const std::string& name) {
    return util::starts_with(name, "usb") && util::all_digits(std::string_view(name).substr(3));
}

bool usb_is_device_name(const std::string& name) {
    size_t dash = name.find('-');
    if (dash == std::string::npos || !util::all_digits(std::string_view(name).substr(0, dash)))
        return false;
    for (const auto& port : util::split(std::string_view(name).substr(dash + 1), '.'))
        if (!util::all_digits(port)) return false;
    return true;
}

std::string usb_bus_of(const std::string& name) {
    if (usb_is_root_hub_name(name)) return name.substr(3);
    if (usb_is_device_name(name)) return name.substr(0, name.find('-'));
    return {};
}

std::map<std::string, std::vector<std::string>>
usb_children(const std::vector<std::string>& names) {
    std::set<std::string> present(names.begin(), names.end());
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& name : names) {
        if (!usb_is_device_name(name)) continue;
        // A hub missing from the listing (unplugged while we looked, or left out of a
        // capture) must not lose the devices behind it: they go to the nearest hub above.
        std::string parent = name;
        std::string found;
        for (size_t dot; (dot = parent.rfind('.')) != std::string::npos;) {
            parent.resize(dot);
            if (present.count(parent)) {
                found = parent;
                break;
            }
        }
        if (found.empty()) {
            std::string root = "usb" + usb_bus_of(name);
            if (present.count(root)) found = root;
        }
        out[found].push_back(name);
    }
    return out;
}

std::string usb_gen_name(double mbit) {
    if (mbit >= 20000) return "USB 3.2 Gen 2x2";
    if (mbit >= 10000) return "USB 3.1 Gen 2";
    if (mbit >= 5000) return "USB 3.0";
    if (mbit >= 480) return "USB 2.0 High-Speed";
    if (mbit >= 12) return "USB 1.1 Full-Speed";
    return "USB 1.0 Low-Speed";
}

double usb_mbit(const std::string& speed) {
    double v = util::to_double(speed, 0);
    return std::isfinite(v) && v > 0 ? v : 0;
}

std::string usb_speed_text(const std::string& speed) {
    if (speed.empty()) return {};
    double mbit = usb_mbit(speed);
    if (mbit <= 0) return util::valid_utf8(speed);
    // Low speed is 1.5 Mbit/s; rounding it to "2" would be plainly wrong.
    int decimals = mbit == std::floor(mbit) ? 0 : 1;
    return util::fmt_double(mbit, decimals) + " Mbit/s  (" + usb_gen_name(mbit) + ")";
}

int usb_power_ma(const std::string& max_power) {
    uint64_t ma = util::to_u64(max_power, 0);
    // USB 3.2 allows at most a few amperes; anything far beyond is garbage, not a number
    // to wrap around.
    return static_cast<int>(std::min<uint64_t>(ma, 1000000));
}

std::vector<UsbControllerVisual>
usb_controller_visuals(const std::vector<UsbRootHub>& roots,
                       const std::map<std::string, std::vector<std::string>>& children,
                       const std::map<std::string, UsbDeviceVisual>& devices) {
    std::vector<const UsbRootHub*> sorted;
    for (const auto& r : roots)
        sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), [](const UsbRootHub* a, const UsbRootHub* b) {
        return bus_order(a->number) < bus_order(b->number);
    });

    std::vector<UsbControllerVisual> out;
    std::set<std::string> seen;
    for (const UsbRootHub* r : sorted) {
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const UsbControllerVisual& c) { return c.id == r->controller; });
        if (it == out.end()) {
            UsbControllerVisual c;
            c.id = r->controller;
            c.name = r->name;
            c.vendor = r->vendor;
            out.push_back(std::move(c));
            it = out.end() - 1;
        }
        UsbBusVisual bus;
        bus.port = r->port;
        bus.number = r->number;
        bus.mbit = usb_mbit(r->speed);
        bus.gen = bus.mbit > 0 ? usb_gen_name(bus.mbit) : std::string();
        flatten(r->port, 0, children, devices, bus.devices, seen);
        it->device_count += bus.devices.size();
        it->buses.push_back(std::move(bus));
    }
    return out;
}

} // namespace hw
