#include "read_beside.h"
#include "test_support.h"
#include "util.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace util;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// Runs `check` plainly, then twice in one collection's scope, where the second time finds
// the directories it reads from kept open.
void plainly_and_in_a_scope(const std::function<void()>& check) {
    check();
    ReadScope scope;
    check();
    check();
}

} // namespace

TEST(Readers, ReadListAndResolveInsideTheSysroot) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::test_data("readers") + "/");
    EXPECT_EQ(read_file_raw("/sys/class/net/eth2/mtu"), "1500\n");
    EXPECT_EQ(read_lines("/proc/lines"), (std::vector<std::string>{"a\r", "b", "", "c"}));
    // Names in natural order, hidden ones included, dangling links listed; in a collection's
    // scope from the listing it keeps of the directory.
    plainly_and_in_a_scope([] {
        EXPECT_EQ(list_dir("/sys/class/net"),
                  (std::vector<std::string>{".hidden", "dangling", "eth2", "eth10", "lo"}));
        EXPECT_EQ(list_dir("/sys/class/net", "eth"), (std::vector<std::string>{"eth2", "eth10"}));
        EXPECT_EQ(list_dir("/sys/class/none"), std::vector<std::string>{});
        EXPECT_EQ(count_dir("/sys/class/net"), 5u);
        EXPECT_EQ(count_dir("/sys/class/net", "eth"), 2u);
        EXPECT_EQ(count_dir("/sys/class/none"), 0u);
    });
    EXPECT_EQ(read_link_base("/sys/class/net/eth2"), "eth2");
    EXPECT_TRUE(path_exists("/sys/class/net/dangling"));
    EXPECT_FALSE(is_dir("/sys/class/net/dangling"));

    EXPECT_EQ(resolve_path("/sys/class/net/eth2/device/../"), "/sys/devices/pci0000:00");
    // An absolute target starts again at the sysroot, not at the host's root.
    EXPECT_EQ(resolve_path("/sys/class/block/absolute/mtu"), "/sys/devices/virtual/net/lo/mtu");
    EXPECT_EQ(read_file("/sys/class/block/absolute/mtu"), "65536");
    // Missing parts are kept as written; ".." never climbs above the root.
    EXPECT_EQ(resolve_path("/sys/class/net/dangling"), "/sys/devices/virtual/net/gone");
    EXPECT_EQ(resolve_path("/../../sys//class/./net"), "/sys/class/net");
}

TEST(Readers, AForkedChildReadsInsideTheSysrootItself) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::test_data("readers"));
    ASSERT_EQ(read_file_raw("/sys/class/net/eth2/mtu"), "1500\n");
    pid_t pid = fork();
    if (pid == 0) _exit(read_file_raw("/sys/class/net/eth2/mtu") == "1500\n" ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
}

TEST(Readers, WithoutSysrootPathsAreTheHostsOwn) {
    ScopedEnv unset("QUARVEL_SYSROOT", std::nullopt);
    EXPECT_EQ(sysroot(), "");
    ScopedEnv slash("QUARVEL_SYSROOT", "/");
    EXPECT_FALSE(over_sysroot());
    ScopedEnv set("QUARVEL_SYSROOT", "/captures/box//");
    EXPECT_EQ(sysroot(), "/captures/box");
}

