// The processor parsers on text as kernels write it.
#include "hw/cpu_cache.h"
#include "hw/cpu_list.h"
#include "hw/cpu_topology.h"
#include "hw/cpuinfo_parser.h"
#include "hw/node_meminfo.h"
#include "util.h"

#include <gtest/gtest.h>

using hw::parse_cpu_list;

namespace {

std::vector<int> range(int first, int last) {
    std::vector<int> v;
    for (int n = first; n <= last; ++n)
        v.push_back(n);
    return v;
}

} // namespace

TEST(CpuList, RangesSinglesSpacesAndEmptyParts) {
    EXPECT_EQ(parse_cpu_list("0-3,8,10-11\n"), (std::vector<int>{0, 1, 2, 3, 8, 10, 11}));
    EXPECT_EQ(parse_cpu_list(" 4 , 2-3 ,, 0 "), (std::vector<int>{4, 2, 3, 0}));
    EXPECT_EQ(parse_cpu_list(",,"), std::vector<int>{});
    EXPECT_EQ(parse_cpu_list(""), std::vector<int>{});
    EXPECT_EQ(parse_cpu_list("5-3"), std::vector<int>{});
    // Kernel files of some versions end with a NUL after the newline.
    EXPECT_EQ(parse_cpu_list(std::string("0-1\n\0", 5)), (std::vector<int>{0, 1}));
}

TEST(CpuList, RangesAndWholeTextsAreCapped) {
    EXPECT_EQ(parse_cpu_list("0-99999").size(), 4096u);
    EXPECT_EQ(parse_cpu_list("0-99999").back(), 4095);
    EXPECT_EQ(parse_cpu_list("0-5000,6000").back(), 6000);
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "0-4095,";
    EXPECT_EQ(parse_cpu_list(many).size(), hw::cpu_list_total_limit);
}

TEST(CpuList, MasksAreReadLeastSignificantWordLast) {
    EXPECT_EQ(hw::parse_cpu_mask("ff\n"), range(0, 7));
    EXPECT_EQ(hw::parse_cpu_mask("00000001,00000000,00000003"), (std::vector<int>{0, 1, 64}));
    EXPECT_EQ(hw::parse_cpu_mask("0000,00000000"), std::vector<int>{});
    EXPECT_EQ(hw::parse_cpu_mask("0000ff00,00000000"), range(40, 47));
    EXPECT_EQ(hw::parse_cpu_mask("zz"), std::vector<int>{});
    EXPECT_EQ(hw::parse_cpu_mask("123456789"), std::vector<int>{});
}

TEST(CpuList, FormatsTheKernelSyntax) {
    EXPECT_EQ(hw::format_cpu_list({8, 0, 1, 2, 3, 10, 11, 2}), "0-3,8,10-11");
    EXPECT_EQ(hw::format_cpu_list({5}), "5");
    EXPECT_EQ(hw::format_cpu_list({-1}), "");
    // A run longer than one range may hold is split, so the text reads back whole.
    EXPECT_EQ(hw::format_cpu_list(range(0, 5000)), "0-4095,4096-5000");
    EXPECT_EQ(hw::canonical_cpu_list("0,1,2", "ff"), "0-2");
    EXPECT_EQ(hw::canonical_cpu_list("", "0f,00000000"), "32-35");
    EXPECT_EQ(hw::canonical_cpu_list("", ""), "");
}

TEST(CacheSize, SuffixesAndPlainBytes) {
    EXPECT_EQ(hw::parse_cache_size("32K\n"), 32768u);
    EXPECT_EQ(hw::parse_cache_size("48k"), 49152u);
    EXPECT_EQ(hw::parse_cache_size("1280K"), 1310720u);
    EXPECT_EQ(hw::parse_cache_size("12M"), 12582912u);
    EXPECT_EQ(hw::parse_cache_size("1m"), 1048576u);
    EXPECT_EQ(hw::parse_cache_size("2G"), 2147483648u);
    EXPECT_EQ(hw::parse_cache_size("512"), 512u);
    EXPECT_EQ(hw::parse_cache_size(""), 0u);
    EXPECT_EQ(hw::parse_cache_size("K"), 0u);
    EXPECT_EQ(hw::parse_cache_size("18446744073709551615K"), 0u);
}

