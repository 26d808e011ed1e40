// The memory branch: the parsers of /proc/meminfo, /proc/swaps and the firmware map, and the
// collector over small machine trees, with and without the protected module data.
#include "hw/hardware.h"
#include "hw/memory_parsers.h"
#include "hw/root_data.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class MemoryBranch : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
        m_saved = hw::RootData::instance();
        hw::RootData::instance() = hw::RootData();
    }
    void TearDown() override { hw::RootData::instance() = m_saved; }

    // Collects the memory branch over `sysroot`.
    std::unique_ptr<hw::Node> collect(const std::string& sysroot) {
        ScopedEnv env("QUARVEL_SYSROOT", sysroot);
        auto root = std::make_unique<hw::Node>();
        hw::collect_memory(*root);
        return root;
    }

    hw::RootData m_saved;
};

const hw::Item* row(const hw::Node& node, const std::string& section, const std::string& name) {
    for (const auto& s : node.sections)
        if (s.title == section)
            for (const auto& item : s.items)
                if (item.name == name) return &item;
    return nullptr;
}

std::string value(const hw::Node& node, const std::string& section, const std::string& name) {
    const hw::Item* item = row(node, section, name);
    return item ? item->value : "<no row>";
}

// A firmware map whose ranges up to the top of RAM span `ram` + `reserved` bytes, plus two
// entries the test must ignore.
void write_memmap(const TempDir& root, uint64_t ram, uint64_t reserved) {
    uint64_t half = ram / 2;
    uint64_t top = ram + reserved;
    struct R {
        uint64_t start, end;
        const char* type;
    } ranges[] = {{0, half - 1, "System RAM"},
                  {half, half + reserved - 1, "Reserved"},
                  {half + reserved, top - 1, "System RAM"},
                  {top, top + (1ull << 30) - 1, "Reserved"}, // above the RAM
                  {5ull << 30, 1ull << 30, "Reserved"}};     // end before start
    for (size_t i = 0; i < std::size(ranges); ++i) {
        std::string dir = "/sys/firmware/memmap/" + std::to_string(i) + "/";
        char buf[32];
        snprintf(buf, sizeof buf, "0x%llx\n", static_cast<unsigned long long>(ranges[i].start));
        root.write(dir + "start", buf);
        snprintf(buf, sizeof buf, "0x%llx\n", static_cast<unsigned long long>(ranges[i].end));
        root.write(dir + "end", buf);
        root.write(dir + "type", std::string(ranges[i].type) + "\n");
    }
}

hw::MemoryModule module(const std::string& locator, uint64_t size) {
    hw::MemoryModule m;
    m.locator = locator;
    m.size_bytes = size;
    m.type = size ? "DDR5" : "";
    m.speed = size ? "4800 MT/s" : "";
    m.voltage = size ? "1.1 V" : "";
    return m;
}

} // namespace

TEST(MemoryParsers, MeminfoSwapsAndAWholeAddressSpaceMap) {
    auto mi = hw::parse_meminfo({"MemTotal:  100 kB", "no colon here", "HugePages_Total:   0",
                                 "MemTotal: 200 kB", ": 5 kB", "Broken: abc"});
    EXPECT_EQ(mi.get("MemTotal"), 200u);
    EXPECT_TRUE(mi.has("HugePages_Total"));
    EXPECT_EQ(mi.get("Broken"), 0u);
    EXPECT_EQ(mi.order,
              (std::vector<std::string>{"MemTotal", "HugePages_Total", "MemTotal", "Broken"}));

    const std::string header = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority";
    EXPECT_TRUE(hw::parse_swaps({header}).empty());
    auto swaps = hw::parse_swaps({header, "/dev/sda2  partition\t8388604\t0\t-2", "",
                                  "/swap\\040file\\011x\\134y file 1024 512", // four fields
                                  "/my\\040swap\\012file file 2048 1024 5"});
    ASSERT_EQ(swaps.size(), 2u);
    EXPECT_EQ(swaps[0].name, "/dev/sda2");
    EXPECT_EQ(swaps[0].size_kb, 8388604u);
    EXPECT_EQ(swaps[0].priority, "-2");
    EXPECT_EQ(swaps[1].name, "/my swap\nfile");
    EXPECT_EQ(swaps[1].used_kb, 1024u);

    // The threshold is tested through the collector; here only a range spanning everything.
    EXPECT_TRUE(hw::memmap_exceeds_total({{0, UINT64_MAX, "System RAM"}}, 1));
}

