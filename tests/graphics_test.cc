// The graphics branch: connectors with the monitor section decoded from EDID, and the
// devices of the fixture machines (names need the machine's identifier file, so those are
// checked on the report of a separate run).
#include "edid_block.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::Block;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class GraphicsTest : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }

    const hw::Node& collect(const TempDir& dir) {
        ScopedEnv sysroot("QUARVEL_SYSROOT", dir.path());
        m_root = std::make_unique<hw::Node>();
        hw::collect_graphics(*m_root);
        const hw::Node* node = m_root->find("graphics");
        if (!node) throw std::runtime_error("no graphics node");
        return *node;
    }

    std::unique_ptr<hw::Node> m_root;
};

// A connector as the kernel lays it out under its card.
void connector(const TempDir& t, const std::string& name, const std::string& status,
               const std::string& edid, const std::string& modes = "") {
    std::string card = name.substr(0, name.find('-'));
    std::string dir = "sys/devices/pci0000:00/0000:00:02.0/drm/" + card + "/" + name;
    t.symlink("../../devices/pci0000:00/0000:00:02.0/drm/" + card + "/" + name,
              "sys/class/drm/" + name);
    t.write(dir + "/status", status + "\n");
    t.write(dir + "/enabled", status == "connected" ? "enabled\n" : "disabled\n");
    t.write(dir + "/dpms", "On\n");
    t.write(dir + "/edid", edid);
    t.write(dir + "/modes", modes);
}

const hw::Section* section(const hw::Node& node, const std::string& title) {
    for (const auto& s : node.sections)
        if (s.title == title) return &s;
    return nullptr;
}

std::vector<std::string> rows_of(const hw::Section* s) {
    std::vector<std::string> out;
    if (!s) return out;
    for (const auto& i : s->items)
        out.push_back(i.name + "=" + i.value + (i.note.empty() ? "" : " (" + i.note + ")"));
    return out;
}

std::string report_of(const std::string& machine) {
    TempDir config;
    auto run = testing_support::run_quarvel(
        {"--report"}, testing_support::plain_env(config.path(), testing_support::fixture(machine)));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return run.out;
}

// The block of the report from the node header starting with `title` to the next node.
std::string node_block(const std::string& report, const std::string& title) {
    size_t start = report.find("=== " + title);
    if (start == std::string::npos) return {};
    size_t end = report.find("===", report.find('\n', start));
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool has_row(const std::string& block, const std::string& name, const std::string& value) {
    std::string label = name + std::string(name.size() < 30 ? 30 - name.size() : 0, ' ');
    return block.find(label + "  " + value + "\n") != std::string::npos ||
           block.find(label + "  " + value + "   (") != std::string::npos;
}

} // namespace

TEST_F(GraphicsTest, MonitorSectionFromEdid) {
    TempDir t;
    Block b;
    b.set(12, 0x55).set(13, 0x46).set(14, 0x4E).set(15, 0x30);
    b.timing(0, 14850, 1920, 280, 1080, 45);
    b.text(1, 0xFF, "7MT0183E0N2U\n");
    b.text(2, 0xFC, "DELL U2415\n");
    connector(t, "card0-HDMI-A-1", "connected", b.bytes(), "1920x1080\n1680x1050\n  1280x1024 \n");

    const hw::Node& graphics = collect(t);
    const hw::Node* node = graphics.find("drm.card0-HDMI-A-1");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->title, "card0-HDMI-A-1  DELL U2415");
    EXPECT_EQ(node->summary, "1920 × 1080");
    EXPECT_EQ(rows_of(section(*node, "Connector")),
              (std::vector<std::string>{"Name=card0-HDMI-A-1", "Status=Connected (status)",
                                        "Enabled=enabled (enabled)", "DPMS=On (dpms)",
                                        "Connector type=HDMI-A-1"}));
    EXPECT_EQ(rows_of(section(*node, "Monitor")),
              (std::vector<std::string>{
                  "Name=DELL U2415", "Manufacturer=DEL (EDID PNP-ID)", "Product code=0xa0b9",
                  "Serial number=810,436,181", "Serial number (text)=7MT0183E0N2U",
                  "Manufactured=week 11, 2019", "EDID version=1.4", "Input signal=Digital",
                  "Screen size=53 × 30 cm  (24.0\")", "Pixel density=92 dpi", "Gamma=2.20",
                  "Preferred mode=1920 × 1080 @ 60.0 Hz", "EDID size=128 B"}));
    EXPECT_EQ(
        rows_of(section(*node, "Supported modes")),
        (std::vector<std::string>{"Count=3", "Modes=1920x1080  1680x1050  1280x1024 (modes)"}));
    // Sections in the order connector, monitor, modes.
    ASSERT_EQ(node->sections.size(), 3u);
    EXPECT_EQ(node->sections[1].title, "Monitor");

    const hw::Node* displays = graphics.find("drm.connectors");
    ASSERT_NE(displays, nullptr);
    EXPECT_EQ(displays->summary, "1 connected");
}

