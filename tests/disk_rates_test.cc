// Disk read and write rates from the sector counters of the per-device stat files.
#include "live/disk_rate_table.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A stat line as the kernel writes it (17 fields), with the sector counters given.
std::string stat_line(uint64_t read_sectors, uint64_t write_sectors) {
    return "    4711        0 " + std::to_string(read_sectors) + "     1200     2345      678 " +
           std::to_string(write_sectors) + "     9000        0     3000    10200     0 0 0 0 0 0\n";
}

constexpr int64_t second = 1000000;

// Devices whose stat text the test sets before each sample.
struct Disks {
    std::map<std::string, std::string> stat;
    live::DiskRateTable table;
    void sample(int64_t at_us) {
        table.sample(at_us, [this](const std::string& d) { return stat[d]; });
    }
};

} // namespace

TEST(DiskRates, RatesNeedTwoSamplesFarEnoughApartAndCountersThatGrow) {
    Disks disks;
    disks.table.set_devices({"sda"});
    disks.stat["sda"] = stat_line(1000, 5000);
    disks.sample(7 * second);
    EXPECT_FALSE(disks.table.rate("sda").valid) << "one sample gives no rate";

    disks.stat["sda"] = stat_line(1000 + 2048, 5000 + 4096);
    disks.sample(9 * second);
    live::DiskIoRate r = disks.table.rate("sda");
    EXPECT_TRUE(r.valid);
    EXPECT_DOUBLE_EQ(r.read_bps, 2048 * 512 / 2.0) << "sectors of 512 bytes over the 2 s measured";
    EXPECT_DOUBLE_EQ(r.write_bps, 4096 * 512 / 2.0);

    disks.stat["sda"] = stat_line(999999, 999999);
    disks.sample(9 * second + 40000);
    EXPECT_DOUBLE_EQ(disks.table.rate("sda").read_bps, r.read_bps)
        << "40 ms apart: the previous rate stays";

    disks.stat["sda"] = stat_line(10, 10); // the device was reset
    disks.sample(10 * second);
    EXPECT_FALSE(disks.table.rate("sda").valid);
    disks.stat["sda"] = stat_line(10 + 512, 10);
    disks.sample(11 * second);
    EXPECT_DOUBLE_EQ(disks.table.rate("sda").read_bps, 512 * 512);
    EXPECT_FALSE(disks.table.rate("sdz").valid) << "a device not sampled";
}

// A bad file resets the device; the next good one starts afresh rather than taking the jump
// from nothing to the lifetime counter as one second's traffic.
TEST(DiskRates, UnreadableShortOrGarbageStatResetsTheDevice) {
    for (const char* bad : {"", "1 2 3 4 5 6", "1 2 x 4 5 6 7", "1 2 3 4 5 6 -7 8 9 10 11"}) {
        SCOPED_TRACE(bad);
        Disks disks;
        disks.table.set_devices({"sda"});
        disks.stat["sda"] = stat_line(100, 100);
        disks.sample(1 * second);
        disks.stat["sda"] = stat_line(200, 200);
        disks.sample(2 * second);
        ASSERT_TRUE(disks.table.rate("sda").valid);
        disks.stat["sda"] = bad;
        disks.sample(3 * second);
        EXPECT_FALSE(disks.table.rate("sda").valid);
        disks.stat["sda"] = stat_line(900000, 900000);
        disks.sample(4 * second);
        EXPECT_FALSE(disks.table.rate("sda").valid);
    }
    EXPECT_TRUE(live::next_disk_rate({}, "0 0 12 0 0 0 34", 0).have_sample)
        << "seven fields are enough";
}

TEST(DiskRates, DeviceSetAndRestart) {
    Disks disks;
    disks.table.set_devices({"sda", "nvme0n1"});
    disks.stat = {{"sda", stat_line(0, 0)}, {"nvme0n1", stat_line(0, 0)}};
    disks.sample(1 * second);
    disks.stat = {{"sda", stat_line(512, 0)}, {"nvme0n1", stat_line(0, 1024)}};
    disks.sample(2 * second);
    disks.table.set_devices({"nvme0n1", "sda", "sda"});
    EXPECT_DOUBLE_EQ(disks.table.rate("nvme0n1").write_bps, 1024 * 512)
        << "the same names in another order keep their rates";

    // After a pause the old rate would be stale and the counters' difference spans the pause.
    disks.table.restart();
    EXPECT_FALSE(disks.table.rate("sda").valid);
    disks.stat["sda"] = stat_line(512 + 4096, 0);
    disks.sample(60 * second);
    EXPECT_FALSE(disks.table.rate("sda").valid);
    disks.sample(61 * second);
    EXPECT_TRUE(disks.table.rate("sda").valid);

    disks.table.set_devices({"sda"});
    EXPECT_FALSE(disks.table.rate("sda").valid) << "another set starts afresh";
    EXPECT_FALSE(disks.table.rate("nvme0n1").valid);
}
