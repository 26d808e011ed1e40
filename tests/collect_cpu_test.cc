// The processor branch over the fixture machines and over broken trees: the facts a user
// compares with other tools (sockets, cores, CPUs, caches, clocks, NUMA) and the child layout.
#include "hw/cpu_cache.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class CpuBranch : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }

    // The processor node collected over `sysroot`.
    const hw::Node& collect(const std::string& sysroot) {
        ScopedEnv env("QUARVEL_SYSROOT", sysroot);
        m_root = hw::Node{};
        hw::collect_cpu(m_root);
        const hw::Node* cpu = m_root.find("cpu");
        if (!cpu) throw std::runtime_error("no processor node");
        return *cpu;
    }
    const hw::Node& machine(const std::string& name) {
        return collect(testing_support::fixture(name));
    }

    hw::Node m_root;
};

const hw::Item* row(const hw::Node& node, const std::string& section, const std::string& label) {
    for (const auto& s : node.sections)
        if (s.title == section)
            for (const auto& item : s.items)
                if (item.name == label) return &item;
    return nullptr;
}

// The value of a row, or "<none>" so a missing row reads clearly in a failure.
std::string value(const hw::Node& node, const std::string& section, const std::string& label) {
    const hw::Item* item = row(node, section, label);
    return item ? item->value : "<none>";
}

std::string topo(const hw::Node& cpu, const char* key) {
    return value(cpu, "Topology", tr(key));
}

std::vector<std::string> child_ids(const hw::Node& node) {
    std::vector<std::string> ids;
    for (const auto& c : node.children)
        ids.push_back(c->id);
    return ids;
}

} // namespace

TEST_F(CpuBranch, TwoSocketServerWithSmtAndNuma) {
    const auto& cpu = machine("cpu-x86-2socket-smt-numa");
    EXPECT_EQ(cpu.summary, "Intel(R) Xeon(R) CPU E5-2623 v4 @ 2.60GHz");
    EXPECT_EQ(cpu.icon, "\x1Cpu");
    EXPECT_EQ(topo(cpu, "f.sockets"), "2");
    EXPECT_EQ(topo(cpu, "f.cores_physical"), "8");
    EXPECT_EQ(topo(cpu, "f.threads_logical"), "16");
    EXPECT_EQ(topo(cpu, "f.cpu_list_online"), "0-15");
    EXPECT_EQ(row(cpu, "Topology", tr("f.cpu_list_offline")), nullptr) << "offline holds a newline";
    EXPECT_EQ(value(cpu, "Cache", "L1d"), "256 KiB  (8 × 32.0 KiB)");
    EXPECT_EQ(value(cpu, "Cache", "L2"), "2.00 MiB  (8 × 256 KiB)");
    EXPECT_EQ(value(cpu, "Cache", "L3"), "20.0 MiB  (2 × 10.0 MiB)");
    EXPECT_EQ(row(cpu, "Cache", "L3")->note, "20-way, 64 B line");
    EXPECT_EQ(value(cpu, "Clock", tr("f.freq_current")), "1.20 GHz – 3.20 GHz");
    EXPECT_EQ(value(cpu, "Clock", tr("f.freq_hw_min")), "1.20 GHz");
    EXPECT_EQ(value(cpu, "Clock", tr("f.freq_hw_max")), "3.20 GHz");
    EXPECT_EQ(value(cpu, "Notable features", "Intel VT-x"), "Yes");

    const hw::Node* numa = cpu.find("cpu.numa");
    ASSERT_NE(numa, nullptr);
    EXPECT_EQ(topo(cpu, "f.numa_nodes"), "2");
    EXPECT_EQ(value(*numa, "node0", tr("f.cpu_list")), "0-3,8-11");
    EXPECT_EQ(value(*numa, "node1", tr("f.cpu_list")), "4-7,12-15");
    EXPECT_EQ(value(*numa, "node0", "MemTotal"), "62.9 GiB");
    EXPECT_EQ(row(*numa, "node0", "HugePages_Total"), nullptr);

    const hw::Node* cpu9 = cpu.find("cpu.core.9");
    ASSERT_NE(cpu9, nullptr);
    EXPECT_EQ(value(*cpu9, "Core", tr("f.status")), "Online");
    EXPECT_EQ(value(*cpu9, "Core", tr("f.thread_siblings")), "1,9");
    EXPECT_EQ(value(*cpu9, "Cache", "L3"), "10.0 MiB  (CPU 0-3,8-11)");
    EXPECT_EQ(row(*cpu9, "Cache", "L3")->note, "20-way, 8192 sets, 64 B");
    EXPECT_EQ(value(*cpu9, "Raw /proc/cpuinfo", "processor"), "9");
}

