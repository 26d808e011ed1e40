// The display session: rows made from what the toolkit reports (through a fake provider,
// which also stands in for several monitors), and the real thing end to end, with the report
// run on an Xvfb server. Xvfb has a single RandR output, and GTK only counts monitors that
// have one, so it cannot show two monitors.
#include "hw/display_session.h"
#include "hw/hardware.h"
#include "i18n.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::rows;
using testing_support::TempDir;
using Rows = std::vector<std::string>;

namespace {

std::optional<hw::DisplaySession> two_monitors() {
    hw::SessionMonitor laptop{"BOE", "0x0bca", 0,     0, 1440, 900, 0,    0,
                              1440,  868,      59951, 2, 302,  189, true, "Horizontal RGB"};
    hw::SessionMonitor left; // nothing known but the geometry
    left.x = left.work_x = -1920;
    left.width = left.work_width = 1920;
    left.height = left.work_height = 1080;
    return hw::DisplaySession{"GdkWaylandDisplay", "wayland-0", {laptop, left}};
}

// As the toolkit describes a Wayland output: no monitor is called primary.
std::optional<hw::DisplaySession> no_primary() {
    hw::SessionMonitor output;
    output.width = output.work_width = 1600;
    output.height = output.work_height = 1000;
    return hw::DisplaySession{"GdkWaylandDisplay", "wayland-0", {output}};
}

// The report's display-session node, run with DISPLAY set to `display` (none when empty).
std::string session_of_report(const std::string& display) {
    TempDir config;
    auto env = testing_support::plain_env(config.path());
    if (!display.empty()) env["DISPLAY"] = display;
    auto run = testing_support::run_quarvel({"--report"}, env);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return testing_support::report_node(run.out, "Display session");
}

} // namespace

TEST(DisplaySession, MonitorSectionsFromTheToolkitButNotOverACapture) {
    hw::set_display_session_provider(two_monitors);
    auto live = testing_support::collect(hw::collect_graphics, "");
    TempDir capture;
    capture.mkdir("sys/class/drm");
    auto captured = testing_support::collect(hw::collect_graphics, capture.path());
    hw::set_display_session_provider(nullptr);
    EXPECT_TRUE(captured->find("graphics.session")->sections.empty());

    const hw::Node* node = live->find("graphics.session");
    EXPECT_EQ(node->summary, "Monitors: 2");
    // 1440 application pixels at scale 2 on 302 mm: 2880 / (302 / 25.4) = 242 dpi.
    EXPECT_EQ(rows(node, "Monitor 1 — BOE 0x0bca"),
              (Rows{"Manufacturer=BOE", "Model=0x0bca", "Geometry=1440 × 900  @ 0,0",
                    "Work area=1440 × 868", "Refresh rate=59.95 Hz", "Scale factor=2",
                    "Physical size=302 × 189 mm", "Pixel density=242 dpi", "Primary=Yes",
                    "Subpixel layout=Horizontal RGB"}));
    EXPECT_EQ(rows(node, "Monitor 2"),
              (Rows{"Geometry=1920 × 1080  @ -1920,0", "Work area=1920 × 1080", "Scale factor=1",
                    "Primary=No"}));

    // Where the toolkit knows no primary monitor, no monitor is said not to be one.
    hw::set_display_session_provider(no_primary);
    auto unknown = testing_support::collect(hw::collect_graphics, "");
    hw::set_display_session_provider(nullptr);
    EXPECT_EQ(rows(unknown->find("graphics.session"), "Monitor 1"),
              (Rows{"Geometry=1600 × 1000  @ 0,0", "Work area=1600 × 1000", "Scale factor=1"}));

    // The toolkit names the order in English; the row says it in the user's language.
    hw::set_display_session_provider(two_monitors);
    I18n::instance().set_language("de");
    hw::Node german;
    hw::collect_graphics(german);
    hw::set_display_session_provider(nullptr);
    testing_support::use_english();
    EXPECT_EQ(testing_support::value(german.find("graphics.session"), "", "Subpixel-Anordnung"),
              "RGB horizontal");
}

TEST(DisplaySession, ReportUnderXvfbAndWithoutADisplay) {
    EXPECT_EQ(session_of_report(""), "=== Display session ===\n\n") << "empty without a display";

    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t xvfb = fork();
    if (xvfb == 0) {
        close(fds[0]);
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        std::string fd = std::to_string(fds[1]);
        execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
              "1280x1024x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string display = ":"; // written by the server once it accepts clients
    for (char c; read(fds[0], &c, 1) == 1 && c != '\n';)
        display += c;
    close(fds[0]);
    std::string block = display.size() > 1 ? session_of_report(display) : std::string();
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    ASSERT_GT(display.size(), 1u) << "Xvfb did not start";
    for (const char* line :
         {"=== Display session  [Monitors: 1] ===", "Backend                         GdkX11Display",
          "Geometry                        1280 × 1024  @ 0,0"})
        EXPECT_NE(block.find(line), std::string::npos) << line << "\n" << block;
}

namespace {

// A server that accepts connections (the kernel does, from the backlog) and never says a word:
// the toolkit's own display opening would wait for ever.
struct SilentDisplay {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string name; // empty when no port was free
    SilentDisplay() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int display = 50; server >= 0 && display < 100; ++display) {
            addr.sin_port = htons(static_cast<uint16_t>(6000 + display));
            if (bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                listen(server, 8) == 0) {
                name = "127.0.0.1:" + std::to_string(display);
                break;
            }
        }
    }
    ~SilentDisplay() {
        if (server >= 0) close(server);
    }
};

} // namespace

TEST(DisplaySession, ADisplayThatNeverAnswersHoldsNeitherTheReportNorTheWindow) {
    SilentDisplay silent;
    ASSERT_FALSE(silent.name.empty()) << "no free X display port";
    TempDir config;
    auto env = testing_support::plain_env(config.path());
    env["DISPLAY"] = silent.name;
    auto report = testing_support::run_quarvel({"--report"}, env, 30);
    ASSERT_FALSE(report.timed_out) << "the report hung on the display";
    EXPECT_EQ(report.exit_code, 0) << report.err;
    EXPECT_LT(report.seconds, 10.0);
    EXPECT_EQ(testing_support::report_node(report.out, "Display session"),
              "=== Display session ===\n\n");

    // The window cannot do without the display: it says so and ends.
    auto window = testing_support::run_quarvel({}, env, 40);
    ASSERT_FALSE(window.timed_out) << "the window waited for ever on the display";
    EXPECT_EQ(window.exit_code, 1);
    EXPECT_NE(window.err.find("no display"), std::string::npos) << window.err;
}
