// Captures and devices made to hurt: text with terminal controls and broken UTF-8, names of
// directories likewise, tables far beyond any real machine, and damaged copies of every
// fixture machine with links out of the tree, loops, FIFOs and endless files. Whatever they
// hold, the report ends in time, is valid UTF-8 without control characters, and shows no
// byte from outside the capture.
#include "hw/hardware.h"
#include "report.h"
#include "test_support.h"
#include "util.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// Empty when `text` is fit for a terminal; otherwise what is wrong and where.
std::string terminal_fault(const std::string& text) {
    if (util::valid_utf8(text) != text) return "invalid UTF-8";
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        bool c1 =
            c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if ((c < 0x20 && c != '\n') || c == 0x7F || c1)
            return "control character at " + std::to_string(i) + ": " +
                   text.substr(i > 40 ? i - 40 : 0, 80);
    }
    return {};
}

std::string report_over(const std::string& root) {
    testing_support::use_english();
    ScopedEnv sysroot("QUARVEL_SYSROOT", root);
    return report::to_text(*hw::collect_all());
}

} // namespace

TEST(Hostile, TextAndNamesFromOutsideReachNoTerminalUncleaned) {
    TempDir m;
    m.write("proc/cpuinfo",
            "processor\t: 0\nmodel name\t: Evil\x1b]0;owned\aCPU\nfl\x1b[2Jags\t: fpu\n");
    m.write("proc/meminfo", "MemTotal: 100 kB\nEvil\x1b[2J: 5 kB\n");
    m.write("proc/swaps",
            "Filename Type Size Used Priority\n/dev/evil\x1b[31m partition 100 0 -2\n");
    m.write("proc/bus/input/devices",
            "I: Bus=0003 Vendor=0001 Product=0002 Version=0001\nN: Name=\"Evil\x1b[5mMouse\"\n"
            "H: Handlers=mouse0 event0\nB: EV=17\n\n");
    m.write("etc/os-release", "PRETTY_NAME=\"Evil\x1b[1mOS\xc2\x9b\"\n");
    m.write("sys/class/hwmon/hwmon0\xff\x1b/name", "chip\n");
    m.write("sys/class/hwmon/hwmon0\xff\x1b/temp1_input", "40000\n");
    m.write("sys/class/thermal/thermal_zone0\x9b/type", "acpitz\n");
    m.write("sys/class/thermal/thermal_zone0\x9b/temp", "40000\n");
    m.write("sys/block/sd\xff\x07/size", "100\n");
    std::string report = report_over(m.path());
    EXPECT_EQ(terminal_fault(report), "");
    // Cleaned, not dropped: the reader still sees what the machine said.
    for (const char* seen :
         {"Evil]0;ownedCPU", "Evil[5mMouse", "Evil[1mOS", "/dev/evil[31m", "hwmon0\xEF\xBF\xBD"})
        EXPECT_NE(report.find(seen), std::string::npos) << seen;
}

TEST(Hostile, TablesBeyondAnyMachineAreCutAndTheReportSaysWhere) {
    TempDir m;
    std::string swaps = "Filename Type Size Used Priority\n";
    for (int i = 0; i < 20000; ++i)
        swaps += "/swap" + std::to_string(i) + " file 1024 0 -2\n";
    m.write("proc/swaps", swaps);
    m.write("proc/loadavg", "0.50 0.40 0.30 1/100 42 " + std::string(1 << 20, '9') + "\n");
    std::string report = report_over(m.path());
    EXPECT_LT(report.size(), 100000u);
    std::string memory = testing_support::report_node(report, "Memory");
    EXPECT_NE(memory.find("/swap62 "), std::string::npos);
    EXPECT_EQ(memory.find("/swap63 "), std::string::npos);
    EXPECT_NE(memory.find("  Limitations\n    /proc/swaps                     read only in part"),
              std::string::npos)
        << memory;
    std::string os = testing_support::report_node(report, "Operating system");
    EXPECT_NE(os.find("/proc/loadavg"), std::string::npos) << os;
}