TEST_F(CpuBranch, CoreIdsRestartingPerDieDoNotHideCores) {
    const auto& cpu = machine("cpu-amd-desktop-2ccd");
    EXPECT_EQ(topo(cpu, "f.sockets"), "1");
    EXPECT_EQ(topo(cpu, "f.cores_physical"), "12");
    EXPECT_EQ(topo(cpu, "f.threads_logical"), "24");
    EXPECT_EQ(value(cpu, "Cache", "L3"), "64.0 MiB  (2 × 32.0 MiB)");
    EXPECT_EQ(value(cpu, "Cache", "L2"), "6.00 MiB  (12 × 512 KiB)");
    EXPECT_EQ(value(cpu, "Clock", tr("f.boost")), "Yes");
}

TEST_F(CpuBranch, SixtyFourCpusGetOneChildEach) {
    const auto& cpu = machine("cpu-x86-64cpus");
    EXPECT_EQ(topo(cpu, "f.cores_physical"), "32");
    EXPECT_EQ(value(cpu, "Cache", "L3"), "256 MiB  (8 × 32.0 MiB)");
    auto ids = child_ids(cpu);
    ASSERT_EQ(ids.size(), 65u);
    EXPECT_EQ(ids[0], "cpu.numa");
    for (int n = 0; n < 64; ++n)
        EXPECT_EQ(ids[static_cast<size_t>(n) + 1], "cpu.core." + std::to_string(n));
    EXPECT_EQ(cpu.find("cpu.cores"), nullptr);
}

TEST_F(CpuBranch, SixtyFiveCpusAreMergedIntoOneList) {
    const auto& cpu = machine("cpu-x86-65cpus-vm");
    EXPECT_EQ(topo(cpu, "f.sockets"), "65");
    EXPECT_EQ(value(cpu, "Clock", tr("f.freq_current")), "2.79 GHz");
    EXPECT_EQ(row(cpu, "Clock", tr("f.freq_current"))->note, "cpu MHz");
    EXPECT_EQ(child_ids(cpu), (std::vector<std::string>{"cpu.numa", "cpu.cores"}));
    const hw::Node* cores = cpu.find("cpu.cores");
    EXPECT_EQ(cores->summary, "65 threads");
    ASSERT_EQ(cores->sections.size(), 1u);
    const auto& items = cores->sections[0].items;
    ASSERT_EQ(items.size(), 66u);
    EXPECT_EQ(items[0].name, tr("f.note"));
    EXPECT_EQ(items[0].value, tr("msg.many_cpus"));
    EXPECT_EQ(items[1].name, "CPU 0");
    EXPECT_EQ(items[65].name, "CPU 64");
    EXPECT_EQ(items[65].value, "Package 64");
    // The merged list's totals are the same as the per-CPU path would give.
    EXPECT_EQ(value(cpu, "Cache", "L2"), "260 MiB  (65 × 4.00 MiB)");
}

TEST_F(CpuBranch, OfflineCpusArePresentButNotOnline) {
    const auto& cpu = machine("cpu-x86-offline-cpus");
    EXPECT_EQ(topo(cpu, "f.threads_logical"), "8");
    EXPECT_EQ(topo(cpu, "f.cpus_online"), "5");
    EXPECT_EQ(topo(cpu, "f.cores_physical"), "4");
    EXPECT_EQ(topo(cpu, "f.cpu_list_online"), "0-2,4,7");
    EXPECT_EQ(topo(cpu, "f.cpu_list_offline"), "3,5-6");
    EXPECT_EQ(value(cpu, "Cache", "L1d"), "128 KiB  (4 × 32.0 KiB)");
    EXPECT_EQ(value(cpu, "Cache", "L3"), "8.00 MiB");

    const hw::Node* off = cpu.find("cpu.core.5");
    ASSERT_NE(off, nullptr);
    EXPECT_EQ(value(*off, "Core", tr("f.status")), "Offline");
    ASSERT_EQ(off->sections.size(), 1u) << "no cache and no raw cpuinfo for an offline CPU";
    EXPECT_EQ(off->sections[0].items.size(), 1u);

    // CPU 4 is the fourth paragraph of /proc/cpuinfo, not the fifth.
    const hw::Node* cpu4 = cpu.find("cpu.core.4");
    EXPECT_EQ(value(*cpu4, "Raw /proc/cpuinfo", "processor"), "4");
    EXPECT_EQ(value(*cpu4, "Core", tr("f.freq_current")), "3.91 GHz");
    EXPECT_EQ(row(*cpu4, "Core", tr("f.freq_current"))->note, "/proc/cpuinfo");
}

