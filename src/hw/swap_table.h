// The kernel's list of active swap areas (/proc/swaps), as plain records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

struct SwapEntry {
    std::string path; // escapes decoded: "/dev/nvme0n1p3", "/swap file"
    std::string type; // "partition" or "file"
    uint64_t size_kib = 0;
    uint64_t used_kib = 0;
    int64_t priority = 0;
};

// Skips the heading and every line whose numbers do not parse.
std::vector<SwapEntry> parse_swaps(std::string_view text);

} // namespace hw
