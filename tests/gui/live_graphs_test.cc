// The network and sensor graphs: their cards on image surfaces, and in the window real traffic
// through a veth pair and the channels of a fixture machine, in both themes and directions.
#include "app_inspector.h"
#include "gui/netview.h"
#include "gui/sensorview.h"
#include "gui_support.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using gui_support::Canvas;
using gui_support::description;
using gui_support::process_events;
using gui_support::wait_until;
using I = AppInspector;

namespace {

GtkWidget* area_of(GtkWidget* scroll) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(scroll));
    return GTK_IS_VIEWPORT(child) ? gtk_bin_get_child(GTK_BIN(child)) : child;
}

class LiveGraphs : public gui_support::WindowTest {
protected:
    App& open(const std::string& language = "en") {
        Settings& s = SettingsStore::instance().mutable_get();
        s = Settings{};
        s.language = language, s.theme = "light", s.window_width = 1280, s.window_height = 800;
        return WindowTest::open(hw::collect_all);
    }
};

std::string hex(const Canvas& c, int x, int y) {
    return rgb_to_hex(c.rgb(x, y));
}

} // namespace

TEST_F(LiveGraphs, CardsOnImageSurfacesInBothPalettes) {
    live::NetIface eth;
    eth.name = "enp5s0", eth.speed = "1,000 Mbit/s";
    eth.rx_rate = 90000, eth.tx_rate = 4000, eth.rx_total = 3u << 30, eth.tx_total = 12u << 20;
    for (int s = 0; s < 60; ++s) { // open for a minute, downloading for the last half
        eth.rx_history.push_back(s < 30 ? 2000 : 90000);
        eth.tx_history.push_back(4000);
    }
    live::SensorChannel hot, fan, volt;
    hot.label = "Tctl", hot.chip = "k10temp", hot.crit = 100;
    fan.kind = live::SensorKind::Fan, fan.label = "CPU fan", fan.chip = "nct6798";
    volt.kind = live::SensorKind::Voltage, volt.label = "Vcore", volt.chip = "nct6798";
    for (int s = 0; s < 90; ++s) {
        live::take_reading(hot, std::to_string(80000 + 100 * (s % 20)));
        live::take_reading(fan, std::to_string(900 + 5 * s));
        live::take_reading(volt, "1352");
    }

    for (const Palette& p : {Palette::light(), Palette::dark_()}) {
        const std::string theme = p.dark ? "dark" : "light";
        Canvas net(640, 106);
        netview::draw(net.cr, 640, {eth}, p);
        net.save("net-cards-" + theme + ".png");
        EXPECT_EQ(hex(net, 4, 4), p.background) << theme;
        EXPECT_EQ(hex(net, 300, 14), p.panel) << "inside the card, above its texts";
        // The newest values at the right: the download fills its area green there, and
        // nothing is drawn where the minute before the panel was opened would be.
        const Rgb late = net.rgb(610, 80), early = net.rgb(40, 80);
        EXPECT_GT(late.g - late.b, 0.05) << theme;
        EXPECT_LT(std::abs(early.g - early.b), 0.03) << theme;

        Canvas sensors(600, 184);
        sensorview::draw(sensors.cr, 600, {hot, fan, volt}, p, "");
        sensors.save("sensor-cards-" + theme + ".png");
        // The bottom row of each graph: the hot reading's in the high end of the ramp, the
        // voltage's in the accent colour.
        const Rgb hot_fill = sensors.rgb(30, 10 + 38 + 28),
                  volt_fill = sensors.rgb(30, 96 + 38 + 28);
        EXPECT_GT(hot_fill.r, hot_fill.b + 0.1) << theme;
        EXPECT_GT(volt_fill.b, volt_fill.r) << theme;
    }
}

TEST_F(LiveGraphs, NoSensorsInAConfinedPackageShowTheHint) {
    setenv("SNAP_NAME", "quarvel", 1);
    setenv("QUARVEL_SYSROOT", m_tmp.c_str(), 1);
    SensorGraphs graphs;
    GtkWidget* area = g_object_ref_sink(graphs.build(Palette::light()));
    graphs.start();
    EXPECT_EQ(graphs.needed_height(600), 78);
    EXPECT_EQ(description(area), std::string(tr("msg.no_sensors")) + "\n" +
                                     hw::snap_permission_hint("hardware-observe"));
    gtk_widget_destroy(area);
    EXPECT_FALSE(graphs.running()) << "the timer goes with its area";
    g_object_unref(area);
}

