// /sys/devices/system/node/nodeN/meminfo: "Node 0 MemTotal:       32823456 kB".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hw {

// (key, bytes) of every line in that form, in file order. Counters without a unit
// (HugePages_Total) and malformed lines are left out.
std::vector<std::pair<std::string, uint64_t>> parse_node_meminfo(std::string_view text);

} // namespace hw
