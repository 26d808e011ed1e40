// The operating-system branch: the os-release syntax, the /proc parsers, the sandbox host
// files, and captures that must describe the captured machine, not this one.
#include "hw/hardware.h"
#include "hw/os_parsers.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::value;

namespace {

// Every variable that selects a sandbox is unset, so the host's own do not leak in.
class OsBranch : public ::testing::Test {
protected:
    // The os node collected over the tree written so far (the live system when empty).
    const hw::Node* collect(const std::string& sysroot) {
        m_tree = testing_support::collect(hw::collect_os, sysroot);
        return m_tree->find("os");
    }

    ScopedEnv m_snap{"SNAP", std::nullopt};
    ScopedEnv m_flatpak{"FLATPAK_ID", std::nullopt};
    ScopedEnv m_appdir{"APPDIR", std::nullopt};
    ScopedEnv m_tz{"TZ", "UTC"};
    TempDir m_root;
    std::unique_ptr<hw::Node> m_tree;
};

} // namespace

TEST(OsParsers, OsReleaseQuotingCommentsAndDuplicates) {
    hw::OsRelease os;
    hw::parse_os_release({"# PRETTY_NAME=\"from a comment\"", "  NAME=\"Foo Linux\"  ", "ID='foo'",
                          "ID=bar", "VERSION=\"1 \\\"Quiet\\\" \\$HOME\"", "junk", "=orphan",
                          "VARIANT=\"", "BUILD_ID=unquoted"},
                         os);
    EXPECT_EQ(os.get("PRETTY_NAME"), "");
    EXPECT_EQ(os.get("NAME"), "Foo Linux");
    EXPECT_EQ(os.get("ID"), "foo");
    EXPECT_EQ(os.get("VERSION"), "1 \"Quiet\" $HOME");
    EXPECT_EQ(os.get("VARIANT"), "\"");
    EXPECT_EQ(os.get("BUILD_ID"), "unquoted");
    EXPECT_EQ(os.values.size(), 5u);
}

TEST(OsParsers, ProcFilesRefuseWhatTheyCannotShow) {
    auto odd = hw::parse_loadavg("nan 1e9 -1 2- x");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->loads);
    EXPECT_EQ(odd->tasks + odd->last_pid, "");
    EXPECT_EQ(hw::parse_uptime("inf 1"), std::nullopt);
    EXPECT_EQ(hw::parse_uptime("99999999999999999999999.0 1"), std::nullopt);
    EXPECT_EQ(hw::parse_btime({"btime -5"}), std::nullopt);
    EXPECT_EQ(hw::parse_btime({"btimex 5", "ctxt 1"}), std::nullopt);
}

TEST_F(OsBranch, FactsOfTheFixtureMachines) {
    testing_support::expect_facts(
        hw::collect_os,
        {
            {"desktop-oem-placeholders", "os", "", "summary", "Debian GNU/Linux 12 (bookworm)"},
            {"desktop-oem-placeholders", "os", "Kernel", "Loaded modules", "3"},
            {"desktop-oem-placeholders", "os", "Runtime", "Uptime", "4 d 02:55:12"},
            {"desktop-oem-placeholders", "os", "Runtime", "Load average", "0.52 / 0.61 / 0.58"},
            {"desktop-oem-placeholders", "os", "Runtime", "Tasks (running/total)", "2/1534"},
            {"desktop-oem-placeholders", "os", "Runtime", "Boot time", "2024-02-14 08:40:00"},
            {"desktop-oem-placeholders", "os", "Security", "AppArmor", "Yes"},
            // A capture has no page size or processor count of its own.
            {"desktop-oem-placeholders", "os", "Kernel", "Page size", "<no row>"},
            {"desktop-oem-placeholders", "os", "Runtime", "Processors online", "<no row>"},
            // Inside a Flatpak the host's file wins over the runtime's.
            {"laptop-notebook-flatpak", "os", "", "summary",
             "Fedora Linux 39 (Workstation Edition)"},
            {"laptop-notebook-flatpak", "os", "Distribution", "Build ID", "<no row>"},
            {"laptop-notebook-flatpak", "os", "Session", "Packaging", "Flatpak"},
            {"laptop-notebook-flatpak", "os", "Security", "SELinux", "SELinux: enforcing"},
            // Four fields in /proc/loadavg: none of its rows.
            {"laptop-notebook-flatpak", "os", "Runtime", "Load average", "<no row>"},
            {"laptop-notebook-flatpak", "os", "Runtime", "Last PID", "<no row>"},
            {"laptop-notebook-flatpak", "os", "Kernel", "Loaded modules", "<no row>"},
            {"vm-qemu-seabios", "os", "Distribution", "Based on",
             "debian"}, // from /usr/lib/os-release
            {"vm-qemu-seabios", "os", "Kernel", "Loaded modules", "0"},
            {"vm-qemu-seabios", "os", "Security", "Address randomization (KASLR)", "No"},
            {"vm-virtualbox", "os", "Kernel", "Architecture", "<no row>"},
            {"vm-virtualbox", "os", "Kernel", "Host name", "mint-vm"},
            {"arm-board-devicetree", "os", "Kernel", "Architecture", "aarch64"},
            {"vm-firecracker-capture", "os", "Session", "Packaging", "Docker"},
            // No /proc/cmdline: nothing says whether randomisation is on.
            {"empty-machine", "os", "Security", "Address randomization (KASLR)", "<no row>"},
        });
}

