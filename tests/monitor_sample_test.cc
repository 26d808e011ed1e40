// The monitor bar's samplers: load from /proc/stat lines, memory from /proc/meminfo, the
// temperature source and reading, and the processor's identity over the fixture machines.
#include "live/monitor_sample.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using testing_support::ScopedEnv;

namespace {

std::vector<std::string> stat(std::initializer_list<std::string> cpu_lines) {
    std::vector<std::string> lines(cpu_lines);
    lines.push_back("intr 12345 0 0");
    lines.push_back("btime 1710000000");
    return lines;
}

} // namespace

// A host running virtual machines: guest time is already inside user time, so the second
// reading is half busy, not two thirds.
TEST(CpuLoad, GuestTimeIsNotCountedTwice) {
    live::CpuLoads s = live::next_cpu_loads(
        {}, stat({"cpu  100 0 0 100 0 0 0 0 0 0", "cpu0 100 0 0 100 0 0 0 0 0 0"}));
    EXPECT_EQ(s.total, 0) << "the first reading has nothing to compare with";
    s = live::next_cpu_loads(
        s, stat({"cpu  200 0 0 200 0 0 0 0 100 0", "cpu0 200 0 0 200 0 0 0 0 100 0"}));
    EXPECT_DOUBLE_EQ(s.total, 50);
    ASSERT_EQ(s.per_cpu.size(), 1u);
    EXPECT_DOUBLE_EQ(s.per_cpu[0], 50);
    EXPECT_EQ(s.total_counters.total, 400u);
}

TEST(CpuLoad, ResetsGapsOfflineCpusAndGarbage) {
    live::CpuLoads s =
        live::next_cpu_loads({}, stat({"cpu  10 0 0 10 0", "cpu0 10 0 0 10 0", "cpu3 10 0 0 10 0",
                                       "cpu9999 1 1 1 1 1", "cpu1 1 2 3", "cpux 1 1 1 1 1"}));
    ASSERT_EQ(s.per_cpu.size(), 4u)
        << "the gap of offline cpu1 and cpu2 is filled, cpu9999 dropped";
    s = live::next_cpu_loads(s, stat({"cpu  40 0 0 20 0", "cpu0 30 0 0 10 0", "cpu3 20 0 0 20 0"}));
    EXPECT_DOUBLE_EQ(s.total, 75);
    EXPECT_EQ(s.per_cpu, (std::vector<double>{100, 0, 0, 50}));

    // Counters that went back: the total reads 0 and a CPU keeps its last load this tick.
    s = live::next_cpu_loads(s, stat({"cpu  5 0 0 5 0", "cpu0 1 0 0 1 0", "cpu3 30 0 0 20 0"}));
    EXPECT_EQ(s.total, 0);
    EXPECT_EQ(s.per_cpu, (std::vector<double>{100, 0, 0, 100}));

    // cpu3 went offline: it no longer works, so it must not keep showing its last load.
    s = live::next_cpu_loads(s, stat({"cpu  9 0 0 5 0", "cpu0 2 0 0 2 0"}));
    EXPECT_EQ(s.per_cpu, (std::vector<double>{50, 0, 0, 0}));
    // Back online, its counters run on from before: the first reading only starts a new
    // interval, the second gives its load.
    s = live::next_cpu_loads(s, stat({"cpu  9 0 0 5 0", "cpu0 4 0 0 4 0", "cpu3 90 0 0 20 0"}));
    EXPECT_EQ(s.per_cpu, (std::vector<double>{50, 0, 0, 0}));
    s = live::next_cpu_loads(s, stat({"cpu  9 0 0 5 0", "cpu0 6 0 0 6 0", "cpu3 95 0 0 25 0"}));
    EXPECT_EQ(s.per_cpu, (std::vector<double>{50, 0, 0, 50}));

    // An unreadable file changes nothing but the total.
    const live::CpuLoads before = s;
    s = live::next_cpu_loads(s, {});
    EXPECT_EQ(s.per_cpu, before.per_cpu);
    EXPECT_EQ(s.total_counters.total, before.total_counters.total);
}