namespace {

hw::CacheEntry entry(int level, const char* type, uint64_t size, const char* shared,
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

TEST(CacheTally, EachPhysicalCacheCountsOnce) {
    util::set_number_format(".", ",");
    hw::CacheTally tally;
    // Eight L2 caches of 1 MiB, each shared by two CPUs that both report it.
    for (int cpu = 0; cpu < 16; ++cpu) {
        int first = cpu - cpu % 2;
        std::string list = std::to_string(first) + "-" + std::to_string(first + 1);
        tally.add(cpu, entry(2, "Unified", 1 << 20, list.c_str(), "16", "64"));
        tally.add(cpu, entry(3, "Unified", 16 << 20, "0-15", "16", "64"));
    }
    auto totals = tally.totals();
    ASSERT_EQ(totals.size(), 2u);
    EXPECT_EQ(totals[0].label, "L2");
    EXPECT_EQ(hw::cache_total_text(totals[0]), "8.00 MiB  (8 × 1.00 MiB)");
    EXPECT_EQ(hw::cache_total_note(totals[0]), "16-way, 64 B line");
    EXPECT_EQ(hw::cache_total_text(totals[1]), "16.0 MiB");
}

TEST(CacheTally, SameListsWrittenDifferentlyEmptyListsAndHybridSizes) {
    util::set_number_format(".", ",");
    hw::CacheTally tally;
    tally.add(0, entry(3, "Unified", 8 << 20, "0,1,2,3"));
    tally.add(1, entry(3, "Unified", 8 << 20, "0-3"));
    // Without a shared list a cache is the reading CPU's own.
    tally.add(0, entry(1, "Data", 32 << 10, ""));
    tally.add(1, entry(1, "Data", 32 << 10, ""));
    tally.add(0, entry(2, "Unified", 1310720, "0-1"));
    tally.add(2, entry(2, "Unified", 2 << 20, "2-5"));
    tally.add(0, entry(2, "Instruction", 1 << 20, "0"));
    auto totals = tally.totals();
    ASSERT_EQ(totals.size(), 4u);
    EXPECT_EQ(totals[0].label, "L1d");
    EXPECT_EQ(hw::cache_total_text(totals[0]), "64.0 KiB  (2 × 32.0 KiB)");
    EXPECT_EQ(totals[1].label, "L2");
    EXPECT_EQ(hw::cache_total_text(totals[1]), "3.25 MiB  (1.25 MiB + 2.00 MiB)");
    EXPECT_EQ(totals[2].label, "L2i");
    EXPECT_EQ(hw::cache_total_text(totals[3]), "8.00 MiB");
    EXPECT_EQ(hw::cache_total_note(totals[3]), "");
}

namespace {

// Two processors of an x86 machine as /proc/cpuinfo shows them (abridged flags).
const char* const x86_cpuinfo = "processor\t: 0\n"
                                "vendor_id\t: GenuineIntel\n"
                                "cpu family\t: 6\n"
                                "model\t\t: 186\n"
                                "model name\t: 13th Gen Intel(R) Core(TM) i7-1370P\n"
                                "cpu MHz\t\t: 1900.000\n"
                                "physical id\t: 0\n"
                                "flags\t\t: fpu vme de pse tsc  msr \n"
                                "power management:\n"
                                "\n"
                                "processor\t: 1\n"
                                "vendor_id\t: GenuineIntel\n"
                                "cpu MHz\t\t: 400.000\n"
                                "physical id\t: 0\n"
                                "\n";

} // namespace

TEST(CpuInfo, ParsesPaddedKeysInFileOrder) {
    auto blocks = hw::parse_cpuinfo(x86_cpuinfo);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].get("model name"), "13th Gen Intel(R) Core(TM) i7-1370P");
    EXPECT_EQ(blocks[0].get("model"), "186");
    EXPECT_EQ(blocks[0].get("cpu MHz"), "1900.000");
    EXPECT_TRUE(blocks[0].has("power management"));
    EXPECT_EQ(blocks[0].get("power management"), "");
    EXPECT_EQ(blocks[0].fields.front().first, "processor");
    EXPECT_EQ(blocks[1].get("cpu MHz"), "400.000");
    EXPECT_EQ(hw::cpuinfo_model(blocks), "13th Gen Intel(R) Core(TM) i7-1370P");
    EXPECT_EQ(hw::split_flags(blocks[0].get("flags")),
              (std::vector<std::string>{"de", "fpu", "msr", "pse", "tsc", "vme"}));
}

TEST(CpuInfo, BlockOfACpuIsFoundByNumberNotPosition) {
    // CPU 1 is offline: the second paragraph is CPU 2.
    auto blocks = hw::parse_cpuinfo("processor : 0\ncpu MHz : 1\n\nprocessor : 2\ncpu MHz : 3\n");
    ASSERT_NE(hw::block_for_cpu(blocks, 2), nullptr);
    EXPECT_EQ(hw::block_for_cpu(blocks, 2)->get("cpu MHz"), "3");
    EXPECT_EQ(hw::block_for_cpu(blocks, 1), nullptr);
    EXPECT_EQ(hw::block_for_cpu(blocks, -1), nullptr);
}

