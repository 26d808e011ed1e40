// The memory branch: the parsers of /proc/meminfo, /proc/swaps and the firmware map, and the
// collector over small machine trees, with and without the protected module data.
#include "hw/hardware.h"
#include "hw/memory_parsers.h"
#include "hw/root_data.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::find_row;
using testing_support::TempDir;
using testing_support::value;

namespace {

class MemoryBranch : public ::testing::Test {
protected:
    void SetUp() override { hw::RootData::instance() = hw::RootData(); }
    void TearDown() override { hw::RootData::instance() = m_saved; }

    const hw::Node* collect() {
        m_tree = testing_support::collect(hw::collect_memory, m_root.path());
        return m_tree->find("memory");
    }
    // A firmware map whose ranges up to the top of RAM span `ram` + `reserved` bytes, plus an
    // entry above the RAM and one ending before its start, which must be ignored.
    void write_memmap(uint64_t ram, uint64_t reserved) const {
        uint64_t half = ram / 2, top = ram + reserved;
        const std::tuple<uint64_t, uint64_t, const char*> ranges[] = {
            {0, half - 1, "System RAM"},
            {half, half + reserved - 1, "Reserved"},
            {half + reserved, top - 1, "System RAM"},
            {top, top + (1ull << 30) - 1, "Reserved"},
            {5ull << 30, 1ull << 30, "Reserved"}};
        for (size_t i = 0; i < std::size(ranges); ++i) {
            const auto& [start, end, type] = ranges[i];
            std::string dir = "/sys/firmware/memmap/" + std::to_string(i) + "/";
            char text[40];
            snprintf(text, sizeof text, "0x%llx\n", static_cast<unsigned long long>(start));
            m_root.write(dir + "start", text);
            snprintf(text, sizeof text, "0x%llx\n", static_cast<unsigned long long>(end));
            m_root.write(dir + "end", text);
            m_root.write(dir + "type", std::string(type) + "\n");
        }
    }

    TempDir m_root;
    std::unique_ptr<hw::Node> m_tree;
    hw::RootData m_saved = hw::RootData::instance();
};

hw::MemoryModule module(const std::string& locator, uint64_t size) {
    hw::MemoryModule m;
    m.locator = locator;
    m.size_bytes = size;
    m.type = size ? "DDR5" : "";
    m.voltage = size ? "1.1 V" : "";
    return m;
}

} // namespace

TEST(MemoryParsers, SwapsAndAWholeAddressSpaceMap) {
    const std::string header = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority";
    auto swaps =
        hw::parse_swaps({header, "/dev/sda2  partition\t8388604\t0\t-2", "",
                         "/swap\\040file\\011x\\134y file 1024 512", // four fields
                         "/my\\040swap\\012file file 2048 1024 5", "/swap\\040 file 4 0 -3"});
    ASSERT_EQ(swaps.size(), 3u);
    EXPECT_EQ(swaps[2].name, "/swap "); // an escape at the very end is a trailing space
    EXPECT_EQ(swaps[0].priority, "-2");
    EXPECT_EQ(swaps[1].name + " " + std::to_string(swaps[1].used_kb), "/my swap\nfile 1024");
    // A range spanning the whole address space must not wrap its length to zero.
    EXPECT_TRUE(hw::memmap_exceeds_total({{0, UINT64_MAX, "System RAM"}}, 1));
}

