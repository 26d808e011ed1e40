// The display session: rows made from what the toolkit reports (through a fake provider,
// which also stands in for several monitors), and the real thing end to end, with the report
// run on an Xvfb server. Xvfb has a single RandR output, and GTK only counts monitors that
// have one, so it cannot show two monitors.
#include "hw/display_session.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

std::optional<hw::DisplaySession> two_monitors() {
    hw::DisplaySession s;
    s.backend = "GdkWaylandDisplay";
    s.display_name = "wayland-0";
    hw::SessionMonitor laptop;
    laptop.manufacturer = "BOE";
    laptop.model = "0x0bca";
    laptop.width = 1440;
    laptop.height = 900;
    laptop.work_width = 1440;
    laptop.work_height = 868;
    laptop.refresh_millihz = 59951;
    laptop.scale = 2;
    laptop.width_mm = 302;
    laptop.height_mm = 189;
    laptop.primary = true;
    laptop.subpixel = "Horizontal RGB";
    hw::SessionMonitor left; // nothing known but the geometry
    left.x = -1920;
    left.width = 1920;
    left.height = 1080;
    left.work_x = -1920;
    left.work_width = 1920;
    left.work_height = 1080;
    s.monitors = {laptop, left};
    return s;
}

std::optional<hw::DisplaySession> no_display() {
    return std::nullopt;
}

class DisplaySessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }
    void TearDown() override { hw::set_display_session_provider(nullptr); }

    const hw::Node* session() {
        m_root = std::make_unique<hw::Node>();
        hw::collect_graphics(*m_root);
        return m_root->find("graphics.session");
    }

    std::unique_ptr<hw::Node> m_root;
};

std::vector<std::string> rows_of(const hw::Section& s) {
    std::vector<std::string> out;
    for (const auto& i : s.items)
        out.push_back(i.name + "=" + i.value);
    return out;
}

// An Xvfb server on a free display number, stopped with the object.
class Xvfb {
public:
    explicit Xvfb(const std::vector<std::string>& screen_args) {
        if (access("/usr/bin/Xvfb", X_OK) != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            std::vector<std::string> args = {"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]),
                                             "-nolisten", "tcp"};
            args.insert(args.end(), screen_args.begin(), screen_args.end());
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        // The server writes its display number once it accepts clients.
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty()) m_display = ":" + number;
    }
    ~Xvfb() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

// The lines of the report's display-session node, from its header to the next node.
std::string session_block(const std::string& report) {
    size_t start = report.find("=== Display session");
    if (start == std::string::npos) return {};
    size_t end = report.find("===", report.find('\n', start));
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string report_on(const std::string& display) {
    TempDir config;
    auto env = testing_support::plain_env(config.path());
    if (!display.empty()) env["DISPLAY"] = display;
    auto run = testing_support::run_quarvel({"--report"}, env);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return run.out;
}

} // namespace

TEST_F(DisplaySessionTest, MonitorSectionsFromTheToolkit) {
    ScopedEnv live("QUARVEL_SYSROOT", std::nullopt);
    hw::set_display_session_provider(two_monitors);
    const hw::Node* node = session();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->title, "Display session");
    ASSERT_EQ(node->sections.size(), 3u);
    EXPECT_EQ(rows_of(node->sections[0]),
              (std::vector<std::string>{"Backend=GdkWaylandDisplay", "Display name=wayland-0",
                                        "Monitors=2"}));
    EXPECT_EQ(node->sections[1].title, "Monitor 1 — BOE 0x0bca");
    // 1440 application pixels at scale 2 on 302 mm: 2880 / (302 / 25.4) = 242 dpi.
    EXPECT_EQ(
        rows_of(node->sections[1]),
        (std::vector<std::string>{"Manufacturer=BOE", "Model=0x0bca", "Geometry=1440 × 900  @ 0,0",
                                  "Work area=1440 × 868", "Refresh rate=59.95 Hz", "Scale factor=2",
                                  "Physical size=302 × 189 mm", "Pixel density=242 dpi",
                                  "Primary=Yes", "Subpixel layout=Horizontal RGB"}));
    EXPECT_EQ(node->sections[2].title, "Monitor 2");
    EXPECT_EQ(rows_of(node->sections[2]),
              (std::vector<std::string>{"Geometry=1920 × 1080  @ -1920,0", "Work area=1920 × 1080",
                                        "Scale factor=1", "Primary=No"}));
}

TEST_F(DisplaySessionTest, NoDisplayOrACaptureLeavesTheNodeEmpty) {
    ScopedEnv live("QUARVEL_SYSROOT", std::nullopt);
    hw::set_display_session_provider(no_display);
    const hw::Node* node = session();
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->sections.empty());
    EXPECT_TRUE(node->summary.empty());

    // This host's screens say nothing about a captured machine.
    TempDir capture;
    capture.mkdir("sys/class/drm");
    ScopedEnv sysroot("QUARVEL_SYSROOT", capture.path());
    hw::set_display_session_provider(two_monitors);
    node = session();
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->sections.empty());
}

TEST(DisplaySessionReport, OneScreenUnderXvfb) {
    Xvfb x({"-screen", "0", "1280x1024x24"});
    if (x.display().empty()) GTEST_SKIP() << "Xvfb is not available";
    std::string block = session_block(report_on(x.display()));
    EXPECT_NE(block.find("=== Display session  [Monitors: 1] ==="), std::string::npos) << block;
    EXPECT_NE(block.find("Backend                         GdkX11Display"), std::string::npos)
        << block;
    EXPECT_NE(block.find("Display name                    " + x.display()), std::string::npos)
        << block;
    EXPECT_NE(block.find("Geometry                        1280 × 1024  @ 0,0"), std::string::npos)
        << block;
    EXPECT_EQ(block.find("Monitor 2"), std::string::npos) << block;
}

TEST(DisplaySessionReport, AbsentWithoutADisplay) {
    std::string report = report_on("");
    std::string block = session_block(report);
    ASSERT_FALSE(block.empty()) << report;
    EXPECT_EQ(block.find("Display server"), std::string::npos) << block;
    EXPECT_EQ(block.find("Monitor"), std::string::npos) << block;
}