TEST(CpuInfo, OldArmKernelsPutTheMachineAfterTheProcessors) {
    const char* text =
        "processor\t: 0\nBogoMIPS\t: 38.40\n\n"
        "processor\t: 1\nBogoMIPS\t: 38.40\n\n"
        "Features\t: half thumb fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt \n"
        "CPU implementer\t: 0x41\nCPU architecture: 7\nCPU part\t: 0xc07\n\n"
        "Hardware\t: BCM2835\nRevision\t: a01041\nSerial\t\t: 0000000000000000\n";
    auto blocks = hw::parse_cpuinfo(text);
    EXPECT_EQ(hw::cpuinfo_model(blocks), "BCM2835");
    EXPECT_EQ(hw::first_field(blocks, "CPU implementer"), "0x41");
    EXPECT_EQ(hw::first_field(blocks, "CPU architecture"), "7");
    EXPECT_EQ(hw::split_flags(hw::first_field(blocks, "Features")).size(), 11u);
    // The processor's own name beats the board's where the kernel writes one.
    auto named =
        hw::parse_cpuinfo(std::string("Processor\t: ARMv7 Processor rev 1 (v7l)\n") + text);
    EXPECT_EQ(hw::cpuinfo_model(named), "ARMv7 Processor rev 1 (v7l)");
}

TEST(CpuInfo, PowerAndS390) {
    auto power = hw::parse_cpuinfo("processor\t: 0\ncpu\t\t: POWER9 (raw), altivec supported\n\n"
                                   "timebase\t: 512000000\nmodel\t\t: 9009-22A\n");
    EXPECT_EQ(hw::cpuinfo_model(power), "POWER9 (raw), altivec supported");
    // s390 writes one line per processor and numbers its paragraphs "cpu number".
    auto s390 =
        hw::parse_cpuinfo("vendor_id       : IBM/S390\n# processors    : 2\n"
                          "processor 0: version = FF,  identification = 0133E8,  machine = 2964\n"
                          "processor 1: version = FF,  identification = 0133E8,  machine = 2964\n\n"
                          "cpu number      : 1\ncpu MHz dynamic : 5000\n");
    ASSERT_EQ(s390.size(), 2u);
    ASSERT_NE(hw::block_for_cpu(s390, 1), nullptr);
    EXPECT_EQ(hw::block_for_cpu(s390, 1)->get("cpu MHz dynamic"), "5000");
    EXPECT_EQ(hw::block_for_cpu(s390, 0), nullptr);
    EXPECT_EQ(hw::cpuinfo_model(s390), "");
}

namespace {

hw::CpuTopology topo(int cpu, const char* package, const char* core, const char* siblings) {
    return {cpu, package, core, siblings};
}

} // namespace

TEST(CpuTopology, CoresAreThreadSiblingSets) {
    // Two dies whose core ids both start at 0: pairs would say 2 cores.
    std::vector<hw::CpuTopology> cpus = {topo(0, "0", "0", "0,4"), topo(1, "0", "1", "1,5"),
                                         topo(2, "0", "0", "2,6"), topo(3, "0", "1", "3,7"),
                                         topo(4, "0", "0", "0,4"), topo(5, "0", "1", "1,5"),
                                         topo(6, "0", "0", "2,6"), topo(7, "0", "1", "3,7")};
    EXPECT_EQ(hw::count_cores(cpus), 4u);
    // A CPU without a sibling file that no set covers is a core of its own.
    cpus.push_back(topo(8, "0", "", ""));
    EXPECT_EQ(hw::count_cores(cpus), 5u);
    // Only without any sibling set do (package, core) pairs count.
    EXPECT_EQ(hw::count_cores({topo(0, "0", "0", ""), topo(1, "0", "0", ""), topo(2, "1", "0", ""),
                               topo(3, "1", "1", "")}),
              3u);
    EXPECT_EQ(hw::count_cores({topo(0, "", "", "")}), 0u);
}

TEST(CpuTopology, SocketsIgnoreUnknownPackages) {
    auto blocks =
        hw::parse_cpuinfo("processor : 0\nphysical id : 0\n\nprocessor : 1\nphysical id : 3\n");
    std::vector<hw::CpuTopology> known = {topo(0, "36", "", ""), topo(1, "8442", "", "")};
    EXPECT_EQ(hw::count_sockets(known, blocks), 2u);
    std::vector<hw::CpuTopology> unknown = {topo(0, "-1", "", ""), topo(1, "-1", "", "")};
    EXPECT_EQ(hw::count_sockets(unknown, blocks), 2u) << "falls back to physical id";
    EXPECT_EQ(hw::count_sockets(unknown, hw::parse_cpuinfo("processor : 0\n")), 0u);
}

TEST(NodeMeminfo, KilobyteLinesOnly) {
    auto rows = hw::parse_node_meminfo("Node 0 MemTotal:       32823456 kB\n"
                                       "Node 0 Active(anon):        96 kB\n"
                                       "Node 0 HugePages_Total:     0\n"
                                       "Node 0 Broken:         12 MB\n"
                                       "garbage\n"
                                       "Node 0 Huge: 99999999999999999999 kB\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].first, "MemTotal");
    EXPECT_EQ(rows[0].second, 32823456ULL * 1024);
    EXPECT_EQ(rows[1].first, "Active(anon)");
    EXPECT_EQ(rows[1].second, 96u * 1024);
}
