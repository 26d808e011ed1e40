// The graphics branch: connectors with the monitor section decoded from EDID, and facts of
// the fixture machines (device names need the machine's identifier file, which the process
// loads once, so those are read from the report of a separate run).
#include "edid_block.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <map>

using testing_support::Block;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// A connector as the kernel lays it out under its card.
void connector(const TempDir& t, const std::string& name, const std::string& status,
               const std::string& edid, const std::string& modes = "") {
    std::string rel = "devices/pci0000:00/0000:00:02.0/drm/card0/" + name;
    t.symlink("../../" + rel, "sys/class/drm/" + name);
    t.write("sys/" + rel + "/status", status + "\n");
    t.write("sys/" + rel + "/dpms", "On\n");
    t.write("sys/" + rel + "/edid", edid);
    t.write("sys/" + rel + "/modes", modes);
}

std::unique_ptr<hw::Node> collect(const TempDir& dir) {
    I18n::instance().set_language("en");
    util::set_number_format(".", ",");
    ScopedEnv sysroot("QUARVEL_SYSROOT", dir.path());
    auto root = std::make_unique<hw::Node>();
    hw::collect_graphics(*root);
    return root;
}

std::vector<std::string> rows(const hw::Node* node, const std::string& section) {
    std::vector<std::string> out;
    for (const auto& s : node->sections)
        if (s.title == section)
            for (const auto& i : s.items)
                out.push_back(i.name + "=" + i.value + (i.note.empty() ? "" : " (" + i.note + ")"));
    return out;
}

// The report's lines from the node header starting with `title` to the next node.
std::string node_block(const std::string& report, const std::string& title) {
    size_t start = report.find("=== " + title);
    if (start == std::string::npos) return {};
    size_t end = report.find("===", report.find('\n', start));
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

TEST(Graphics, MonitorSectionFromEdid) {
    TempDir t;
    Block b;
    b.set(12, 0x55).set(13, 0x46).set(14, 0x4E).set(15, 0x30);
    b.timing(0, 14850, 1920, 280, 1080, 45).text(1, 0xFF, "7MT0183E0N2U\n");
    b.text(2, 0xFC, "DELL U2415\n");
    connector(t, "card0-HDMI-A-1", "connected", b.bytes(), "1920x1080\n1680x1050\n  1280x1024 \n");
    // Analogue, a width beside a zero height (an aspect ratio), a model year, no gamma.
    Block old;
    old.set(20, 0x0E).set(21, 79).set(22, 0).set(16, 255).set(23, 0xFF);
    connector(t, "card0-VGA-1", "connected", old.timing(0, 10800, 1280, 408, 1024, 42).bytes());

    auto root = collect(t);
    const hw::Node* node = root->find("drm.card0-HDMI-A-1");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->title, "card0-HDMI-A-1  DELL U2415");
    EXPECT_EQ(node->summary, "1920 × 1080");
    EXPECT_EQ(rows(node, "Connector"),
              (std::vector<std::string>{"Name=card0-HDMI-A-1", "Status=Connected (status)",
                                        "DPMS=On (dpms)", "Connector type=HDMI-A-1"}));
    EXPECT_EQ(rows(node, "Monitor"),
              (std::vector<std::string>{
                  "Name=DELL U2415", "Manufacturer=DEL (EDID PNP-ID)", "Product code=0xa0b9",
                  "Serial number=810,436,181", "Serial number (text)=7MT0183E0N2U",
                  "Manufactured=week 11, 2019", "EDID version=1.4", "Input signal=Digital",
                  "Screen size=53 × 30 cm  (24.0\")", "Pixel density=92 dpi", "Gamma=2.20",
                  "Preferred mode=1920 × 1080 @ 60.0 Hz", "EDID size=128 B"}));
    EXPECT_EQ(
        rows(node, "Supported modes"),
        (std::vector<std::string>{"Count=3", "Modes=1920x1080  1680x1050  1280x1024 (modes)"}));
    EXPECT_EQ(node->sections[1].title, "Monitor"); // connector, monitor, modes

    EXPECT_EQ(
        rows(root->find("drm.card0-VGA-1"), "Monitor"),
        (std::vector<std::string>{"Manufacturer=DEL (EDID PNP-ID)", "Product code=0xa0b9",
                                  "Manufactured=2019", "EDID version=1.4", "Input signal=Analog",
                                  "Preferred mode=1280 × 1024 @ 60.0 Hz", "EDID size=128 B"}));
    EXPECT_EQ(root->find("drm.connectors")->summary, "2 connected");
}