TEST_F(MemoryBranch, InstalledModulesShowWhatTheFirmwareReserves) {
    TempDir root;
    root.write("/proc/meminfo", "MemTotal: 16000000 kB\nMemAvailable: 8000000 kB\n");
    write_memmap(root, 16384000000ull, 300ull << 20);
    auto& rd = hw::RootData::instance();
    rd.available = true;
    rd.max_capacity = 64ull << 30;
    rd.num_slots = "4";
    rd.memory = {module("", 8ull << 30), module("DIMM B", 0), module("DIMM C", 8ull << 30)};
    auto tree = collect(root.path());
    const hw::Node* mem = tree->find("memory");
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(mem->summary, "16.0 GiB");
    const hw::Item* installed = row(*mem, "Usage", "Installed");
    ASSERT_NE(installed, nullptr);
    EXPECT_EQ(installed->value, "16.0 GiB");
    EXPECT_EQ(installed->note, "SMBIOS 17");
    // 17,179,869,184 − 16,384,000,000 = 795,869,184 bytes.
    EXPECT_EQ(value(*mem, "Usage", "Reserved by firmware and graphics"), "759 MiB  (4.6 %)");
    EXPECT_EQ(value(*mem, "Usage", "Used"), "7.63 GiB  (50.0 %)");
    EXPECT_EQ(value(*mem, "Memory modules", "Maximum capacity"), "64.0 GiB");
    EXPECT_EQ(value(*mem, "Memory modules", "Slots"), "4");
    EXPECT_EQ(value(*mem, "Memory modules", "Slots used"), "2 / 3");
    EXPECT_EQ(row(*mem, "Memory modules", "Memory modules"), nullptr); // no lock

    ASSERT_EQ(mem->children.size(), 3u);
    const hw::Node& first = *mem->children[0];
    EXPECT_EQ(first.id, "memory.slot.0");
    EXPECT_EQ(first.title, "Slot 1");
    EXPECT_EQ(first.icon, "\U0001F7E9");
    EXPECT_EQ(first.summary, "8.00 GiB  DDR5");
    EXPECT_EQ(value(first, "Module", "Voltage"), "1.1 V");
    EXPECT_EQ(row(first, "Module", "Slot"), nullptr);
    const hw::Node& empty = *mem->children[1];
    EXPECT_EQ(empty.title, "DIMM B");
    EXPECT_EQ(empty.icon, "\u2B1C");
    EXPECT_EQ(empty.summary, "empty");
    ASSERT_EQ(empty.sections.size(), 1u);
    ASSERT_EQ(empty.sections[0].items.size(), 2u);
    EXPECT_EQ(empty.sections[0].items[1].name, "Status");

    // Modules adding up to exactly the managed memory: the firmware map decides.
    rd.memory = {module("A", 16384000000ull)};
    tree = collect(root.path());
    EXPECT_EQ(value(*tree->find("memory"), "Usage", "Installed"),
              "needs administrator rights — the firmware reserves part of the memory");
    EXPECT_EQ(row(*tree->find("memory"), "Usage", "Reserved by firmware and graphics"), nullptr);

    // Without MemTotal there is no reserved share and no hint to give.
    root.write("/proc/meminfo", "MemFree: 1 kB\n");
    tree = collect(root.path());
    EXPECT_EQ(value(*tree->find("memory"), "Usage", "Installed"), "15.3 GiB");
    EXPECT_EQ(row(*tree->find("memory"), "Usage", "Reserved by firmware and graphics"), nullptr);
    rd.available = false;
    tree = collect(root.path());
    EXPECT_EQ(row(*tree->find("memory"), "Usage", "Installed"), nullptr);
}