// The channels of a real chip set, started with the node, repainted by a theme change,
// stopped when another node is shown; light and dark, left to right and right to left.
TEST_F(LiveGraphs, SensorCardsOfAFixtureMachineInTheWindow) {
    setenv("QUARVEL_SYSROOT", testing_support::fixture("desktop-amd").c_str(), 1);
    const size_t expected = live::scan_sensors().size();
    ASSERT_GT(expected, 4u);
    for (const char* language : {"en", "ar"}) {
        App& app = open(language);
        ASSERT_TRUE(app.select_node_id("sensors"));
        SensorGraphs& graphs = I::sensors(app);
        GtkWidget* area = area_of(I::sensor_scroll(app));
        EXPECT_TRUE(graphs.running() && gtk_widget_get_visible(I::sensor_scroll(app)));
        EXPECT_FALSE(gtk_widget_get_visible(I::detail_scroll(app)));
        EXPECT_EQ(graphs.channels().size(), expected);
        EXPECT_EQ(description(area).rfind(graphs.channels()[0].label, 0), 0u);
        EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(area)), tr("tree.sensors"));
        gui_support::save_screenshot(I::window(app),
                                     std::string("window-sensors-light-") + language + ".png");

        SettingsStore::instance().mutable_get().theme = "dark";
        app.apply_theme();
        Canvas now(20, 20);
        gtk_widget_draw(area, now.cr);
        EXPECT_EQ(hex(now, 3, 3), Palette::dark_().background) << "repainted";
        EXPECT_TRUE(wait_until([&] { return graphs.channels()[0].history.size() >= 2; }, 2500));
        gui_support::save_screenshot(I::window(app),
                                     std::string("window-sensors-dark-") + language + ".png");

        ASSERT_TRUE(app.select_node_id("cpu"));
        EXPECT_FALSE(graphs.running() || gtk_widget_get_visible(I::sensor_scroll(app)));
    }
}

namespace {

// A veth pair with one end in a network namespace of its own, removed again however the test
// ends. Only root may make one.
struct VethPair {
    std::string ns, host_end, ns_end, peer_address;
    bool ok = false;

    VethPair() {
        const std::string id = std::to_string(getpid() % 100000);
        ns = "quarvel-graphs-" + id, host_end = "qvg" + id + "h", ns_end = "qvg" + id + "n";
        const std::string net = "10.251." + std::to_string(getpid() % 250) + ".";
        peer_address = net + "2";
        ok = true;
        for (const std::string& c :
             {"ip netns add " + ns,
              "ip link add " + host_end + " type veth peer name " + ns_end + " netns " + ns,
              "ip addr add " + net + "1/30 dev " + host_end, "ip link set " + host_end + " up",
              "ip -n " + ns + " addr add " + peer_address + "/30 dev " + ns_end,
              "ip -n " + ns + " link set " + ns_end + " up"})
            ok = ok && run(c);
    }
    ~VethPair() {
        run("ip link del " + host_end);
        run("ip netns del " + ns);
    }
    static bool run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
};

// Sends UDP datagrams to `address` at `bytes_per_second` as the interface counts them (with
// the Ethernet, IP and UDP headers), every 10 ms, until asked to stop.
void send_paced(std::stop_token stop, const std::string& address, double bytes_per_second) {
    constexpr int payload = 1000, frame = payload + 14 + 20 + 8;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET, to.sin_port = htons(9); // discard
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    const char data[payload] = {};
    const auto start = std::chrono::steady_clock::now();
    for (long sent = 0; !stop.stop_requested();
         std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        for (; sent < static_cast<long>(elapsed.count() * bytes_per_second / frame); ++sent)
            sendto(fd, data, payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    close(fd);
}

} // namespace

// The traffic of a known sender shows at its rate, also right after the main loop stalled.
TEST_F(LiveGraphs, VethTrafficShowsAtItsRate) {
    if (geteuid() != 0) GTEST_SKIP() << "making a network namespace needs root";
    if (!VethPair::run("command -v ip")) GTEST_SKIP() << "the ip command is missing";
    VethPair veth;
    if (!veth.ok) GTEST_SKIP() << "this system does not let root make a network namespace";

    App& app = open();
    ASSERT_TRUE(app.select_node_id("network"));
    process_events(100);
    NetGraphs& graphs = I::net(app);
    EXPECT_TRUE(gtk_widget_get_visible(I::net_scroll(app)) &&
                !gtk_widget_get_visible(I::detail_scroll(app)));
    auto find = [&]() -> const live::NetIface* {
        for (const auto& i : graphs.interfaces())
            if (i.name == veth.host_end) return &i;
        return nullptr;
    };
    ASSERT_NE(find(), nullptr) << "the veth end is up";

    const double rate = 400 * 1024;
    std::jthread sender(send_paced, veth.peer_address, rate);
    auto samples = [&] { return find()->tx_history.size(); };
    // The first interval may hold the address resolution; the next ones hold only the sender.
    ASSERT_TRUE(wait_until([&] { return samples() >= 3; }, 5000));
    EXPECT_NEAR(find()->tx_rate, rate, rate * 0.1);
    const std::string said = description(area_of(I::net_scroll(app)));
    EXPECT_NE(said.find(veth.host_end), std::string::npos) << said;
    EXPECT_NE(said.find("TX " + live::rate_text(find()->tx_rate)), std::string::npos) << said;

    // The main loop stalls for two and a half seconds, as under a modal dialog.
    const size_t before = samples();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_TRUE(wait_until([&] { return samples() > before; }, 2500));
    EXPECT_NEAR(find()->tx_rate, rate, rate * 0.1) << "no false burst after a stall";
    gui_support::save_screenshot(I::window(app), "window-network-veth.png");

    ASSERT_TRUE(app.select_node_id("system"));
    EXPECT_FALSE(graphs.running() || gtk_widget_get_visible(I::net_scroll(app)));
}
