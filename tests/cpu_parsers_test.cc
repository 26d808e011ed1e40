// The processor branch: the parsers on text as kernels write it, and the collector over the
// fixture machines and over broken trees.
#include "hw/arm_cpu_names.h"
#include "hw/cpu_cache.h"
#include "hw/cpu_list.h"
#include "hw/cpu_topology.h"
#include "hw/cpuinfo_parser.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

using hw::parse_cpu_list;
using Cpus = std::vector<int>;
using testing_support::find_row;
using testing_support::fixture;
using testing_support::TempDir;
using testing_support::value;

namespace {

Cpus range(int first, int last) {
    Cpus v;
    for (int n = first; n <= last; ++n)
        v.push_back(n);
    return v;
}

hw::CacheEntry cache(int level, const char* type, uint64_t size, const char* shared,
                     const char* ways = "", const char* line = "") {
    hw::CacheEntry e;
    e.level = level;
    e.type = type;
    e.size_bytes = size;
    e.shared_list = shared;
    e.ways = ways;
    e.line_size = line;
    return e;
}

} // namespace

TEST(CpuList, ListsAndMasksAreReadCappedAndWrittenBack) {
    EXPECT_EQ(parse_cpu_list(" 4 , 2-3 ,, 0-1,8 "), (Cpus{4, 2, 3, 0, 1, 8}));
    EXPECT_EQ(parse_cpu_list("5-3"), Cpus{});
    // Kernel files of some versions end with a NUL after the newline.
    EXPECT_EQ(parse_cpu_list(std::string("0-1\n\0", 5)), (Cpus{0, 1}));
    EXPECT_EQ(parse_cpu_list("0-99999"), range(0, 4095));
    EXPECT_EQ(parse_cpu_list("0-5000,6000").back(), 6000);
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "0-4095,";
    EXPECT_EQ(parse_cpu_list(many).size(), hw::cpu_list_total_limit);
    // Masks: the least significant word comes last.
    EXPECT_EQ(hw::parse_cpu_mask("00000001,00000000,00000003"), (Cpus{0, 1, 64}));
    EXPECT_EQ(hw::parse_cpu_mask("0000ff00,00000000"), range(40, 47));
    EXPECT_EQ(hw::parse_cpu_mask("123456789"), Cpus{}); // a word holds eight digits
    EXPECT_EQ(hw::format_cpu_list({8, 0, 1, 2, 3, 10, 11, 2}), "0-3,8,10-11");
    EXPECT_EQ(hw::format_cpu_list({-1}), "");
    // A run longer than one range may hold is split, so the text reads back whole.
    EXPECT_EQ(hw::format_cpu_list(range(0, 5000)), "0-4095,4096-5000");
    EXPECT_EQ(hw::canonical_cpu_list("0,1,2", "ff"), "0-2");
    EXPECT_EQ(hw::canonical_cpu_list("", "0f,00000000"), "32-35");
}

TEST(Caches, SizesAndTotalsCountEachPhysicalCacheOnce) {
    const std::pair<const char*, uint64_t> sizes[] = {{"48k\n", 49152},
                                                      {"2G", 2147483648u},
                                                      {"512", 512},
                                                      {"K", 0},
                                                      {"18446744073709551615K", 0}};
    for (const auto& [text, bytes] : sizes)
        EXPECT_EQ(hw::parse_cache_size(text), bytes) << text;

    util::set_number_format(".", ",");
    auto totals = [](const hw::CacheTally& tally) {
        std::vector<std::string> out;
        for (const auto& t : tally.totals())
            out.push_back(t.label + ": " + hw::cache_total_text(t) + " / " +
                          hw::cache_total_note(t));
        return out;
    };
    hw::CacheTally server;
    // Eight L2 caches of 1 MiB, each shared by two CPUs that both report it.
    for (int cpu = 0; cpu < 16; ++cpu) {
        int first = cpu - cpu % 2;
        std::string list = std::to_string(first) + "-" + std::to_string(first + 1);
        server.add(cpu, cache(2, "Unified", 1 << 20, list.c_str(), "16", "64"));
        server.add(cpu, cache(3, "Unified", 16 << 20, "0-15", "16", "64"));
    }
    EXPECT_EQ(totals(server),
              (std::vector<std::string>{"L2: 8.00 MiB  (8 × 1.00 MiB) / 16-way, 64 B line",
                                        "L3: 16.0 MiB / 16-way, 64 B line"}));
    hw::CacheTally hybrid;
    hybrid.add(0, cache(3, "Unified", 8 << 20, "0,1,2,3")); // one list written two ways
    hybrid.add(1, cache(3, "Unified", 8 << 20, "0-3"));
    // Without a shared list a cache is the reading CPU's own.
    hybrid.add(0, cache(1, "Data", 32 << 10, ""));
    hybrid.add(1, cache(1, "Data", 32 << 10, ""));
    hybrid.add(0, cache(2, "Unified", 1310720, "0-1"));
    hybrid.add(2, cache(2, "Unified", 2 << 20, "2-5"));
    EXPECT_EQ(totals(hybrid), (std::vector<std::string>{"L1d: 64.0 KiB  (2 × 32.0 KiB) / ",
                                                        "L2: 3.25 MiB  (1.25 MiB + 2.00 MiB) / ",
                                                        "L3: 8.00 MiB / "}));
    // A cache whose size the kernel left out is no instance of 0 B.
    hybrid.add(6, cache(2, "Unified", 0, "6-7"));
    hybrid.add(8, cache(4, "Unified", 0, "0-8"));
    EXPECT_EQ(totals(hybrid).size(), 3u);
    EXPECT_EQ(totals(hybrid)[1], "L2: 3.25 MiB  (1.25 MiB + 2.00 MiB) / ");
}

