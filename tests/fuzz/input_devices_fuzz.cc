// /proc/bus/input/devices text through the parser and the grouping rules. Besides not
// faulting: every device lands in exactly one group, groups come in key order, and a group's
// name is always taken from its first member's name.
#include "fuzz_support.h"
#include "hw/input_groups.h"
#include "util.h"

FUZZ_TARGET(text) {
    auto devices = hw::parse_input_devices(text);
    auto groups = hw::group_input_devices(devices);
    size_t members = 0;
    for (size_t i = 0; i < groups.size(); ++i) {
        const auto& g = groups[i];
        if (g.members.empty()) __builtin_trap();
        if (i > 0 && !(groups[i - 1].key < g.key)) __builtin_trap();
        members += g.members.size();
        std::string name = hw::input_group_name(g.members);
        if (!util::starts_with(g.members.front().name, name)) __builtin_trap();
        if (hw::input_kind_rank(hw::input_group_kind(g.members)) >= 100) __builtin_trap();
        for (const auto& m : g.members) {
            if (hw::input_device_key(m) != g.key) __builtin_trap();
            hw::input_event_node(m);
            hw::input_event_type_names(hw::input_bits_low(m, "EV"));
            hw::input_bus_name(util::parse_hex(m.bus, 0));
        }
    }
    if (members != devices.size()) __builtin_trap();
}