TEST(Graphics, BrokenOrMissingEdid) {
    TempDir t;
    std::string bad = Block().timing(0, 14850, 1920, 280, 1080, 45).text(1, 0xFC, "X\n").bytes();
    bad[127] = static_cast<char>(bad[127] ^ 0x55);
    connector(t, "card0-DP-1", "connected", bad);
    connector(t, "card0-DP-2", "connected", bad.substr(0, 127));
    connector(t, "card0-DP-3", "disconnected", "");

    auto root = collect(t);
    for (const char* id : {"drm.card0-DP-1", "drm.card0-DP-2"}) {
        const hw::Node* node = root->find(id);
        EXPECT_EQ(node->title + " " + node->summary, std::string(id + 4) + " Connected");
        EXPECT_EQ(rows(node, "Monitor"),
                  (std::vector<std::string>{"Status=connected, but reports no EDID"}));
    }
    const hw::Node* off = root->find("drm.card0-DP-3");
    EXPECT_EQ(off->summary, "Not connected");
    EXPECT_EQ(off->icon, "\u26AA");
    EXPECT_EQ(off->sections.size(), 1u) << "only the connector section";
}

// Facts of the fixture machines that their golden reports only keep stable. An empty label
// stands for the node's header line, a null value for a row that must be absent.
TEST(Graphics, DevicesAndMonitorsOfTheFixtures) {
    struct Fact {
        const char* node;
        const char* label;
        const char* value;
    };
    const std::map<std::string, std::vector<Fact>> machines = {
        {"laptop-intel",
         {{"card0  TigerLake-LP GT2 [Iris Xe Graphics]", "Device ID", "0x8086:0x9a49"},
          {"card0  TigerLake", "PCI address", "0000:00:02.0"},
          // i915 keeps its frequencies on the card, not on the PCI device.
          {"card0  TigerLake", "Current GPU frequency (MHz)", "400"},
          {"card0  TigerLake", "Minimum GPU frequency (MHz)", "100"},
          // A panel with vendor text descriptors but no name descriptor.
          {"card0-eDP-1", "", "=== card0-eDP-1  [1920 × 1080] ==="},
          {"card0-HDMI-A-1", "", "[Not connected]"}}},
        {"desktop-amd",
         {{"Graphics", "", "[1 device]"},
          {"card0  Navi 21", "GPU load", "3 %"},
          {"card0  Navi 21", "Video memory", "16.0 GiB"},
          {"card0  Navi 21", "Performance level", "auto"},
          {"card0  Navi 21", "NUMA node", nullptr}, // -1: the machine has no NUMA nodes
          {"card0-DP-1  DELL U2720Q", "Preferred mode", "3840 × 2160 @ 60.0 Hz"},
          {"card0-DP-1", "EDID size", "256 B"}}},
        {"desktop-two-cards",
         {{"Graphics", "", "[2 devices]"},
          {"card0  CoffeeLake-S GT2", "Driver", "i915"},
          {"card1  TU106", "NUMA node", "0"},
          {"Displays", "", "[3 connected]"},
          {"card1-DVI-I-1  SyncMaster", "Input signal", "Analog"},
          {"card0-HDMI-A-1  HP 24mh", "Manufactured", "2019"}, // week 255: a model year
          {"card0-HDMI-A-1", "Serial number", "16,843,009"}}},
        {"vm-virtio-gpu",
         {// The virtio device's own ids are virtio numbers; its PCI function names it.
          {"card0  Virtio 1.0 GPU", "Device ID", "0x1af4:0x1050"},
          {"card0  Virtio", "Driver", "virtio_gpu"},
          {"card0  Virtio", "PCI address", "0000:00:01.0"}}},
    };
    for (const auto& [machine, facts] : machines) {
        TempDir config;
        auto run = testing_support::run_quarvel(
            {"--report"},
            testing_support::plain_env(config.path(), testing_support::fixture(machine)));
        for (const auto& f : facts) {
            std::string block = node_block(run.out, f.node);
            ASSERT_FALSE(block.empty()) << machine << ": no node " << f.node;
            std::string label(f.label);
            if (!f.value) {
                EXPECT_EQ(block.find("    " + label + " "), std::string::npos) << machine << block;
                continue;
            }
            std::string wanted =
                label.empty()
                    ? std::string(f.value)
                    : "    " + label + std::string(30 - label.size(), ' ') + "  " + f.value;
            std::string where = label.empty() ? block.substr(0, block.find('\n')) : block;
            EXPECT_NE(where.find(wanted), std::string::npos) << machine << ": " << wanted << "\n"
                                                             << block;
        }
    }
}
