// Read and write rates of block devices from the sector counters of /sys/block/<dev>/stat,
// sampled about once a second. Pure: the caller reads the files and supplies the clock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace live {

struct DiskIoRate {
    double read_bps = 0;
    double write_bps = 0;
    bool valid = false; // computed from two samples
};

struct DiskRateEntry {
    uint64_t read_sectors = 0; // counters of the previous sample
    uint64_t write_sectors = 0;
    bool have_sample = false;
    DiskIoRate rate;
};

// The entry after one more sample: `stat` is the text of the stat file, `dt` the seconds since
// the previous sample (0 when there was none).
DiskRateEntry next_disk_rate(const DiskRateEntry& prev, std::string_view stat, double dt);

class DiskRateTable {
public:
    using StatReader = std::function<std::string(const std::string& device)>;

    // The same names in any order keep counters and rates; any other set starts afresh.
    void set_devices(const std::vector<std::string>& names);
    // Forgets when the last sample was taken and what it gave: after a pause, the counters'
    // difference spans an unknown time, and a rate from before the pause would be stale.
    void restart();
    void sample(int64_t now_us, const StatReader& read_stat);
    // {0, 0, false} for a device not sampled here.
    DiskIoRate rate(const std::string& device) const;

private:
    std::map<std::string, DiskRateEntry> m_devices;
    std::optional<int64_t> m_last_us;
};

} // namespace live