TEST(CpuInfo, ArmProcessorsAreNamedFromTheirNumbers) {
    const std::tuple<const char*, const char*, const char*> names[] = {
        {"0x41", "0xd0c", "ARM Neoverse-N1"},
        {"0x48", "0xd01", "HiSilicon Kunpeng-920"},
        {"0xc0", "0xac3", "Ampere-1"}, // not "Ampere Ampere-1"
        {" 0x41\n", "0xd99", "ARM"},   // a part not listed: the implementer still is
        {"0x41", "d0c", "ARM"},        // without 0x no number
        {"0x99", "0xd0c", ""},
        {"0x41000", "0xd0c", ""},
        {"", "", ""}};
    for (const auto& [implementer, part, name] : names)
        EXPECT_EQ(hw::arm_cpu_name(implementer, part), name) << implementer << " " << part;
}

TEST(CpuInfo, BlocksOfX86ArmAndS390) {
    auto x86 = hw::parse_cpuinfo("processor\t: 0\nmodel name\t: 13th Gen Intel(R) Core(TM)\n"
                                 "cpu MHz\t\t: 1900.000\nflags\t\t: fpu vme  msr \n"
                                 "power management:\n\nprocessor\t: 2\ncpu MHz\t\t: 400.000\n\n");
    ASSERT_EQ(x86.size(), 2u);
    EXPECT_EQ(hw::cpuinfo_model(x86), "13th Gen Intel(R) Core(TM)");
    // CPU 1 is offline: the second paragraph is CPU 2, found by number, not by position.
    ASSERT_NE(hw::block_for_cpu(x86, 2), nullptr);
    EXPECT_EQ(hw::block_for_cpu(x86, 2)->get("cpu MHz"), "400.000");
    EXPECT_EQ(hw::block_for_cpu(x86, 1), nullptr);

    // Old ARM kernels put the machine after the processors.
    std::string arm = "processor\t: 0\nBogoMIPS\t: 38.40\n\nprocessor\t: 1\n\n"
                      "Features\t: half thumb fastmult vfp \nCPU implementer\t: 0x41\n\n"
                      "Hardware\t: BCM2835\nRevision\t: a01041\n";
    EXPECT_EQ(hw::cpuinfo_model(hw::parse_cpuinfo(arm)), "BCM2835");
    // The processor's own name beats the board's where the kernel writes one.
    EXPECT_EQ(hw::cpuinfo_model(hw::parse_cpuinfo("Processor\t: ARMv7 rev 1 (v7l)\n" + arm)),
              "ARMv7 rev 1 (v7l)");
    // s390 writes one line per processor and numbers its paragraphs "cpu number".
    auto s390 = hw::parse_cpuinfo("vendor_id       : IBM/S390\n"
                                  "processor 0: version = FF,  machine = 2964\n\n"
                                  "cpu number      : 1\ncpu MHz dynamic : 5000\n");
    ASSERT_NE(hw::block_for_cpu(s390, 1), nullptr);
    EXPECT_EQ(hw::block_for_cpu(s390, 1)->get("cpu MHz dynamic"), "5000");
}

