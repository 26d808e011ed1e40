// The storage, memory, PCI and network tables come from the kernel, a capture or a hand-made
// tree: whatever they hold, reading must not fault, what is shown must be valid UTF-8, and
// every record taken must be one the table could have meant.
#include "fuzz_support.h"
#include "hw/block_bus.h"
#include "hw/block_stat.h"
#include "hw/memory_parsers.h"
#include "hw/mount_table.h"
#include "hw/pci_parser.h"
#include "hw/sysfs_values.h"
#include "hw/wireless_table.h"
#include "util.h"

FUZZ_TARGET(text) {
    const auto mounts = hw::parse_mountinfo(text);
    std::vector<size_t> of_sda1; // the index must find what asking every mount finds
    for (size_t i = 0; i < mounts.size(); ++i) {
        if (mounts[i].target.empty() || mounts[i].target[0] != '/') std::abort();
        if (hw::mount_is_of(mounts[i], "sda1", "8:1")) of_sda1.push_back(i);
    }
    if (hw::MountIndex(mounts).of("sda1", "8:1") != of_sda1) std::abort();
    for (const auto& m : hw::parse_mounts(text))
        if (m.target.empty() || m.target[0] != '/') std::abort();
    hw::parse_block_stat(text);
    for (const auto& [name, w] : hw::parse_wireless(text)) {
        if (name.empty()) std::abort();
        if (w.noise && *w.noise == -256) std::abort();
    }
    const auto lines = util::lines(text);
    for (const auto& swap : hw::parse_swaps(lines))
        if (swap.type.empty() || swap.priority.empty()) std::abort();
    const hw::Meminfo mi = hw::parse_meminfo(lines);
    if (mi.order.size() < mi.values.size()) std::abort();
    size_t previous = 0;
    for (const auto& r : hw::parse_pci_resources(text)) {
        if (r.end < r.start || r.index < previous) std::abort();
        previous = r.index + 1;
    }
    hw::block_bus_from_path(text);
    hw::strict_u64(text);
    std::string shown = util::printable(text);
    if (util::valid_utf8(shown) != shown) std::abort();
}
