#include "live/disk_rate_table.h"

#include "hw/sysfs_values.h"
#include "util.h"

#include <set>

namespace live {

namespace {

// Below this the counters have hardly moved and the quotient is mostly noise.
constexpr double min_interval_s = 0.05;
// The kernel counts in 512-byte units whatever the device's logical block size.
constexpr double sector_bytes = 512;

} // namespace

DiskRateEntry next_disk_rate(const DiskRateEntry& prev, std::string_view stat, double dt) {
    const auto fields = util::split_ws(stat);
    // Fields 3 and 7 are the sectors read and written. A counter that is not a number is as
    // good as no file: taking it as 0 would make the next good sample look like the whole
    // lifetime's traffic in one second.
    std::optional<uint64_t> read, write;
    if (fields.size() >= 7) read = hw::strict_u64(fields[2]), write = hw::strict_u64(fields[6]);
    if (!read || !write) return {};

    DiskRateEntry next = prev;
    if (prev.have_sample && dt > min_interval_s) {
        if (*read >= prev.read_sectors && *write >= prev.write_sectors)
            next.rate = {static_cast<double>(*read - prev.read_sectors) * sector_bytes / dt,
                         static_cast<double>(*write - prev.write_sectors) * sector_bytes / dt,
                         true};
        else
            next.rate = {}; // the device was reset: no rate for this interval
    }
    next.read_sectors = *read;
    next.write_sectors = *write;
    next.have_sample = true;
    return next;
}

void DiskRateTable::set_devices(const std::vector<std::string>& names) {
    const std::set<std::string> wanted(names.begin(), names.end());
    bool same = wanted.size() == m_devices.size();
    for (auto it = wanted.begin(); same && it != wanted.end(); ++it)
        same = m_devices.count(*it) > 0;
    if (same) return;
    m_devices.clear();
    for (const auto& name : wanted)
        m_devices[name] = DiskRateEntry{};
    m_last_us.reset();
}

void DiskRateTable::restart() {
    m_last_us.reset();
    for (auto& [name, entry] : m_devices)
        entry.rate = {};
}

void DiskRateTable::sample(int64_t now_us, const StatReader& read_stat) {
    const double dt = m_last_us ? static_cast<double>(now_us - *m_last_us) / 1e6 : 0;
    m_last_us = now_us;
    for (auto& [name, entry] : m_devices)
        entry = next_disk_rate(entry, read_stat(name), dt);
}

DiskIoRate DiskRateTable::rate(const std::string& device) const {
    auto it = m_devices.find(device);
    return it == m_devices.end() ? DiskIoRate{} : it->second.rate;
}

} // namespace live