TEST_F(GraphicsTest, AnalogMonitorWithAspectRatioAndModelYear) {
    TempDir t;
    Block b;
    b.set(20, 0x0E).set(21, 79).set(22, 0).set(16, 255).set(23, 0xFF);
    b.timing(0, 10800, 1280, 408, 1024, 42);
    connector(t, "card0-VGA-1", "connected", b.bytes());

    const hw::Node& graphics = collect(t);
    const hw::Node* node = graphics.find("drm.card0-VGA-1");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->title, "card0-VGA-1");
    // A width with a zero height is an aspect ratio: neither a size nor a density.
    EXPECT_EQ(
        rows_of(section(*node, "Monitor")),
        (std::vector<std::string>{"Manufacturer=DEL (EDID PNP-ID)", "Product code=0xa0b9",
                                  "Manufactured=2019", "EDID version=1.4", "Input signal=Analog",
                                  "Preferred mode=1280 × 1024 @ 60.0 Hz", "EDID size=128 B"}));
    EXPECT_EQ(section(*node, "Supported modes"), nullptr);
}

TEST_F(GraphicsTest, BrokenOrMissingEdid) {
    TempDir t;
    std::string bad = Block().timing(0, 14850, 1920, 280, 1080, 45).text(1, 0xFC, "X\n").bytes();
    bad[127] = static_cast<char>(bad[127] ^ 0x55);
    connector(t, "card0-DP-1", "connected", bad);
    connector(t, "card0-DP-2", "connected", bad.substr(0, 127));
    connector(t, "card0-DP-3", "disconnected", "");

    const hw::Node& graphics = collect(t);
    for (const char* id : {"drm.card0-DP-1", "drm.card0-DP-2"}) {
        const hw::Node* node = graphics.find(id);
        ASSERT_NE(node, nullptr) << id;
        EXPECT_EQ(node->summary, "Connected") << id;
        EXPECT_EQ(rows_of(section(*node, "Monitor")),
                  (std::vector<std::string>{"Status=connected, but reports no EDID"}))
            << id;
    }
    const hw::Node* off = graphics.find("drm.card0-DP-3");
    ASSERT_NE(off, nullptr);
    EXPECT_EQ(off->summary, "Not connected");
    EXPECT_EQ(off->icon, "\u26AA");
    EXPECT_EQ(section(*off, "Monitor"), nullptr);
    EXPECT_EQ(graphics.find("drm.connectors")->summary, "2 connected");
}