TEST_F(CpuBranch, ArmBigLittleWithoutModelName) {
    const auto& cpu = machine("cpu-arm-biglittle");
    EXPECT_EQ(cpu.summary, "Pine64 RockPro64 v2.1");
    EXPECT_EQ(value(cpu, "Processor", tr("f.cpu_implementer")), "0x41");
    EXPECT_EQ(value(cpu, "Processor", tr("f.architecture")), "aarch64");
    EXPECT_EQ(topo(cpu, "f.cores_physical"), "6") << "core ids restart per cluster";
    EXPECT_EQ(value(cpu, "Cache", "L1i"),
              "224 KiB  (32.0 KiB + 32.0 KiB + 32.0 KiB + 32.0 KiB + 48.0 KiB + 48.0 KiB)");
    EXPECT_EQ(value(cpu, "Cache", "L2"), "1.50 MiB  (512 KiB + 1.00 MiB)");
    EXPECT_EQ(value(cpu, "Clock", tr("f.freq_current")), "600 MHz – 1.80 GHz");
    EXPECT_EQ(value(cpu, "Notable features", "AES-NI"), "Yes");
    EXPECT_EQ(cpu.find("cpu.numa"), nullptr);
    EXPECT_EQ(value(*cpu.find("cpu.core.4"), "Core", tr("f.capacity")), "1024");
    EXPECT_EQ(value(*cpu.find("cpu.core.4"), "Core", tr("f.cluster_cpus")), "4-5");
}

TEST_F(CpuBranch, VirtualMachinesWithoutCpufreq) {
    const auto& with_mhz = machine("cpu-x86-vm-no-cpufreq");
    EXPECT_EQ(value(with_mhz, "Clock", tr("f.freq_current")), "2.79 GHz");
    EXPECT_EQ(row(with_mhz, "Clock", tr("f.freq_hw_max")), nullptr);
    EXPECT_EQ(value(*with_mhz.find("cpu.core.3"), "Core", tr("f.freq_current")), "2.79 GHz");
    EXPECT_EQ(value(with_mhz, "Notable features", "AVX-512 VNNI"), "Yes");

    const auto& riscv = machine("cpu-riscv-vm-no-mhz");
    EXPECT_EQ(value(riscv, "Clock", tr("f.freq_current")), "not exposed by this system");
    EXPECT_EQ(riscv.summary, "riscv-virtio,qemu");
    EXPECT_EQ(row(riscv, "Cache", "L1d"), nullptr);
    EXPECT_EQ(topo(riscv, "f.cores_physical"), "4");
}

TEST_F(CpuBranch, OldKernelWithMasksOnlyAndUnknownPackages) {
    const auto& cpu = machine("cpu-ppc64-lpar-masks");
    EXPECT_EQ(cpu.summary, "POWER8 (architected), altivec supported");
    EXPECT_EQ(row(cpu, "Topology", tr("f.sockets")), nullptr) << "package id -1 is unknown";
    EXPECT_EQ(topo(cpu, "f.cores_physical"), "2");
    EXPECT_EQ(topo(cpu, "f.threads_logical"), "16");
    EXPECT_EQ(topo(cpu, "f.cpus_online"), "16");
    EXPECT_EQ(value(cpu, "Cache", "L3"), "16.0 MiB  (2 × 8.00 MiB)");
    const hw::Node* numa = cpu.find("cpu.numa");
    ASSERT_NE(numa, nullptr);
    EXPECT_EQ(value(*numa, "node0", tr("f.cpu_list")), "0-15");
    EXPECT_EQ(row(*numa, "node2", tr("f.cpu_list")), nullptr) << "a node without CPUs";
    EXPECT_EQ(value(*numa, "node2", "MemTotal"), "16.0 GiB");
    EXPECT_EQ(value(*cpu.find("cpu.core.3"), "Cache", "L2"), "512 KiB  (CPU 0-7)");
}

