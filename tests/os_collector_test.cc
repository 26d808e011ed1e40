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
    EXPECT_EQ(os.get("ID"), "foo"); // the first of two wins
    EXPECT_EQ(os.get("VERSION"), "1 \"Quiet\" $HOME");
    EXPECT_EQ(os.get("VARIANT"), "\"");
    EXPECT_EQ(os.values.size(), 5u);
}

TEST(OsParsers, ProcFilesRefuseWhatTheyCannotShow) {
    auto odd = hw::parse_loadavg("nan 1e9 -1 2- x");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->loads);
    EXPECT_EQ(odd->tasks + odd->last_pid, "");
    EXPECT_FALSE(hw::parse_loadavg("0.5 1" + std::string(20, '0') + " 0.1 1/2 3")->loads);
    EXPECT_TRUE(hw::parse_loadavg("0.5 9007199254740991.99 0.1 1/2 3")->loads);
    EXPECT_EQ(hw::parse_uptime("99999999999999999999999.0 1"), std::nullopt);
    EXPECT_EQ(hw::parse_btime({"btime -5"}), std::nullopt);
    EXPECT_EQ(hw::parse_btime({"btimex 5", "ctxt 1"}), std::nullopt);
}

TEST_F(OsBranch, FactsOfTheFixtureMachines) {
    const char *oem = "desktop-oem-placeholders", *flatpak = "laptop-notebook-flatpak";
    testing_support::expect_facts(
        hw::collect_os,
        {
            // A capture has no page size or processor count of its own.
            {oem, "os", "Kernel", "Page size", "<no row>"},
            {oem, "os", "Runtime", "Processors online", "<no row>"},
            // Inside a Flatpak the host's file wins over the runtime's.
            {flatpak, "os", "", "summary", "Fedora Linux 39 (Workstation Edition)"},
            {flatpak, "os", "Distribution", "Build ID", "<no row>"},
            // Four fields in /proc/loadavg: none of its rows.
            {flatpak, "os", "Runtime", "Load average", "<no row>"},
            // From /usr/lib/os-release.
            {"vm-qemu-seabios", "os", "Distribution", "Based on", "debian"},
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
        m_root.write("var/lib/snapd/hostfs/etc/os-release", "PRETTY_NAME=\"Fedora Linux 40\"\n");
        const hw::Node* host = collect(m_root.path());
        EXPECT_EQ(host->summary, "Fedora Linux 40");
        EXPECT_EQ(value(host, "Distribution", "ID"), "<no row>"); // nothing of the base mixed in
    }
    m_root.write("etc/os-release", "PRETTY_NAME=\"Freedesktop SDK 23.08\"\n");
    m_root.write("run/host/etc/os-release", "PRETTY_NAME=\"openSUSE Tumbleweed\"\n");
    m_root.write("run/.containerenv", "");
    // Outside a Flatpak a run/host file is no host's: the container's own file counts.
    EXPECT_EQ(collect(m_root.path())->summary, "Freedesktop SDK 23.08");
    EXPECT_EQ(value(collect(m_root.path()), "Session", "Packaging"), "Podman");
    ScopedEnv flatpak("FLATPAK_ID", "org.example.Quarvel");
    EXPECT_EQ(collect(m_root.path())->summary, "openSUSE Tumbleweed");
}

TEST_F(OsBranch, SessionFromTheEnvironmentOnlyLiveKernelFromUnameLive) {
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    ScopedEnv appdir("APPDIR", "/tmp/.mount_quarvel");
    // The analyst's own session is not the captured machine's.
    const hw::Node* captured = collect(testing_support::fixture("empty-machine"));
    EXPECT_EQ(testing_support::rows(captured, "Session"), std::vector<std::string>{});

    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    const hw::Node* live = collect("");
    EXPECT_EQ(value(live, "Session", "Wayland display"), "wayland-0");
    EXPECT_EQ(value(live, "Session", "Packaging"), "AppImage");
    EXPECT_EQ(value(live, "Kernel", "Release"), u.release);
    EXPECT_NE(value(live, "Kernel", "Page size"), "<no row>");
    EXPECT_NE(value(live, "Runtime", "Processors online"), "<no row>");
}

TEST_F(OsBranch, EmptyQuotedValuesGiveNoRowAndNoSummary) {
    m_root.write("etc/os-release", "PRETTY_NAME=\"\"\nID=''\nVERSION_ID=\"12\"\n");
    const hw::Node* os = collect(m_root.path());
    EXPECT_EQ(os->summary, "");
    EXPECT_EQ(testing_support::rows(os, "Distribution"), std::vector<std::string>{"Version ID=12"});
}