TEST(MemoryUse, AvailableMemoryAndOldKernels) {
    struct Case {
        std::vector<std::string> lines;
        std::optional<double> percent;
        uint64_t used_bytes;
    } cases[] = {
        {{"MemTotal: 1000 kB", "MemFree: 100 kB", "MemAvailable: 250 kB"}, 75, 750 * 1024},
        // Before MemAvailable existed: free memory and the caches could be given back.
        {{"MemTotal: 1000 kB", "MemFree: 100 kB", "Buffers: 50 kB", "Cached: 250 kB"},
         60,
         600 * 1024},
        {{"MemTotal: 1000 kB", "MemAvailable: 5000 kB"}, 0, 0},
        {{"MemFree: 100 kB", "MemAvailable: 250 kB"}, std::nullopt, 0},
        {{}, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        auto m = live::memory_use(c.lines);
        ASSERT_EQ(m.has_value(), c.percent.has_value()) << testing::PrintToString(c.lines);
        if (!m) continue;
        EXPECT_DOUBLE_EQ(m->percent, *c.percent);
        EXPECT_EQ(m->used, c.used_bytes);
        EXPECT_EQ(m->total, 1000u * 1024);
    }
    // All of it used is 100 %, not a hair above (x * 100 / x rounds up for some x).
    EXPECT_EQ(live::memory_use({"MemTotal: 1844674407370956 kB"})->percent, 100);
}

TEST(Temperature, PlausibleReadingsOnly) {
    for (auto [text, expected] :
         std::initializer_list<std::pair<const char*, double>>{{"45500\n", 45.5},
                                                               {"200000", 200},
                                                               {"0", -1},
                                                               {"250000", -1},
                                                               {"-5000", -1},
                                                               {"", -1},
                                                               {"n/a", -1},
                                                               {"99999999999999999999999", -1}})
        EXPECT_DOUBLE_EQ(live::temperature_celsius(text), expected) << text;
    EXPECT_EQ(live::read_temperature(""), -1);
}

TEST(Temperature, ThePreferredChipAndLabelWin) {
    using Chips = std::vector<live::HwmonChip>;
    const live::HwmonChip acpitz{"acpitz", {{"/a/temp1_input", ""}}};
    const live::HwmonChip nvme{"nvme", {{"/n/temp1_input", "Composite"}}};
    const live::HwmonChip coretemp{
        "coretemp", {{"/c/temp2_input", "Core 0"}, {"/c/temp1_input", "Package id 0"}}};
    const live::HwmonChip k10_odd{"k10temp", {{"/k/temp3_input", "Tccd1"}, {"/k/temp4_input", ""}}};
    struct Case {
        Chips chips;
        std::string path, label;
    } cases[] = {
        {{acpitz, nvme, coretemp}, "/c/temp1_input", "Package id 0"},
        {{acpitz, k10_odd}, "/k/temp3_input", "Tccd1"},
        {{nvme, acpitz}, "/a/temp1_input", ""},
        // No processor chip at all: the first input of any chip, named after the chip.
        {{{"iwlwifi_1", {}}, nvme}, "/n/temp1_input", "nvme"},
        {{}, "", ""},
    };
    for (const auto& c : cases) {
        const live::TemperatureSource s = live::choose_temperature_source(c.chips);
        EXPECT_EQ(s.path, c.path);
        EXPECT_EQ(s.label, c.label);
    }
}

// The note "64C/128T" must say what the processor branch says, on every machine.
TEST(Temperature, AnInputTheChipFlagsAsFaultyIsNotChosen) {
    testing_support::TempDir root;
    root.write("sys/class/hwmon/hwmon0/name", "lm90\n");
    root.write("sys/class/hwmon/hwmon0/temp1_input", "127000\n");
    root.write("sys/class/hwmon/hwmon0/temp1_fault", "1\n");
    root.write("sys/class/hwmon/hwmon0/temp2_input", "41500\n");
    root.write("sys/class/hwmon/hwmon0/temp2_fault", "0\n");
    ScopedEnv env("QUARVEL_SYSROOT", root.path());
    EXPECT_EQ(live::choose_temperature_source(live::read_hwmon_chips()).path,
              "/sys/class/hwmon/hwmon0/temp2_input");
}

// The bar reads its source for as long as it runs; the NVMe drive it chose is unplugged and a
// disk's chip is given its number.
TEST(Temperature, TheSourceIsNeverTheChipThatTookItsNumber) {
    testing_support::TempDir root;
    ScopedEnv env("QUARVEL_SYSROOT", root.path());
    testing_support::write_renumbered_hwmon(root);
    const std::string path = live::choose_temperature_source(live::read_hwmon_chips()).path;
    EXPECT_EQ(live::read_temperature(path), 35);
    testing_support::unplug_renumbered_nvme(root);
    EXPECT_EQ(live::read_temperature(path), -1) << "no reading, not the disk's under nvme";
}

TEST(Temperature, ASourceThatGoesGivesWayToTheBestChipLeft) {
    testing_support::TempDir root;
    ScopedEnv env("QUARVEL_SYSROOT", root.path());
    testing_support::write_renumbered_hwmon(root);
    live::TemperatureSource source = live::choose_temperature_source(live::read_hwmon_chips());
    EXPECT_EQ(live::read_temperature_following(source), 35);
    testing_support::unplug_renumbered_nvme(root);
    EXPECT_EQ(live::read_temperature_following(source), 28);
    EXPECT_EQ(source.label, "drivetemp");
    std::filesystem::remove_all(std::filesystem::path(root.path()) / "sys/devices/sdb");
    EXPECT_EQ(live::read_temperature_following(source), -1);
    EXPECT_EQ(source.path, "") << "no sensor left";
}

TEST(CpuIdentity, CountsAgreeWithTheProcessorBranch) {
    testing_support::use_english();
    for (const auto& machine : testing_support::fixture_machines()) {
        ScopedEnv root("QUARVEL_SYSROOT", testing_support::fixture(machine));
        const live::CpuIdentity id = live::read_cpu_identity();
        auto tree = testing_support::collect(hw::collect_cpu, testing_support::fixture(machine));
        const hw::Node* cpu = tree->find("cpu");
        auto shown = [](int v) { return v > 0 ? util::fmt_int(uint64_t(v)) : "<no row>"; };
        EXPECT_EQ(shown(id.sockets), testing_support::value(cpu, "", "Sockets")) << machine;
        EXPECT_EQ(shown(id.cores_physical), testing_support::value(cpu, "", "Physical cores"))
            << machine;
        EXPECT_EQ(shown(id.cpus_present), testing_support::value(cpu, "", "Logical CPUs"))
            << machine;
    }
}

TEST(CpuIdentity, DrawOrderGroupsSocketsThenCores) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::fixture("cpu-x86-256cpus"));
    const live::CpuIdentity id = live::read_cpu_identity();
    EXPECT_EQ(id.name, "AMD EPYC 7763 64-Core Processor");
    ASSERT_EQ(id.draw_order.size(), 256u);
    // Siblings n and n + 128 side by side; socket 0 (CPUs 0-63 and 128-191) first.
    EXPECT_EQ(std::vector<int>(id.draw_order.begin(), id.draw_order.begin() + 4),
              (std::vector<int>{0, 128, 1, 129}));
    EXPECT_EQ(id.draw_order[127], 191);
    EXPECT_EQ(id.draw_order[128], 64);
    EXPECT_EQ(id.socket_of_cpu[191], 0);
    EXPECT_EQ(id.core_of_cpu[0], id.core_of_cpu[128]);
    EXPECT_NE(id.core_of_cpu[0], id.core_of_cpu[64]) << "core ids repeat on each socket";
}