TEST(GraphicsMachines, LaptopWithIntelGraphics) {
    std::string report = report_of("laptop-intel");
    std::string gpu = node_block(report, "card0  TigerLake-LP GT2 [Iris Xe Graphics]");
    ASSERT_FALSE(gpu.empty()) << report;
    EXPECT_TRUE(has_row(gpu, "Vendor", "Intel Corporation")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Device ID", "0x8086:0x9a49")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Driver", "i915")) << gpu;
    EXPECT_TRUE(has_row(gpu, "PCI address", "0000:00:02.0")) << gpu;
    // i915 keeps these on the card, not on the PCI device.
    EXPECT_TRUE(has_row(gpu, "Current GPU frequency (MHz)", "400")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Maximum GPU frequency (MHz)", "1300")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Minimum GPU frequency (MHz)", "100")) << gpu;
    EXPECT_NE(report.find("=== Displays  [1 connected] ==="), std::string::npos);
    std::string panel = node_block(report, "card0-eDP-1");
    // A panel without a name descriptor: its two text descriptors are not names.
    EXPECT_NE(panel.find("=== card0-eDP-1  [1920 × 1080] ==="), std::string::npos) << panel;
    EXPECT_TRUE(has_row(panel, "Manufacturer", "LGD")) << panel;
    EXPECT_NE(node_block(report, "card0-HDMI-A-1  [Not connected]").size(), 0u);
}

TEST(GraphicsMachines, DesktopWithRadeon) {
    std::string report = report_of("desktop-amd");
    std::string gpu = node_block(report, "card0  Navi 21");
    ASSERT_FALSE(gpu.empty()) << report;
    EXPECT_TRUE(has_row(gpu, "GPU load", "3 %")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Video memory", "16.0 GiB")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Performance level", "auto")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Link speed", "16.0 GT/s PCIe")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Boot display", "Yes")) << gpu;
    EXPECT_EQ(gpu.find("NUMA node"), std::string::npos) << "-1 means no NUMA";
    EXPECT_NE(report.find("=== Graphics  [1 device] ==="), std::string::npos);
    std::string monitor = node_block(report, "card0-DP-1  DELL U2720Q");
    EXPECT_TRUE(has_row(monitor, "Preferred mode", "3840 × 2160 @ 60.0 Hz")) << monitor;
    EXPECT_TRUE(has_row(monitor, "EDID size", "256 B")) << monitor;
}

TEST(GraphicsMachines, TwoCardsShareOneDisplaysNode) {
    std::string report = report_of("desktop-two-cards");
    EXPECT_NE(report.find("=== Graphics  [2 devices] ==="), std::string::npos) << report;
    EXPECT_FALSE(node_block(report, "card0  CoffeeLake-S GT2").empty());
    EXPECT_FALSE(node_block(report, "card1  TU106").empty());
    std::string displays = report.substr(report.find("=== Displays"));
    EXPECT_NE(displays.find("=== Displays  [3 connected] ==="), std::string::npos) << displays;
    for (const char* c : {"card0-HDMI-A-1  HP 24mh", "card0-DP-1", "card1-DP-1  BenQ GW2765",
                          "card1-DVI-I-1  SyncMaster", "card1-HDMI-A-2"})
        EXPECT_FALSE(node_block(displays, c).empty()) << c;
    std::string crt = node_block(report, "card1-DVI-I-1");
    EXPECT_TRUE(has_row(crt, "Input signal", "Analog")) << crt;
    std::string hp = node_block(report, "card0-HDMI-A-1");
    EXPECT_TRUE(has_row(hp, "Manufactured", "2019")) << "a model year has no week: " << hp;
    EXPECT_TRUE(has_row(hp, "Serial number", "16,843,009")) << hp;
}

TEST(GraphicsMachines, VirtioGpuNamedAfterItsPciFunction) {
    std::string report = report_of("vm-virtio-gpu");
    std::string gpu = node_block(report, "card0  Virtio 1.0 GPU");
    ASSERT_FALSE(gpu.empty()) << report;
    EXPECT_TRUE(has_row(gpu, "Device ID", "0x1af4:0x1050")) << gpu;
    EXPECT_TRUE(has_row(gpu, "Driver", "virtio_gpu")) << gpu;
    EXPECT_TRUE(has_row(gpu, "PCI address", "0000:00:01.0")) << gpu;
    std::string sensors = node_block(report, "Sensors");
    EXPECT_NE(sensors.find("This system exposes no sensors."), std::string::npos) << sensors;
}