TEST(CpuTopology, CoresAreThreadSiblingSetsAndSocketsKnownPackages) {
    // Two dies whose core ids both start at 0: pairs would say 2 cores.
    std::vector<hw::CpuTopology> cpus;
    for (int n = 0; n < 8; ++n) {
        std::string siblings = std::to_string(n % 4) + "," + std::to_string(n % 4 + 4);
        cpus.push_back({n, "0", n % 2 ? "1" : "0", siblings});
    }
    EXPECT_EQ(hw::count_cores(cpus), 4u);
    // A CPU without a sibling file that no set covers is a core of its own.
    cpus.push_back({8, "0", "", ""});
    EXPECT_EQ(hw::count_cores(cpus), 5u);
    // Only without any sibling set do (package, core) pairs count.
    EXPECT_EQ(hw::count_cores(
                  {{0, "0", "0", ""}, {1, "0", "0", ""}, {2, "1", "0", ""}, {3, "1", "1", ""}}),
              3u);

    auto blocks =
        hw::parse_cpuinfo("processor : 0\nphysical id : 0\n\nprocessor : 1\nphysical id : 3\n");
    EXPECT_EQ(hw::count_sockets({{0, "36", "", ""}, {1, "8442", "", ""}}, blocks), 2u);
    // Package id -1 is unknown: the physical ids of /proc/cpuinfo count then, or nothing.
    std::vector<hw::CpuTopology> unknown = {{0, "-1", "", ""}, {1, "-1", "", ""}};
    EXPECT_EQ(hw::count_sockets(unknown, blocks), 2u);
    EXPECT_EQ(hw::count_sockets(unknown, hw::parse_cpuinfo("processor : 0\n")), 0u);
}

TEST(CpuTopology, EachCoresFilesAreReadOnceForAllItsThreads) {
    // Threads 0 and 2 share a core, as do 1 and 3; CPU 4 has no sibling list.
    const std::map<std::string, std::string> files = {{"0/physical_package_id", "0"},
                                                      {"0/thread_siblings_list", "0,2"},
                                                      {"1/physical_package_id", "1"},
                                                      {"1/thread_siblings_list", "1,3"},
                                                      {"4/physical_package_id", "1"}};
    std::vector<std::string> asked;
    auto read = [&](const std::string& path) {
        std::string key = path.substr(path.rfind("/cpu") + 4);
        key.erase(key.find("/topology"), 9);
        asked.push_back(key);
        auto it = files.find(key);
        return it == files.end() ? std::string() : it->second;
    };
    auto cpus = hw::read_topology({0, 1, 2, 3, 4}, read);
    ASSERT_EQ(cpus.size(), 5u);
    EXPECT_EQ(cpus[2].cpu, 2);
    EXPECT_EQ(cpus[2].package_id, "0");
    EXPECT_EQ(cpus[3].thread_siblings, "1,3");
    EXPECT_EQ(cpus[4].package_id, "1");
    EXPECT_EQ(std::count_if(asked.begin(), asked.end(),
                            [](const std::string& k) { return k[0] == '2' || k[0] == '3'; }),
              0);
    EXPECT_EQ(hw::count_cores(cpus), 3u);
}

namespace {

std::unique_ptr<hw::Node> collect(const std::string& sysroot) {
    return testing_support::collect(hw::collect_cpu, sysroot);
}

} // namespace

TEST(CpuBranch, FactsOfTheFixtureMachines) {
    const char *numa = "cpu-x86-2socket-smt-numa", *offline = "cpu-x86-offline-cpus",
               *vm = "cpu-x86-vm-no-cpufreq", *ppc = "cpu-ppc64-lpar-masks";
    auto trees = testing_support::expect_facts(
        hw::collect_cpu,
        {
            // The offline list holds only a newline.
            {numa, "cpu", "Topology", "Offline CPU list", "<no row>"},
            // Core ids restart on each die.
            {"cpu-amd-desktop-2ccd", "cpu", "Topology", "Physical cores", "12"},
            // The big cluster's minimum is higher: the machine's is the lowest of them.
            {"cpu-arm-biglittle", "cpu", "Clock", "Hardware minimum", "408 MHz"},
            {"cpu-arm-biglittle", "cpu.core.4", "Core", "Hardware minimum", "600 MHz"},
            // CPU 4 is the fourth paragraph of /proc/cpuinfo, not the fifth.
            {offline, "cpu.core.4", "Raw /proc/cpuinfo", "processor", "4"},
            {vm, "cpu", "Clock", "Current frequency", "2.79 GHz"},
            {ppc, "cpu", "Topology", "Sockets", "<no row>"},    // package id -1
            {ppc, "cpu.numa", "node2", "MemTotal", "16.0 GiB"}, // a node without CPUs
        });
    EXPECT_EQ(find_row(trees[vm]->find("cpu"), "Clock", "Current frequency")->note, "cpu MHz");
    // No cache and no raw cpuinfo for an offline CPU.
    const hw::Node* off = trees[offline]->find("cpu.core.5");
    EXPECT_EQ(testing_support::rows(off, "Core"), std::vector<std::string>{"Status=Offline"});
    EXPECT_EQ(off->sections.size(), 1u);
}

