// Disk read and write rates from the sector counters of the per-device stat files.
#include "live/disk_rate_table.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A stat line as the kernel writes it, with the sectors read (field 3) and written (field 7).
std::string stat_line(uint64_t read, uint64_t written) {
    return "  4711 0 " + std::to_string(read) + " 1200 2345 678 " + std::to_string(written) +
           " 9000 0 3000 10200 0 0 0 0 0 0\n";
}

constexpr int64_t second = 1000000;

struct Disks {
    std::map<std::string, std::string> stat;
    live::DiskRateTable table;
    void sample(double at_s) {
        table.sample(static_cast<int64_t>(at_s * second),
                     [this](const std::string& d) { return stat[d]; });
    }
    live::DiskIoRate rate(const std::string& d = "sda") const { return table.rate(d); }
};

} // namespace

TEST(DiskRates, RatesNeedTwoSamplesFarEnoughApartAndCountersThatGrow) {
    Disks disks;
    disks.table.set_devices({"sda"});
    disks.stat["sda"] = stat_line(1000, 5000);
    disks.sample(7);
    EXPECT_FALSE(disks.rate().valid) << "one sample gives no rate";
    disks.stat["sda"] = stat_line(1000 + 2048, 5000 + 4096);
    disks.sample(9);
    EXPECT_TRUE(disks.rate().valid);
    EXPECT_DOUBLE_EQ(disks.rate().read_bps, 2048 * 512 / 2.0) << "512-byte sectors over 2 s";
    EXPECT_DOUBLE_EQ(disks.rate().write_bps, 4096 * 512 / 2.0);

    disks.stat["sda"] = stat_line(999999, 999999);
    disks.sample(9.04);
    EXPECT_DOUBLE_EQ(disks.rate().read_bps, 2048 * 512 / 2.0) << "40 ms apart: the rate stays";
    disks.stat["sda"] = stat_line(10, 10); // the device was reset
    disks.sample(10);
    EXPECT_FALSE(disks.rate().valid);
    disks.stat["sda"] = stat_line(10 + 512, 10);
    disks.sample(11);
    EXPECT_DOUBLE_EQ(disks.rate().read_bps, 512 * 512);
    EXPECT_FALSE(disks.rate("sdz").valid) << "a device not sampled";
}

// A bad file resets the device; the next good one starts afresh rather than taking the jump
// from nothing to the lifetime counter as one second's traffic.
TEST(DiskRates, UnreadableShortOrGarbageStatResetsTheDevice) {
    for (const char* bad : {"", "1 2 3 4 5 6", "1 2 x 4 5 6 7", "1 2 3 4 5 6 -7 8 9 10 11"}) {
        SCOPED_TRACE(bad);
        Disks disks;
        disks.table.set_devices({"sda"});
        const std::string texts[] = {stat_line(100, 100), stat_line(200, 200), bad,
                                     stat_line(900000, 900000)};
        for (int i = 0; i < 4; ++i) {
            disks.stat["sda"] = texts[i];
            disks.sample(i);
            EXPECT_EQ(disks.rate().valid, i == 1) << "sample " << i;
        }
    }
    EXPECT_TRUE(live::next_disk_rate({}, "0 0 12 0 0 0 34", 0).have_sample) << "7 fields will do";
}

TEST(DiskRates, DeviceSetAndRestart) {
    Disks disks;
    disks.table.set_devices({"sda", "nvme0n1"});
    disks.stat = {{"sda", stat_line(0, 0)}, {"nvme0n1", stat_line(0, 0)}};
    disks.sample(1);
    disks.stat = {{"sda", stat_line(512, 0)}, {"nvme0n1", stat_line(0, 1024)}};
    disks.sample(2);
    disks.table.set_devices({"nvme0n1", "sda", "sda"});
    EXPECT_DOUBLE_EQ(disks.rate("nvme0n1").write_bps, 1024 * 512) << "the same names kept";

    // After a pause the old rate would be stale and the counters' difference spans the pause.
    disks.table.restart();
    EXPECT_FALSE(disks.rate().valid);
    disks.sample(60);
    EXPECT_FALSE(disks.rate().valid);
    disks.sample(61);
    EXPECT_TRUE(disks.rate().valid);

    disks.table.set_devices({"sda"});
    EXPECT_FALSE(disks.rate().valid) << "another set starts afresh";
}
