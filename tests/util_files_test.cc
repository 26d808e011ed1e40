#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace util;
using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(Readers, ReadTheFixtureTreeThroughTheSysroot) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::test_data("readers"));
    EXPECT_EQ(read_file("/sys/class/net/eth2/mtu"), "1500");
    EXPECT_EQ(read_file_raw("/sys/class/net/eth2/mtu"), "1500\n");
    EXPECT_EQ(read_file("/sys/class/net/lo/mtu"), "65536");
    EXPECT_EQ(read_file("/sys/class/net/missing/mtu"), "");
    EXPECT_EQ(read_file("/sys/class/net/dangling/mtu"), "");
    // Names in natural order, hidden ones included, dangling links listed.
    EXPECT_EQ(list_dir("/sys/class/net"),
              (std::vector<std::string>{".hidden", "dangling", "eth2", "eth10", "lo"}));
    EXPECT_EQ(list_dir("/sys/class/net", "eth"), (std::vector<std::string>{"eth2", "eth10"}));
    EXPECT_TRUE(list_dir("/sys/class/nothing").empty());
    EXPECT_TRUE(list_dir("/sys/class/net/eth2/mtu").empty()); // a file is no directory
}

TEST(Readers, LinksAreReturnedAsWrittenAndResolvedInsideTheSysroot) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::test_data("readers") + "/");
    EXPECT_EQ(read_link_full("/sys/class/net/eth2"),
              "../../devices/pci0000:00/0000:00:1f.6/net/eth2");
    EXPECT_EQ(read_link_base("/sys/class/net/eth2"), "eth2");
    EXPECT_EQ(read_link_full("/sys/class/net/eth2/mtu"), ""); // no link
    EXPECT_EQ(read_link_base("/sys/class/net/nothing"), "");
    EXPECT_TRUE(path_exists("/sys/class/net/dangling"));
    EXPECT_FALSE(is_dir("/sys/class/net/dangling"));
    EXPECT_TRUE(is_dir("/sys/class/net/eth10"));
    EXPECT_FALSE(path_exists("/sys/class/net/eth3"));

    EXPECT_EQ(resolve_path("/sys/class/net/eth2"), "/sys/devices/pci0000:00/0000:00:1f.6/net/eth2");
    EXPECT_EQ(resolve_path("/sys/class/net/eth2/device"), "/sys/devices/pci0000:00/0000:00:1f.6");
    EXPECT_EQ(resolve_path("/sys/class/net/eth2/device/../"), "/sys/devices/pci0000:00");
    // An absolute target starts again at the sysroot, not at the host's root.
    EXPECT_EQ(resolve_path("/sys/class/block/absolute/mtu"), "/sys/devices/virtual/net/lo/mtu");
    EXPECT_EQ(read_file("/sys/class/block/absolute/mtu"), "65536");
    // Missing parts are kept as written; ".." never climbs above the root.
    EXPECT_EQ(resolve_path("/sys/class/net/dangling"), "/sys/devices/virtual/net/gone");
    EXPECT_EQ(resolve_path("/../../sys//class/./net"), "/sys/class/net");
}

TEST(Readers, ResolveSurvivesLinkLoops) {
    TempDir dir;
    dir.symlink("b", "sys/a");
    dir.symlink("a", "sys/b");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    std::string r = resolve_path("/sys/a/x");
    EXPECT_EQ(r.substr(0, 5), "/sys/"); // terminates, stays inside
}

TEST(Readers, ReadLinesKeepsCarriageReturnsAndDropsTheFinalNewline) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::test_data("readers"));
    EXPECT_EQ(read_lines("/proc/lines"), (std::vector<std::string>{"a\r", "b", "", "c"}));
    EXPECT_TRUE(read_lines("/proc/none").empty());
}

TEST(Readers, TrimNulPaddingAndReadLargeFilesWhole) {
    TempDir dir;
    dir.write("sys/pad", std::string("abc\n\0\0\0\0", 8));
    std::string big(200000, 'x');
    dir.write("proc/big", big + "\n");
    dir.write("proc/two", "4096\n");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    EXPECT_EQ(read_file("/sys/pad"), "abc");
    EXPECT_EQ(read_file("/proc/big"), big);
    EXPECT_EQ(read_file("/proc/two"), "4096");
    EXPECT_EQ(read_lines("/proc/two"), std::vector<std::string>{"4096"});
}

TEST(Readers, UnreadableFilesGiveNothing) {
    TempDir dir;
    dir.write("sys/secret", "42\n");
    dir.write("sys/open", "7\n");
    chmod(dir.path().c_str(), 0755);
    chmod((dir.path() + "/sys").c_str(), 0755);
    chmod((dir.path() + "/sys/open").c_str(), 0644);
    chmod((dir.path() + "/sys/secret").c_str(), 0);
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    EXPECT_TRUE(testing_support::as_unprivileged_user([] {
        return path_exists("/sys/secret") && !readable("/sys/secret") &&
               read_file("/sys/secret").empty() && read_lines("/sys/secret").empty() &&
               readable("/sys/open") && read_file("/sys/open") == "7";
    }));
}

TEST(Readers, DirectoriesAndSpecialFilesReadAsEmpty) {
    TempDir dir;
    dir.mkdir("sys/dir");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    EXPECT_EQ(read_file_raw("/sys/dir"), "");
    EXPECT_TRUE(read_lines("/sys/dir").empty());
}