TEST(CpuBranch, GarbageAndHostileFilesNeverCrash) {
    TempDir root;
    root.write("/proc/cpuinfo", std::string("\x01\xff\xfe garbage\0\0:\n\n::::\n\xc3", 22));
    const std::string c = "/sys/devices/system/cpu";
    root.write(c + "/present", "0-99999999,x,-3\n");
    root.write(c + "/online", "zz\n");
    root.write(c + "/cpu0/topology/physical_package_id", "-1\n");
    root.write(c + "/cpu0/topology/thread_siblings_list", "\xff\n");
    root.write(c + "/cpu0/cache/index0/size", "99999999999999999999999K\n");
    root.write(c + "/cpu0/cache/index0/level", "-7\n");
    root.write(c + "/cpu0/cache/index0/shared_cpu_map", "nonsense\n");
    root.symlink("../cpufreq/policy-missing", c + "/cpu0/cpufreq");
    root.write("/sys/devices/system/node/node0/meminfo", "Node 0 MemTotal: -5 kB\n");
    auto tree = collect(root.path());
    const hw::Node* cpu = tree->find("cpu");
    EXPECT_EQ(value(cpu, "Processor", "Model"), "Unknown");
    EXPECT_EQ(value(cpu, "Topology", "Logical CPUs"), "4,096") << "one range gives 4096 CPUs";
    EXPECT_EQ(value(cpu, "Topology", "CPUs online"), "1") << "garbage counts as CPU 0";
    EXPECT_EQ(value(cpu, "Topology", "Sockets"), "<no row>");
    EXPECT_NE(cpu->find("cpu.cores"), nullptr);
    for (const auto& s : cpu->sections)
        for (const auto& item : s.items)
            EXPECT_EQ(util::valid_utf8(item.value), item.value) << item.name;
}

TEST(CpuBranch, MissingGlobalListsAreDerivedFromTheCpuDirectories) {
    TempDir root;
    const std::string c = "/sys/devices/system/cpu";
    root.write(c + "/present", "0-2\n");
    root.mkdir(c + "/cpu0");
    root.write(c + "/cpu1/online", "0\n");
    root.write(c + "/cpu2/online", "1\n");
    root.write("/proc/cpuinfo", "processor\t: 0\nmodel name\t: Test\n\nprocessor\t: 2\n");
    auto tree = collect(root.path());
    const hw::Node* cpu = tree->find("cpu");
    EXPECT_EQ(value(cpu, "Topology", "CPUs online"), "2");
    EXPECT_EQ(value(cpu, "Topology", "Online CPU list"), "0,2");
    EXPECT_EQ(find_row(cpu, "Topology", "Online CPU list")->note, "cpu*/online");
    EXPECT_EQ(value(cpu->find("cpu.core.1"), "Core", "Status"), "Offline");
}

TEST(CpuBranch, CachePoliciesAreReadWhereTheArchitectureStatesThem) {
    // x86 describes its caches from the processor, which names no policy: a stray file there
    // is not the kernel's.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"processor\t: 0\nFeatures\t: fp asimd\n", "8-way, WriteBack"},
        {"processor\t: 0\ncpu family\t: 6\nflags\t: fpu\n", "8-way"},
    };
    for (const auto& [cpuinfo, note] : cases) {
        TempDir root;
        const std::string index = "/sys/devices/system/cpu/cpu0/cache/index0";
        root.write("/sys/devices/system/cpu/present", "0\n");
        root.write("/proc/cpuinfo", cpuinfo);
        root.write(index + "/level", "1\n");
        root.write(index + "/type", "Data\n");
        root.write(index + "/size", "32K\n");
        root.write(index + "/ways_of_associativity", "8\n");
        root.write(index + "/write_policy", "WriteBack\n");
        auto tree = collect(root.path());
        const auto* row = find_row(tree->find("cpu.core.0"), "Cache", "L1d");
        ASSERT_NE(row, nullptr) << cpuinfo;
        EXPECT_EQ(row->note, note) << cpuinfo;
    }
}

TEST(CpuBranch, WithoutAFrequencyDriverTheFirstCpuSpeaksForAll) {
    // More CPUs than get children of their own, as on a large virtual machine.
    TempDir root;
    const std::string c = "/sys/devices/system/cpu";
    root.write(c + "/present", "0-99\n");
    root.write(c + "/online", "0-99\n");
    root.mkdir(c + "/cpufreq");
    for (int n = 0; n < 100; ++n)
        root.mkdir(c + "/cpu" + std::to_string(n) + "/topology");
    std::unique_ptr<hw::Node> tree;
    for (const auto& [path, times] :
         testing_support::reads_during([&] { tree = collect(root.path()); }))
        EXPECT_EQ(path.find("scaling_cur_freq"), std::string::npos) << path;
    EXPECT_EQ(value(tree->find("cpu"), "Topology", "CPUs online"), "100");
}