TEST_F(CpuBranch, GarbageAndHostileFilesNeverCrash) {
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
    const auto& cpu = collect(root.path());
    EXPECT_EQ(value(cpu, "Processor", tr("f.model")), "Unknown");
    EXPECT_EQ(topo(cpu, "f.threads_logical"), "4,096") << "one range gives at most 4096 CPUs";
    EXPECT_EQ(topo(cpu, "f.cpus_online"), "1") << "garbage counts as CPU 0";
    EXPECT_EQ(row(cpu, "Topology", tr("f.sockets")), nullptr);
    EXPECT_NE(cpu.find("cpu.cores"), nullptr);
    for (const auto& s : cpu.sections)
        for (const auto& item : s.items)
            EXPECT_EQ(util::valid_utf8(item.value), item.value) << item.name;
}

TEST_F(CpuBranch, MissingGlobalListsAreDerivedFromTheCpuDirectories) {
    TempDir root;
    const std::string c = "/sys/devices/system/cpu";
    root.write(c + "/present", "0-2\n");
    root.mkdir(c + "/cpu0");
    root.write(c + "/cpu1/online", "0\n");
    root.write(c + "/cpu2/online", "1\n");
    root.write("/proc/cpuinfo", "processor\t: 0\nmodel name\t: Test\n\nprocessor\t: 2\n");
    const auto& cpu = collect(root.path());
    EXPECT_EQ(topo(cpu, "f.cpus_online"), "2");
    EXPECT_EQ(topo(cpu, "f.cpu_list_online"), "0,2");
    EXPECT_EQ(row(cpu, "Topology", tr("f.cpu_list_online"))->note, "cpu*/online");
    EXPECT_EQ(value(*cpu.find("cpu.core.1"), "Core", tr("f.status")), "Offline");
}

TEST_F(CpuBranch, UnreadableCpuinfoGivesUnknownModel) {
    TempDir root;
    root.write("/proc/cpuinfo", "processor\t: 0\nmodel name\t: Secret\n");
    ::chmod(root.path().c_str(), 0755);
    ::chmod((root.path() + "/proc").c_str(), 0755);
    ::chmod((root.path() + "/proc/cpuinfo").c_str(), 0);
    std::string sysroot = root.path();
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        ScopedEnv env("QUARVEL_SYSROOT", sysroot);
        hw::Node r;
        hw::collect_cpu(r);
        const hw::Node* cpu = r.find("cpu");
        return cpu && cpu->summary == tr("common.unknown");
    }));
}

namespace {

bool same_entry(const hw::CacheEntry& a, const hw::CacheEntry& b) {
    return a.level == b.level && a.type == b.type && a.size_bytes == b.size_bytes &&
           a.shared_list == b.shared_list && a.ways == b.ways && a.line_size == b.line_size &&
           a.sets == b.sets && a.write_policy == b.write_policy;
}

} // namespace

TEST(CacheReader, SharedCachesAreReadOnceAndGiveWhatAFullReadGives) {
    for (const char* machine : {"cpu-x86-2socket-smt-numa", "cpu-arm-biglittle",
                                "cpu-ppc64-lpar-masks", "cpu-x86-offline-cpus"}) {
        ScopedEnv env("QUARVEL_SYSROOT", testing_support::fixture(machine));
        hw::CacheReader reader(hw::CacheReader::Detail::Full);
        size_t index_dirs = 0;
        for (int cpu = 0; cpu < 16; ++cpu) {
            auto fresh = hw::read_caches(cpu);
            auto shared = reader.read(cpu);
            index_dirs += fresh.size();
            ASSERT_EQ(shared.size(), fresh.size()) << machine << " cpu" << cpu;
            for (size_t i = 0; i < fresh.size(); ++i)
                EXPECT_TRUE(same_entry(shared[i], fresh[i]))
                    << machine << " cpu" << cpu << " #" << i;
        }
        EXPECT_LT(reader.entries_read(), index_dirs) << machine;
    }
}