TEST_F(OsBranch, SandboxesPreferTheHostFileAndSayWhenTheyCannot) {
    m_root.write("etc/os-release", "PRETTY_NAME=\"Ubuntu Core 22\"\nID=ubuntu-core\n");
    {
        ScopedEnv snap("SNAP", "/snap/quarvel/12");
        const hw::Node* base = collect(m_root.path());
        EXPECT_EQ(base->summary, "Ubuntu Core 22  (Snap)");
        EXPECT_EQ(value(base, "Distribution", "Note").rfind("These values describe", 0), 0u);
        EXPECT_EQ(value(base, "Session", "Packaging"), "Snap");
        m_root.write("var/lib/snapd/hostfs/etc/os-release", "PRETTY_NAME=\"Fedora Linux 40\"\n");
        const hw::Node* host = collect(m_root.path());
        EXPECT_EQ(host->summary, "Fedora Linux 40");
        EXPECT_EQ(value(host, "Distribution", "Note"), "<no row>");
        EXPECT_EQ(value(host, "Distribution", "ID"), "<no row>");
    }
    m_root.write("etc/os-release", "PRETTY_NAME=\"Freedesktop SDK 23.08\"\n");
    m_root.write("run/host/etc/os-release", "PRETTY_NAME=\"openSUSE Tumbleweed\"\n");
    m_root.write("run/.containerenv", "");
    EXPECT_EQ(collect(m_root.path())->summary, "Freedesktop SDK 23.08");
    EXPECT_EQ(value(collect(m_root.path()), "Session", "Packaging"), "Podman");
    m_root.write(".dockerenv", "");
    EXPECT_EQ(value(collect(m_root.path()), "Session", "Packaging"), "Docker");
    ScopedEnv flatpak("FLATPAK_ID", "org.example.Quarvel");
    EXPECT_EQ(collect(m_root.path())->summary, "openSUSE Tumbleweed");
}

TEST_F(OsBranch, SessionFromTheEnvironmentEvenOverACaptureKernelFromUnameLive) {
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    const hw::Node* captured = collect(testing_support::fixture("empty-machine"));
    EXPECT_EQ(value(captured, "Session", "Desktop"), "GNOME");
    EXPECT_EQ(value(captured, "Session", "Wayland display"), "wayland-0");

    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    const hw::Node* live = collect("");
    EXPECT_EQ(value(live, "Kernel", "Name"), u.sysname);
    EXPECT_EQ(value(live, "Kernel", "Release"), u.release);
    EXPECT_EQ(value(live, "Kernel", "Architecture"), u.machine);
    EXPECT_NE(value(live, "Kernel", "Page size"), "<no row>");
    EXPECT_NE(value(live, "Runtime", "Processors online"), "<no row>");
}