TEST(MonitorFigures, OneSecondOfSamplesOverACapture) {
    const std::string machine = testing_support::fixture("cpu-x86-256cpus");
    ScopedEnv root("QUARVEL_SYSROOT", machine);
    const live::TemperatureSource source =
        live::choose_temperature_source(live::read_hwmon_chips());
    EXPECT_EQ(source.path, "/sys/class/hwmon/hwmon1/temp1_input");
    EXPECT_EQ(source.label, "Tctl");

    live::MonitorFigures f;
    const auto stat_lines = util::read_lines("/proc/stat");
    for (size_t i = 0; i < live::history_length + 5; ++i)
        live::apply_sample(f, stat_lines, util::read_lines("/proc/meminfo"),
                           live::read_temperature(i % 2 ? source.path : ""));
    EXPECT_EQ(f.cpu.per_cpu.size(), 256u);
    EXPECT_EQ(f.cpu_history.size(), live::history_length);
    EXPECT_EQ(f.temp_history.size(), (live::history_length + 5) / 2)
        << "unknown readings add nothing";
    EXPECT_DOUBLE_EQ(f.temp_history.back(), 48.5);
    EXPECT_EQ(f.memory.total, 528126500ull * 1024);

    // MemTotal gone: 0 %, the totals last known stay.
    live::apply_sample(f, stat_lines, {"MemFree: 1 kB"}, -1);
    EXPECT_EQ(f.memory.percent, 0);
    EXPECT_EQ(f.memory.total, 528126500ull * 1024);
    EXPECT_EQ(f.temp_now, -1);
}
