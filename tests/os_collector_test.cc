// The operating-system branch: the os-release syntax, the /proc parsers, the sandbox host
// files, and captures that must describe the captured machine, not this one.
#include "hw/hardware.h"
#include "hw/os_parsers.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/utsname.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class OsBranch : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }

    // Every variable that selects a sandbox is unset, so the host's own do not leak in.
    ScopedEnv m_snap{"SNAP", std::nullopt};
    ScopedEnv m_flatpak{"FLATPAK_ID", std::nullopt};
    ScopedEnv m_appdir{"APPDIR", std::nullopt};
    ScopedEnv m_tz{"TZ", "UTC"};
    TempDir m_root;
};

std::unique_ptr<hw::Node> collect(const std::string& sysroot) {
    ScopedEnv env("QUARVEL_SYSROOT", sysroot);
    auto root = std::make_unique<hw::Node>();
    hw::collect_os(*root);
    return root;
}

std::string value(const hw::Node& root, const std::string& section, const std::string& name) {
    if (const hw::Node* node = root.find("os"))
        for (const auto& s : node->sections)
            if (s.title == section)
                for (const auto& item : s.items)
                    if (item.name == name) return item.value;
    return "<no row>";
}

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
    struct Fact {
        const char* machine;
        const char* section;
        const char* name;
        const char* value;
    } facts[] = {
        {"desktop-oem-placeholders", "", "summary", "Debian GNU/Linux 12 (bookworm)"},
        {"desktop-oem-placeholders", "Kernel", "Loaded modules", "3"},
        {"desktop-oem-placeholders", "Runtime", "Uptime", "4 d 02:55:12"},
        {"desktop-oem-placeholders", "Runtime", "Load average", "0.52 / 0.61 / 0.58"},
        {"desktop-oem-placeholders", "Runtime", "Tasks (running/total)", "2/1534"},
        {"desktop-oem-placeholders", "Runtime", "Boot time", "2024-02-14 08:40:00"},
        {"desktop-oem-placeholders", "Security", "AppArmor", "Yes"},
        // A capture has no page size or processor count of its own.
        {"desktop-oem-placeholders", "Kernel", "Page size", "<no row>"},
        {"desktop-oem-placeholders", "Runtime", "Processors online", "<no row>"},
        // Inside a Flatpak the host's file wins over the runtime's.
        {"laptop-notebook-flatpak", "", "summary", "Fedora Linux 39 (Workstation Edition)"},
        {"laptop-notebook-flatpak", "Distribution", "Build ID", "<no row>"},
        {"laptop-notebook-flatpak", "Session", "Packaging", "Flatpak"},
        {"laptop-notebook-flatpak", "Security", "SELinux", "SELinux: enforcing"},
        // Four fields in /proc/loadavg: none of its rows.
        {"laptop-notebook-flatpak", "Runtime", "Load average", "<no row>"},
        {"laptop-notebook-flatpak", "Runtime", "Last PID", "<no row>"},
        {"laptop-notebook-flatpak", "Kernel", "Loaded modules", "<no row>"},
        {"vm-qemu-seabios", "Distribution", "Based on", "debian"}, // from /usr/lib/os-release
        {"vm-qemu-seabios", "Kernel", "Loaded modules", "0"},
        {"vm-qemu-seabios", "Security", "Address randomization (KASLR)", "No"},
        {"vm-virtualbox", "Kernel", "Architecture", "<no row>"},
        {"vm-virtualbox", "Kernel", "Host name", "mint-vm"},
        {"arm-board-devicetree", "Kernel", "Architecture", "aarch64"},
        {"vm-firecracker-capture", "Session", "Packaging", "Docker"},
        // No /proc/cmdline: nothing says whether randomisation is on.
        {"empty-machine", "Security", "Address randomization (KASLR)", "<no row>"},
    };
    std::map<std::string, std::unique_ptr<hw::Node>> trees;
    for (const auto& f : facts) {
        auto& root = trees[f.machine];
        if (!root) root = collect(testing_support::fixture(f.machine));
        std::string got = std::string(f.name) == "summary" ? root->find("os")->summary
                                                           : value(*root, f.section, f.name);
        EXPECT_EQ(got, f.value) << f.machine << ": " << f.section << " / " << f.name;
    }
}

TEST_F(OsBranch, SnapPrefersTheHostFileAndSaysWhenItCannot) {
    m_root.write("etc/os-release", "PRETTY_NAME=\"Ubuntu Core 22\"\nID=ubuntu-core\n");
    ScopedEnv snap("SNAP", "/snap/quarvel/12");
    auto base = collect(m_root.path());
    EXPECT_EQ(base->find("os")->summary, "Ubuntu Core 22  (Snap)");
    EXPECT_EQ(value(*base, "Distribution", "Note").rfind("These values describe", 0), 0u);
    EXPECT_EQ(value(*base, "Session", "Packaging"), "Snap");

    m_root.write("var/lib/snapd/hostfs/etc/os-release", "PRETTY_NAME=\"Fedora Linux 40\"\n");
    auto host = collect(m_root.path());
    EXPECT_EQ(host->find("os")->summary, "Fedora Linux 40");
    EXPECT_EQ(value(*host, "Distribution", "Note"), "<no row>");
    EXPECT_EQ(value(*host, "Distribution", "ID"), "<no row>");
}

TEST_F(OsBranch, FlatpakIdAndContainerMarkers) {
    m_root.write("etc/os-release", "PRETTY_NAME=\"Freedesktop SDK 23.08\"\n");
    m_root.write("run/host/etc/os-release", "PRETTY_NAME=\"openSUSE Tumbleweed\"\n");
    m_root.write("run/.containerenv", "");
    auto podman = collect(m_root.path());
    EXPECT_EQ(podman->find("os")->summary, "Freedesktop SDK 23.08");
    EXPECT_EQ(value(*podman, "Session", "Packaging"), "Podman");
    m_root.write(".dockerenv", "");
    EXPECT_EQ(value(*collect(m_root.path()), "Session", "Packaging"), "Docker");
    ScopedEnv flatpak("FLATPAK_ID", "org.example.Quarvel");
    EXPECT_EQ(collect(m_root.path())->find("os")->summary, "openSUSE Tumbleweed");
}

TEST_F(OsBranch, SessionComesFromTheEnvironmentEvenOverACapture) {
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    auto root = collect(testing_support::fixture("empty-machine"));
    EXPECT_EQ(value(*root, "Session", "Desktop"), "GNOME");
    EXPECT_EQ(value(*root, "Session", "Wayland display"), "wayland-0");
}

TEST_F(OsBranch, LiveSystemAgreesWithUname) {
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    auto root = collect("");
    EXPECT_EQ(value(*root, "Kernel", "Name"), u.sysname);
    EXPECT_EQ(value(*root, "Kernel", "Release"), u.release);
    EXPECT_EQ(value(*root, "Kernel", "Architecture"), u.machine);
    EXPECT_NE(value(*root, "Kernel", "Page size"), "<no row>");
    EXPECT_NE(value(*root, "Runtime", "Processors online"), "<no row>");
}