TEST(Readers, OddFilesNeitherHangNorFault) {
    TempDir dir;
    dir.write("sys/pad", std::string("abc\n\0\0\0\0", 8));
    dir.mkdir("sys/dir");
    ASSERT_EQ(mkfifo((dir.path() + "/sys/fifo").c_str(), 0600), 0);
    dir.symlink("/dev/zero", "sys/zero");
    dir.symlink("b", "sys/a");
    dir.symlink("a", "sys/b");
    // An unpacked capture may hold device nodes; opening some devices acts, so none is opened.
    bool made_device =
        ::mknod((dir.path() + "/sys/device").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;
    // Opening a FIFO for reading, even for an instant, lets a writer waiting on it go on.
    const std::string fifo = dir.path() + "/sys/fifo";
    std::atomic<bool> fifo_opened{false};
    std::thread writer([&] {
        int fd = ::open(fifo.c_str(), O_WRONLY);
        fifo_opened = true;
        if (fd >= 0) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    // A directory others may write to is opened from in two steps, one only its owner may
    // change with a look and an open.
    for (mode_t mode : {0777, 0755}) {
        ASSERT_EQ(::chmod((dir.path() + "/sys").c_str(), mode), 0);
        plainly_and_in_a_scope([&] {
            EXPECT_EQ(read_file("/sys/pad"), "abc");
            EXPECT_EQ(read_file_raw("/sys/dir"), "");
            EXPECT_EQ(read_file("/sys/fifo"), "");
            EXPECT_TRUE(read_lines("/sys/fifo").empty());
            // The link re-roots into the capture, where there is no /dev/zero.
            EXPECT_EQ(read_file_raw("/sys/zero"), "");
            EXPECT_EQ(resolve_path("/sys/a/x").substr(0, 5), "/sys/"); // a loop ends, inside
            if (made_device) {
                EXPECT_EQ(read_file_raw("/sys/device").size(), 0u);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(fifo_opened);
    int release = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    writer.join();
    if (release >= 0) ::close(release);
}

// Within one collection, a capture's listing made higher up answers for what lies below it:
// a capture without /usr is not asked for each file that could be there.
TEST(Readers, AListingAboveAnswersForMissingDirectoriesBelowIt) {
    TempDir dir;
    dir.write("README", "x");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    ReadScope scope;
    EXPECT_EQ(read_file("/README"), "x"); // lists the capture's top
    dir.write("usr/share/ids/pci.ids", "x");
    EXPECT_EQ(read_file("/usr/share/ids/pci.ids"), "");
    EXPECT_FALSE(is_dir("/usr/share/ids"));
}

// A directory found missing while reading from it answers the looks that follow; a link that
// leads nowhere is still there to be seen, and a file is no missing directory.
TEST(Readers, ADirectoryFoundMissingAnswersLaterLooks) {
    TempDir dir;
    dir.write("sys/cpu/file", "x");
    dir.symlink("nowhere", "sys/cpu/dangling");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    plainly_and_in_a_scope([&] {
        for (const char* name : {"cpufreq", "dangling", "file"}) {
            SCOPED_TRACE(name);
            const std::string path = std::string("/sys/cpu/") + name;
            EXPECT_EQ(read_file(path + "/scaling_cur_freq"), "");
            EXPECT_FALSE(is_dir(path));
            EXPECT_EQ(path_exists(path), name != std::string("cpufreq"));
        }
        EXPECT_EQ(read_file("/sys/cpu/file"), "x");
    });
}

TEST(Readers, EachReadTakesAtMostWhatItsKindOfFileCanHold) {
    TempDir dir;
    const std::string big(attribute_limit + 1, 'x');
    dir.write("proc/big", big);
    dir.write("proc/fits", big.substr(1));
    dir.write("proc/rows", "a\nb\nc\n");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    take_cut_reads();
    EXPECT_EQ(read_file("/proc/fits").size(), attribute_limit);
    EXPECT_EQ(read_lines("/proc/rows", 3).size(), 3u);
    EXPECT_TRUE(take_cut_reads().empty()); // exactly full is not cut
    EXPECT_EQ(read_text("/proc/big").size(), attribute_limit);
    EXPECT_EQ(read_file_raw("/proc/big").size(), big.size()); // a table may be longer
    EXPECT_EQ(read_lines("/proc/rows", 2), (std::vector<std::string>{"a", "b"}));
    size_t total = 0;
    EXPECT_EQ(take_cut_reads(&total), (std::vector<std::string>{"/proc/big", "/proc/rows"}));
    EXPECT_EQ(total, 2u);

    // The live system's endless devices are bounded too.
    ScopedEnv live("QUARVEL_SYSROOT", std::nullopt);
    EXPECT_EQ(read_file_raw("/dev/zero").size(), table_limit);
    EXPECT_EQ(take_cut_reads(), (std::vector<std::string>{"/dev/zero"}));
}

TEST(Readers, WorkReadBesideSharesTheCollectionsFilesAndHandsBackCutsAndFailures) {
    TempDir dir;
    dir.write("proc/shared", "first");
    dir.write("proc/big", std::string(attribute_limit + 1, 'x'));
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    take_cut_reads();
    ReadScope collection;
    ReadBeside beside([] {
        EXPECT_EQ(read_text_shared("/proc/shared"), "first");
        read_text("/proc/big");
    });
    beside.wait();
    // Read once for the collection: what the other thread read stands, whatever the file
    // holds now.
    dir.write("proc/shared", "second");
    EXPECT_EQ(read_text_shared("/proc/shared"), "first");
    EXPECT_EQ(take_cut_reads(), (std::vector<std::string>{"/proc/big"}));

    ReadBeside failing([] { throw std::runtime_error("unreadable"); });
    EXPECT_THROW(failing.wait(), std::runtime_error);
}

// A capture is another machine's: no link, "..", or listing may show a byte of this one.
class ReadersInsideTheSysroot : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { set_resolve_without_openat2(GetParam()); }
    void TearDown() override { set_resolve_without_openat2(false); }
};

TEST_P(ReadersInsideTheSysroot, LinksAndDotDotNeverLeaveIt) {
    TempDir outside, dir;
    outside.write("secret", "MARKER\n");
    outside.write("sub/inner", "MARKER\n");
    const std::string up = "../../../../../../../../../..";
    dir.write("etc/secret", "captured\n");
    dir.symlink(outside.path() + "/secret", "proc/absolute");
    dir.symlink(up + outside.path() + "/secret", "proc/relative");
    dir.symlink(up + outside.path(), "sys/dirlink");
    dir.symlink("../sys/dirlink/sub", "proc/chain");
    dir.symlink("/", "sys/root");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    plainly_and_in_a_scope([&] {
        for (const std::string& path : std::vector<std::string>{
                 "/proc/absolute", "/proc/relative", "/sys/dirlink/secret", "/proc/chain/inner",
                 "/../../../../../.." + outside.path() + "/secret"}) {
            EXPECT_EQ(read_file_raw(path), "") << path;
            EXPECT_TRUE(read_lines(path).empty()) << path;
            EXPECT_FALSE(readable(path)) << path;
        }
        EXPECT_FALSE(path_exists("/sys/dirlink/secret"));
        EXPECT_TRUE(list_dir("/sys/dirlink").empty());
        EXPECT_FALSE(is_dir("/proc/chain"));
        EXPECT_EQ(read_link_full("/proc/absolute"), outside.path() + "/secret"); // only its text
        // Inside, the same kinds of path work.
        EXPECT_EQ(read_file("/sys/root/etc/secret"), "captured");
        EXPECT_EQ(read_file("/sys/../../etc/secret"), "captured");
        EXPECT_EQ(list_dir("/sys/root/etc"), (std::vector<std::string>{"secret"}));
        EXPECT_TRUE(is_dir("/sys/root"));
        EXPECT_TRUE(path_exists("/proc/absolute")); // the dangling link itself
        EXPECT_EQ(resolve_path("/sys/root/etc/secret"), "/etc/secret");
    });
}

// A sysroot named through a link still gives the machine's own paths.
TEST_P(ReadersInsideTheSysroot, ASysrootNamedThroughALinkResolvesToTheMachinesPaths) {
    TempDir dir, names;
    const std::string ata = "/sys/devices/pci0000:00/0000:00:1f.2/ata1";
    dir.mkdir(ata.substr(1));
    dir.mkdir("sys/block");
    dir.symlink("../devices/pci0000:00/0000:00:1f.2/ata1", "sys/block/sda");
    names.symlink(dir.path(), "capture");
    ScopedEnv root("QUARVEL_SYSROOT", names.path() + "/capture");
    plainly_and_in_a_scope([&] {
        EXPECT_EQ(resolve_path("/sys/block/sda"), ata);
        EXPECT_EQ(resolve_path("/sys/block/sda/../.."), "/sys/devices/pci0000:00");
        EXPECT_EQ(resolve_path("/sys/.."), "/");
    });
}

// The kernel gives up resolving a ".." when anything on the system is renamed meanwhile
// (EAGAIN), which made a device link's files vanish now and then from a capture's report.
TEST(Readers, RenamesElsewhereNeverHideAFileBehindDotDot) {
    TempDir dir, busy;
    dir.write("sys/devices/disk/size", "42\n");
    dir.symlink("../devices/disk", "sys/block/disk");
    busy.write("a", "");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    std::atomic<bool> done{false};
    std::thread renamer([&] {
        const std::string a = busy.path() + "/a", b = busy.path() + "/b";
        while (!done) {
            ::rename(a.c_str(), b.c_str());
            ::rename(b.c_str(), a.c_str());
        }
    });
    int missed = 0;
    for (int i = 0; i < 20000; ++i)
        missed += read_file("/sys/block/disk/size") != "42";
    done = true;
    renamer.join();
    EXPECT_EQ(missed, 0);
}

INSTANTIATE_TEST_SUITE_P(KernelAndOwnResolution, ReadersInsideTheSysroot, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "walk" : "openat2"; });

TEST(Readers, UnreadableFilesGiveNothing) {
    TempDir dir;
    dir.write("sys/secret", "42\n");
    dir.write("sys/open", "7\n");
    testing_support::open_up(dir.path(), {"sys/secret"});
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    EXPECT_TRUE(testing_support::as_unprivileged_user([] {
        return path_exists("/sys/secret") && !readable("/sys/secret") &&
               read_file("/sys/secret").empty() && read_lines("/sys/secret").empty() &&
               readable("/sys/open") && read_file("/sys/open") == "7";
    }));
}

// Some capture tools keep each symbolic link as a small file holding the target text.
TEST(Readers, LinksStoredAsFilesAreFollowedOnlyOverASysroot) {
    TempDir dir;
    const std::string bat = "sys/devices/platform/BAT0/power_supply/BAT0/";
    dir.write(bat + "capacity", "81\n");
    dir.write(bat + "device", "../..");
    dir.write(bat + "model", "../ with spaces\n");
    dir.write("sys/devices/platform/BAT0/driver", "../../../bus/platform/drivers/battery");
    dir.mkdir("sys/bus/platform/drivers/battery");
    dir.write("sys/class/power_supply/BAT0", "../../devices/platform/BAT0/power_supply/BAT0\n");
    const std::string cls = "/sys/class/power_supply/BAT0";
    {
        ScopedEnv root("QUARVEL_SYSROOT", dir.path());
        plainly_and_in_a_scope([&] {
            EXPECT_EQ(read_link_full(cls), "../../devices/platform/BAT0/power_supply/BAT0");
            EXPECT_TRUE(is_dir(cls));
            EXPECT_EQ(list_dir(cls), (std::vector<std::string>{"capacity", "device", "model"}));
            EXPECT_EQ(read_file(cls + "/capacity"), "81");
            EXPECT_EQ(resolve_path(cls + "/device"), "/sys/devices/platform/BAT0");
            EXPECT_EQ(read_link_base(cls + "/device/driver"), "battery");
            // Text that is no path stays text.
            EXPECT_EQ(read_file(cls + "/model"), "../ with spaces");
            EXPECT_EQ(read_link_full(cls + "/model"), "");
        });
    }
    // The live system has real links: a file there is only a file.
    ScopedEnv live("QUARVEL_SYSROOT", std::nullopt);
    EXPECT_EQ(read_link_full(dir.path() + cls), "");
    EXPECT_EQ(read_file(dir.path() + cls + "/capacity"), "");
}

TEST(Readers, FileContentsHoldsAtMostTheLimitAndKeepsItsAddressWhenMoved) {
    // Small files are read into a string, large ones into memory of their own.
    for (size_t size : {size_t(10), size_t(300) << 10}) {
        SCOPED_TRACE(size);
        std::string bytes(size, 'x');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = char('0' + i % 10);
        TempDir dir;
        dir.write("data/ids", bytes);
        dir.write("data/link", "../data/ids"); // a link kept as a small file by a capture tool
        ScopedEnv root("QUARVEL_SYSROOT", dir.path());
        EXPECT_EQ(FileContents("/data/ids", 4).text(), "0123");
        EXPECT_EQ(FileContents("/data/ids", size - 1).text(), bytes.substr(0, size - 1));
        EXPECT_EQ(FileContents("/data/link", size).text(), bytes);
        EXPECT_EQ(FileContents("/data", 100).text(), ""); // a directory holds no text

        FileContents held("/data/ids", size);
        const char* where = held.text().data();
        // Held in memory, not mapped: a file cut short later must not take the text with it.
        ASSERT_EQ(::truncate((dir.path() + "/data/ids").c_str(), 0), 0);
        FileContents moved = std::move(held);
        EXPECT_EQ(moved.text(), bytes);
        EXPECT_EQ(moved.text().data(), where);
    }
    FileContents small(std::string("abc")); // short enough to live inside a std::string
    const char* where = small.text().data();
    FileContents small_moved = std::move(small);
    EXPECT_EQ(small_moved.text().data(), where);
}

// The user's own files (a saved report, the settings) are replaced whole or not at all.
TEST(ReplaceFile, FollowsLinksKeepsTheModeAndKeepsTheOldFileOnFailure) {
    TempDir dir;
    const std::string target = dir.path() + "/report.txt";
    dir.write("report.txt", "old");
    chmod(target.c_str(), 0640);
    dir.symlink("report.txt", "link.txt");
    ASSERT_TRUE(replace_file(dir.path() + "/link.txt", "new"));
    struct stat st {};
    EXPECT_TRUE(lstat((dir.path() + "/link.txt").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(stat(target.c_str(), &st) == 0 && (st.st_mode & 0777) == 0640);
    EXPECT_EQ(testing_support::read_whole_file(target), "new");
    // A link to a file not yet there makes the file and stays a link.
    dir.symlink("made.txt", "ahead.txt");
    ASSERT_TRUE(replace_file(dir.path() + "/ahead.txt", "made"));
    EXPECT_TRUE(lstat((dir.path() + "/ahead.txt").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(testing_support::read_whole_file(dir.path() + "/made.txt"), "made");
    ASSERT_EQ(unlink((dir.path() + "/ahead.txt").c_str()), 0);
    ASSERT_EQ(unlink((dir.path() + "/made.txt").c_str()), 0);

    // A folder the user may not write to: the old file stays, nothing is left behind.
    testing_support::open_up(dir.path());
    chmod(dir.path().c_str(), 0555);
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] { return !replace_file(target, "x"); }));
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(testing_support::read_whole_file(target), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

    // A file its owner made read-only is kept, as the shell's ">" keeps it.
    const std::string kept = dir.path() + "/kept.txt";
    chmod(dir.path().c_str(), 0777);
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        return replace_file(kept, "old", 0444) && !replace_file(kept, "new") && errno == EACCES &&
               testing_support::read_whole_file(kept) == "old";
    }));
}

// A named pipe in a file's place is written in place. The command line waits for its reader
// (a shell's process substitution opens it later); the window must not hang on it.
TEST(ReplaceFile, APipeWithoutReaderFailsAtOnceUnlessWaitingIsWanted) {
    TempDir dir;
    const std::string fifo = dir.path() + "/settings.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    errno = 0;
    EXPECT_FALSE(replace_file(fifo, "x", 0600, /*wait_for_reader=*/false));
    EXPECT_EQ(errno, EPIPE);

    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(replace_file(fifo, "read", 0600, /*wait_for_reader=*/false));
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 4);
    ::close(reader);
    struct stat st {};
    EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << "never replaced";
}