TEST(Readers, WithoutSysrootPathsAreTheHostsOwn) {
    ScopedEnv unset("QUARVEL_SYSROOT", std::nullopt);
    EXPECT_FALSE(over_sysroot());
    EXPECT_EQ(host_path("/proc/cpuinfo"), "/proc/cpuinfo");
    ScopedEnv empty("QUARVEL_SYSROOT", "");
    EXPECT_FALSE(over_sysroot());
    ScopedEnv slash("QUARVEL_SYSROOT", "/");
    EXPECT_FALSE(over_sysroot());
    ScopedEnv set("QUARVEL_SYSROOT", "/captures/box//");
    EXPECT_EQ(host_path("/proc/cpuinfo"), "/captures/box/proc/cpuinfo");
    EXPECT_EQ(host_path("relative"), "relative");
}

// Some capture tools keep each symbolic link as a small file holding the target text.
TEST(Readers, LinksStoredAsFilesAreFollowedOnlyOverASysroot) {
    TempDir dir;
    dir.write("sys/devices/platform/BAT0/power_supply/BAT0/capacity", "81\n");
    dir.write("sys/devices/platform/BAT0/power_supply/BAT0/type", "Battery\n");
    dir.write("sys/devices/platform/BAT0/driver", "../../../bus/platform/drivers/battery");
    dir.mkdir("sys/bus/platform/drivers/battery");
    dir.write("sys/class/power_supply/BAT0", "../../devices/platform/BAT0/power_supply/BAT0\n");
    dir.write("sys/devices/platform/BAT0/power_supply/BAT0/device", "../..");
    dir.write("sys/devices/platform/BAT0/power_supply/BAT0/model", "../ with spaces\n");
    {
        ScopedEnv root("QUARVEL_SYSROOT", dir.path());
        EXPECT_EQ(read_link_full("/sys/class/power_supply/BAT0"),
                  "../../devices/platform/BAT0/power_supply/BAT0");
        EXPECT_TRUE(is_dir("/sys/class/power_supply/BAT0"));
        EXPECT_EQ(list_dir("/sys/class/power_supply/BAT0"),
                  (std::vector<std::string>{"capacity", "device", "model", "type"}));
        EXPECT_EQ(read_file("/sys/class/power_supply/BAT0/capacity"), "81");
        EXPECT_EQ(read_lines("/sys/class/power_supply/BAT0/type"),
                  std::vector<std::string>{"Battery"});
        EXPECT_TRUE(readable("/sys/class/power_supply/BAT0/capacity"));
        EXPECT_TRUE(path_exists("/sys/class/power_supply/BAT0/device"));
        EXPECT_FALSE(path_exists("/sys/class/power_supply/BAT0/missing"));
        EXPECT_EQ(resolve_path("/sys/class/power_supply/BAT0/device"),
                  "/sys/devices/platform/BAT0");
        EXPECT_EQ(read_link_base("/sys/class/power_supply/BAT0/device/driver"), "battery");
        EXPECT_TRUE(is_dir("/sys/class/power_supply/BAT0/device/driver"));
        // Text that is no path stays text.
        EXPECT_EQ(read_file("/sys/class/power_supply/BAT0/model"), "../ with spaces");
        EXPECT_EQ(read_link_full("/sys/class/power_supply/BAT0/model"), "");
        EXPECT_FALSE(is_dir("/sys/class/power_supply/BAT0/capacity"));
    }
    // The live system has real links: a file there is only a file.
    ScopedEnv live("QUARVEL_SYSROOT", std::nullopt);
    std::string cls = dir.path() + "/sys/class/power_supply/BAT0";
    EXPECT_EQ(read_link_full(cls), "");
    EXPECT_FALSE(is_dir(cls));
    EXPECT_EQ(read_file(cls + "/capacity"), "");
    EXPECT_EQ(read_file(cls), "../../devices/platform/BAT0/power_supply/BAT0");
}

TEST(Readers, FileContentsHoldsAtMostTheLimitAndKeepsItsAddressWhenMoved) {
    TempDir dir;
    dir.write("data/ids", "0123456789");
    dir.write("data/empty", "");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    EXPECT_EQ(FileContents("/data/ids", 4).text(), "0123");
    EXPECT_EQ(FileContents("/data/empty", 100).text(), "");
    EXPECT_EQ(FileContents("/data/missing", 100).text(), "");
    EXPECT_EQ(FileContents("/data", 100).text(), ""); // a directory holds no text

    FileContents mapped("/data/ids", 100);
    const char* where = mapped.text().data();
    FileContents moved = std::move(mapped);
    EXPECT_EQ(moved.text(), "0123456789");
    EXPECT_EQ(moved.text().data(), where);
    EXPECT_EQ(mapped.text(), ""); // NOLINT(bugprone-use-after-move): moved-from is empty

    FileContents small(std::string("abc")); // short enough to live inside a std::string
    where = small.text().data();
    FileContents small_moved = std::move(small);
    EXPECT_EQ(small_moved.text(), "abc");
    EXPECT_EQ(small_moved.text().data(), where);

    // An endless device is read up to the limit, not until memory runs out.
    ScopedEnv live("QUARVEL_SYSROOT", std::nullopt);
    EXPECT_EQ(FileContents("/dev/zero", 300000).text(), std::string(300000, '\0'));
}

TEST(Readers, FifosAndEndlessDevicesDoNotHang) {
    TempDir dir;
    dir.mkdir("sys/class");
    ASSERT_EQ(mkfifo((dir.path() + "/sys/class/fifo").c_str(), 0600), 0);
    dir.symlink("/dev/zero", "sys/class/zero");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    EXPECT_EQ(read_file("/sys/class/fifo"), "");
    EXPECT_TRUE(read_lines("/sys/class/fifo").empty());
    EXPECT_TRUE(readable("/sys/class/fifo"));
    // The link re-roots into the capture, where there is no /dev/zero.
    EXPECT_EQ(read_file("/sys/class/zero"), "");
}
