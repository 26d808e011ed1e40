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
        bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if ((c < 0x20 && c != '\n') || c == 0x7F || c1)
            return "control character at " + std::to_string(i) + ": " + text.substr(i > 40 ? i - 40 : 0, 80);
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
    m.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Evil\x1b]0;owned\aCPU\nfl\x1b[2Jags\t: fpu\n");
    m.write("proc/meminfo", "MemTotal: 100 kB\nEvil\x1b[2J: 5 kB\n");
    m.write("proc/swaps", "Filename Type Size Used Priority\n/dev/evil\x1b[31m partition 100 0 -2\n");
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
    for (const char* seen : {"Evil]0;ownedCPU", "Evil[5mMouse", "Evil[1mOS", "/dev/evil[31m",
                             "hwmon0\xEF\xBF\xBD"})
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