namespace {

const char* const marker = "OUTSIDE-THE-CAPTURE-7f3a";

// Seconds one report over a damaged machine may take: the program itself, not the test's
// own writing of the damage. The sanitizers slow the program several times.
#ifdef __SANITIZE_ADDRESS__
constexpr double budget = 40;
#else
constexpr double budget = 15;
#endif

// Damages a copy of a fixture machine: at seeded places, files become random bytes, endless
// (sparse) files, FIFOs, links to /dev/zero, links out of the tree (absolute and climbing),
// loops, or directories; some directories get entries whose names hold control characters
// and broken UTF-8, or links back to their parent; one may get 10,000 entries.
void damage(const std::string& root, const std::string& outside, std::mt19937& rng, bool crowd) {
    std::vector<fs::path> files, dirs;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_symlink()) continue;
        (it->is_directory() ? dirs : files).push_back(it->path());
    }
    std::shuffle(files.begin(), files.end(), rng);
    std::shuffle(dirs.begin(), dirs.end(), rng);
    auto random_bytes = [&] {
        std::string s(rng() % 400, '\0');
        for (char& c : s)
            c = static_cast<char>(rng() % 5 ? rng() % 256 : "\x1b\x9b\n\x07\xff:="[rng() % 7]);
        return s;
    };
    const std::string climb = "../../../../../../../../../../../..";
    for (size_t i = 0; i < files.size() && i < 40; ++i) {
        const fs::path& f = files[i];
        fs::remove(f);
        switch (i % 8) {
        case 0:
            testing_support::TempDir::write_file(f, random_bytes());
            break;
        case 1:
            testing_support::TempDir::write_file(f, "");
            fs::resize_file(f, 1ull << 30); // sparse: endless as far as any reader cares
            break;
        case 2:
            mkfifo(f.c_str(), 0644);
            break;
        case 3:
            fs::create_symlink("/dev/zero", f);
            break;
        case 4:
            fs::create_symlink(outside + "/secret", f);
            break;
        case 5:
            fs::create_symlink(climb + outside, f);
            break;
        case 6:
            fs::create_symlink(f.filename(), f); // a link to itself
            break;
        case 7:
            fs::create_directories(f);
            testing_support::TempDir::write_file(f / "x\x1b[2J\xff", random_bytes());
            break;
        }
    }
    for (size_t i = 0; i < dirs.size() && i < 6; ++i) {
        testing_support::TempDir::write_file(dirs[i] / "evil\x1b]0;x\a\xc3\x28", random_bytes());
        fs::create_symlink("..", dirs[i] / "loop");
        fs::create_symlink(climb + outside, dirs[i] / "escape");
    }
    if (crowd && !dirs.empty())
        for (int i = 0; i < 10000; ++i)
            testing_support::TempDir::write_file(dirs[0] / ("e" + std::to_string(i)), "1\n");
}

class HostileCopy : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(HostileCopy, ReportEndsInTimeCleanAndWithNothingFromOutside) {
    const char* env_seed = std::getenv("QUARVEL_HOSTILE_SEED");
    const unsigned seed = (env_seed ? static_cast<unsigned>(std::atoll(env_seed)) : 20261206u) +
                          static_cast<unsigned>(std::hash<std::string>{}(GetParam()) % 1000);
    TempDir outside, copy, config;
    outside.write("secret", std::string(marker) + "\n");
    outside.write(std::string(marker) + "-dir/" + marker, std::string(marker) + "\n");
    const std::string root = copy.path() + "/machine";
    fs::copy(testing_support::fixture(GetParam()), root,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    std::mt19937 rng(seed);
    // The crowded directory costs a second of writing: one machine in five gets it.
    damage(root, outside.path(), rng, seed % 5 == 0);

    auto run = testing_support::run_quarvel({"--report"},
                                            testing_support::plain_env(config.path(), root), 60);
    ASSERT_FALSE(run.timed_out) << "seed " << seed;
    EXPECT_EQ(run.exit_code, 0) << "seed " << seed << "\n" << run.err;
    EXPECT_LT(run.seconds, 20.0) << "seed " << seed;
    EXPECT_EQ(terminal_fault(run.out), "") << "seed " << seed;
    EXPECT_EQ(run.out.find(marker), std::string::npos) << "seed " << seed;
}

INSTANTIATE_TEST_SUITE_P(Machines, HostileCopy,
                         ::testing::ValuesIn(testing_support::fixture_machines()),
                         testing_support::machine_test_name);

// Every file of a capture is endless (the kind of capture a careless copy of /sys makes with
// device nodes or a broken file system): each read stops at its limit.
TEST(Hostile, ACaptureOfEndlessFilesEndsInTime) {
    TempDir copy, config;
    const std::string root = copy.path() + "/machine";
    fs::copy(testing_support::fixture("laptop-intel"), root,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && !e.is_symlink()) fs::resize_file(e.path(), 1ull << 30);
    auto run = testing_support::run_quarvel({"--report"},
                                            testing_support::plain_env(config.path(), root), 120);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_LT(run.seconds, 30.0);
    EXPECT_LT(run.out.size(), 4u << 20);
    EXPECT_EQ(terminal_fault(run.out), "");
}
