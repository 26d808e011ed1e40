// Names listed from sysfs directories, which a captured tree may fill with anything: the
// orders they are sorted in must be strict weak orders (std::sort reads outside the range
// otherwise), USB port paths must give every device exactly one parent that exists, and only
// real channel files of a hardware monitor count as channels.
//
// Each line of the input is one directory entry.
#include "fuzz_support.h"
#include "hw/hwmon.h"
#include "hw/pci_parser.h"
#include "hw/usb_topology.h"
#include "util.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using fuzz::check;

namespace {

// Irreflexive, asymmetric and transitive, with transitive equivalence, on triples of the
// first names; then every pair of the sorted names stays in order.
template <typename Less>
void check_strict_weak_order(const std::vector<std::string>& names, Less less) {
    const size_t n = std::min<size_t>(names.size(), 6);
    auto same = [&](const std::string& a, const std::string& b) {
        return !less(a, b) && !less(b, a);
    };
    for (size_t i = 0; i < n; ++i) {
        const auto& a = names[i];
        check(!less(a, a));
        for (size_t j = 0; j < n; ++j) {
            const auto& b = names[j];
            check(!(less(a, b) && less(b, a)));
            for (size_t k = 0; k < n; ++k) {
                const auto& c = names[k];
                if (less(a, b) && less(b, c)) check(less(a, c));
                if (same(a, b) && same(b, c)) check(same(a, c));
            }
        }
    }
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end(), less);
    const size_t m = std::min<size_t>(sorted.size(), 32);
    for (size_t i = 0; i < m; ++i)
        for (size_t j = i + 1; j < m; ++j)
            check(!less(sorted[j], sorted[i]));
}

} // namespace

FUZZ_TARGET(input) {
    const std::vector<std::string> names = util::split(input, '\n');

    check_strict_weak_order(
        names, [](const std::string& a, const std::string& b) { return util::natural_less(a, b); });
    check_strict_weak_order(names, [](const std::string& a, const std::string& b) {
        return hw::pci_address_less(a, b);
    });

    // Every device lands under exactly one parent, and that parent is a hub that was listed
    // (or "" when its bus has no root hub in the listing). A directory lists a name once.
    std::set<std::string> listed;
    std::vector<std::string> entries;
    size_t devices = 0;
    for (const auto& name : names)
        if (listed.insert(name).second) {
            entries.push_back(name);
            devices += hw::usb_is_device_name(name);
        }
    const auto children = hw::usb_children(entries);
    std::map<std::string, int> placed;
    for (const auto& [parent, kids] : children) {
        check(parent.empty() || listed.count(parent));
        for (const auto& kid : kids) {
            check(hw::usb_is_device_name(kid) && kid != parent);
            ++placed[kid];
            check(!hw::usb_bus_of(kid).empty());
        }
    }
    for (const auto& name : listed)
        check(placed[name] == (hw::usb_is_device_name(name) ? 1 : 0));
    std::vector<hw::UsbRootHub> roots;
    std::map<std::string, hw::UsbDeviceVisual> visuals;
    for (const auto& name : entries) {
        if (hw::usb_is_root_hub_name(name))
            roots.push_back({name, hw::usb_bus_of(name), name, "", "", ""});
        visuals[name].port = name;
    }
    size_t shown = 0;
    for (const auto& c : hw::usb_controller_visuals(roots, children, visuals))
        shown += c.device_count;
    check(shown <= devices);

    for (const char* prefix : {"temp", "fan", "in", "curr", "power"})
        for (const auto& ch : hw::hwmon::channels(entries, prefix)) {
            check(listed.count(ch.reading) && util::starts_with(ch.stem, prefix));
            check(util::all_digits(std::string_view(ch.stem).substr(std::string(prefix).size())));
        }
}
