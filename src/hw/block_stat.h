// The per-device I/O counters of /sys/block/<dev>/stat.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hw {

// Requests and 512-byte sectors as the kernel counts them since the device appeared.
// Kernels write 11 fields (before 4.18), 15 (with discards) or 17 (with flushes); only the
// first 11 are used here.
struct BlockStat {
    uint64_t reads = 0;
    uint64_t read_merges = 0;
    uint64_t read_sectors = 0;
    uint64_t read_ms = 0;
    uint64_t writes = 0;
    uint64_t write_merges = 0;
    uint64_t write_sectors = 0;
    uint64_t write_ms = 0;
    uint64_t in_flight = 0;
    uint64_t io_ms = 0;
    uint64_t queue_ms = 0;
};

// Nothing when fewer than 11 fields are there or any of them is not a number.
std::optional<BlockStat> parse_block_stat(std::string_view text);

} // namespace hw