TEST_F(MemoryBranch, InstalledModulesShowWhatTheFirmwareReserves) {
    m_root.write("/proc/meminfo", "MemTotal: 16000000 kB\nMemAvailable: 8000000 kB\n");
    write_memmap(16384000000ull, 300ull << 20);
    auto& rd = hw::RootData::instance();
    rd.available = true;
    rd.max_capacity = 64ull << 30;
    rd.num_slots = "4";
    rd.memory = {module("", 8ull << 30), module("DIMM B", 0), module("DIMM C", 8ull << 30)};
    const hw::Node* mem = collect();
    EXPECT_EQ(mem->summary, "16.0 GiB");
    EXPECT_EQ(find_row(mem, "Usage", "Installed")->note, "SMBIOS 17");
    // 17,179,869,184 − 16,384,000,000 = 795,869,184 bytes.
    EXPECT_EQ(value(mem, "Usage", "Reserved by firmware and graphics"), "759 MiB  (4.6 %)");
    EXPECT_EQ(value(mem, "Memory modules", "Slots used"), "2 / 3");
    EXPECT_EQ(find_row(mem, "Memory modules", "Memory modules"), nullptr); // no lock
    ASSERT_EQ(mem->children.size(), 3u);
    // A module without a locator is named after its slot; an empty slot says so.
    EXPECT_EQ(mem->children[0]->title + " " + mem->children[0]->summary, "Slot 1 8.00 GiB  DDR5");
    EXPECT_EQ(mem->children[1]->title + " " + mem->children[1]->summary, "DIMM B empty");

    // Modules adding up to exactly the managed memory, as in a virtual machine: no reserved
    // share, and no hint asking for the rights the modules were read with.
    rd.memory = {module("A", 16384000000ull)};
    mem = collect();
    EXPECT_EQ(find_row(mem, "Usage", "Installed"), nullptr);
    EXPECT_EQ(find_row(mem, "Usage", "Reserved by firmware and graphics"), nullptr);
    // Without MemTotal there is no reserved share and no hint to give.
    m_root.write("/proc/meminfo", "MemFree: 1 kB\n");
    mem = collect();
    EXPECT_EQ(value(mem, "Usage", "Installed"), "15.3 GiB");
    EXPECT_EQ(find_row(mem, "Usage", "Reserved by firmware and graphics"), nullptr);
}

TEST_F(MemoryBranch, WithoutProtectedDataModulesAreLockedAndFiguresNeverWrap) {
    m_root.write("/proc/meminfo",
                 "MemTotal: 1048576 kB\nMemAvailable: 2097152 kB\nSwapTotal: 100 kB\n"
                 "SwapFree: 200 kB\nHugePages_Total: 0\nHugePages_Free: 0\nHugepagesize: 0 kB\n");
    m_root.write("/proc/swaps", "Filename Type Size Used Priority\n");
    write_memmap(1ull << 30, 300ull << 20);
    // Without a firmware table there is nothing an administrator could unlock.
    EXPECT_EQ(find_row(collect(), "Memory modules", "Memory modules"), nullptr);
    m_root.write("/sys/firmware/dmi/tables/DMI", "");
    const hw::Node* mem = collect();
    const hw::Item* locked = find_row(mem, "Memory modules", "Memory modules");
    ASSERT_NE(locked, nullptr);
    EXPECT_TRUE(locked->needs_root);
    EXPECT_TRUE(mem->children.empty());
    // More available than total, or more free swap than swap: no wrapped-around figures.
    EXPECT_EQ(find_row(mem, "Usage", "Used"), nullptr);
    EXPECT_EQ(find_row(mem, "Swap", "Used"), nullptr);
    // Counters the kernel did not write have no row rather than a made-up 0 B.
    EXPECT_EQ(find_row(mem, "Usage", "Free"), nullptr);
    EXPECT_EQ(find_row(mem, "Huge pages", "AnonHugePages"), nullptr);
    EXPECT_EQ(value(mem, "Huge pages", "HugePages_Total"), "0");

    // A 12 GiB machine whose map holds 200 MiB more: no hint; 300 MiB more: the hint.
    m_root.write("/proc/meminfo", "MemTotal: 12582912 kB\n");
    write_memmap(12ull << 30, 200ull << 20);
    EXPECT_EQ(find_row(collect(), "Usage", "Installed"), nullptr);
    write_memmap(12ull << 30, 300ull << 20);
    EXPECT_NE(find_row(collect(), "Usage", "Installed"), nullptr);
}

TEST(MemoryBranchFixtures, SwapAreasInBinaryUnitsFromKibibytes) {
    const char* machine = "memory-16g-two-swaps";
    testing_support::expect_facts(hw::collect_memory,
                                  {
                                      // 8,388,604 KiB: /proc/swaps counts in KiB, not bytes or kB.
                                      {machine, "memory", "Swap", "/dev/nvme0n1p3",
                                       "partition, 8.00 GiB, Used 11.0 MiB, priority -2"},
                                      {machine, "memory", "Swap", "Total", "10.00 GiB"},
                                  });
}