TEST_F(MemoryBranch, WithoutProtectedDataTheModulesAreLocked) {
    TempDir root;
    root.write("/proc/meminfo",
               "MemTotal: 1048576 kB\nMemAvailable: 2097152 kB\nSwapTotal: 100 kB\n"
               "SwapFree: 200 kB\nHugePages_Total: 0\nHugePages_Free: 0\nHugepagesize: 0 kB\n");
    root.write("/proc/swaps", "Filename Type Size Used Priority\n");
    write_memmap(root, 1ull << 30, 300ull << 20);
    auto tree = collect(root.path());
    const hw::Node* mem = tree->find("memory");
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(mem->summary, "1.00 GiB");
    const hw::Item* locked = row(*mem, "Memory modules", "Memory modules");
    ASSERT_NE(locked, nullptr);
    EXPECT_TRUE(locked->needs_root);
    EXPECT_EQ(locked->note, "SMBIOS 17");
    EXPECT_TRUE(mem->children.empty());
    EXPECT_NE(row(*mem, "Usage", "Installed"), nullptr);
    // More available than total, or more free swap than swap: no wrapped-around figures.
    EXPECT_EQ(row(*mem, "Usage", "Used"), nullptr);
    EXPECT_EQ(row(*mem, "Swap", "Used"), nullptr);
    // Counters the kernel did not write have no row rather than a made-up 0 B.
    EXPECT_EQ(row(*mem, "Usage", "Free"), nullptr);
    EXPECT_EQ(row(*mem, "Kernel memory", "Active"), nullptr);
    EXPECT_EQ(row(*mem, "Huge pages", "AnonHugePages"), nullptr);
    EXPECT_EQ(mem->sections[1].items.size(), 2u); // total and free; no swap area rows
    EXPECT_EQ(value(*mem, "Huge pages", "HugePages_Total"), "0");
    EXPECT_EQ(row(*mem, "Huge pages", "HugePages_Rsvd"), nullptr);
    EXPECT_EQ(row(*mem, "Huge pages", "Hugepagesize"), nullptr);
    EXPECT_EQ(value(*mem, "Raw /proc/meminfo", "HugePages_Free"), "0");
    EXPECT_EQ(value(*mem, "Raw /proc/meminfo", "Hugepagesize"), "0 B");
    EXPECT_EQ(row(*mem, "Memory modules", "Memory blocks"), nullptr);

    // A 12 GiB machine whose map holds 200 MiB more: no hint; 300 MiB more: the hint.
    root.write("/proc/meminfo", "MemTotal: 12582912 kB\n");
    write_memmap(root, 12ull << 30, 200ull << 20);
    EXPECT_EQ(row(*collect(root.path())->find("memory"), "Usage", "Installed"), nullptr);
    write_memmap(root, 12ull << 30, 300ull << 20);
    EXPECT_NE(row(*collect(root.path())->find("memory"), "Usage", "Installed"), nullptr);
}

TEST_F(MemoryBranch, FixtureMachines) {
    auto tree = collect(testing_support::fixture("memory-16g-two-swaps"));
    const hw::Node* mem = tree->find("memory");
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(value(*mem, "Swap", "/dev/nvme0n1p3"),
              "partition, 8.00 GiB, Used 11.0 MiB, priority -2");
    EXPECT_EQ(value(*mem, "Swap", "/var/swap file"), "file, 2.00 GiB, Used 0 B, priority -3");
    EXPECT_EQ(value(*mem, "Swap", "Used"), "11.0 MiB");
    EXPECT_EQ(value(*mem, "Memory modules", "Memory blocks"), "4");
    EXPECT_EQ(value(*mem, "Memory modules", "Block size"), "128 MiB");
    EXPECT_EQ(value(*mem, "Huge pages", "Transparent huge pages"), "always [madvise] never");
    EXPECT_EQ(value(*mem, "Huge pages", "HugePages_Total"), "64");
    EXPECT_EQ(value(*mem, "Huge pages", "Hugepagesize"), "2.00 MiB");
    EXPECT_NE(row(*mem, "Usage", "Installed"), nullptr); // 16 GiB of map, 15.3 GiB managed

    // This build machine's own /proc/meminfo, captured.
    tree = collect(testing_support::fixture("memory-vm-capture"));
    mem = tree->find("memory");
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(mem->summary, "23.5 GiB");
    EXPECT_EQ(value(*mem, "Usage", "Used"), "647 MiB  (2.7 %)");
    EXPECT_EQ(value(*mem, "Kernel memory", "VmallocTotal"), "32.0 TiB");
    EXPECT_EQ(value(*mem, "Swap", "Total"), "0 B");
    EXPECT_EQ(row(*mem, "Swap", "Used"), nullptr);
}
