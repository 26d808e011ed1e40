// The graphics branch: EDID base blocks built from the VESA layout, good and broken the ways
// real monitors, adapters and cables break them; connectors with their monitor section; and
// facts of the fixture machines.
#include "edid_block.h"
#include "hw/edid.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <map>

using testing_support::Block;
using testing_support::rows;
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
    return testing_support::collect(hw::collect_graphics, dir.path());
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

// Facts of the fixture machines that their golden reports only keep stable, read from the
// report: device names need the machine's identifier file, which a process loads once. An
// empty label stands for the node's header line, a null value for a row that must be absent.
TEST(Graphics, DevicesAndMonitorsOfTheFixtures) {
    struct Fact {
        const char *node, *label, *value;
    };
    const std::map<std::string, std::vector<Fact>> machines = {
        {"laptop-intel",
         {// i915 keeps its frequencies on the card, not on the PCI device.
          {"card0  TigerLake", "Current GPU frequency (MHz)", "400"},
          // A panel with vendor text descriptors but no name descriptor.
          {"card0-eDP-1", "", "=== card0-eDP-1  [1920 × 1080] ==="}}},
        {"desktop-amd",
         {{"card0  Navi 21", "Video memory", "16.0 GiB"},
          {"card0  Navi 21", "NUMA node", nullptr}, // -1: the machine has no NUMA nodes
          {"card0-DP-1", "EDID size", "256 B"}}},
        {"vm-virtio-gpu",
         {// The virtio device's own ids are virtio numbers; its PCI function names it.
          {"card0  Virtio 1.0 GPU", "Device ID", "0x1af4:0x1050"},
          {"card0  Virtio", "PCI address", "0000:00:01.0"}}},
    };
    for (const auto& [machine, facts] : machines) {
        std::string report = testing_support::report_of(testing_support::fixture(machine)).out;
        for (const auto& f : facts) {
            std::string block = testing_support::report_node(report, f.node);
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

TEST(Edid, IdentityTimingsAndTexts) {
    Block b;
    b.set(12, 0x55).set(13, 0x46).set(14, 0x4E).set(15, 0x30);
    b.text(0, 0xFD, "");                     // range limits first: not a timing
    b.timing(1, 14850, 1920, 280, 1080, 45); // 148.5 MHz
    b.timing(2, 7425, 1280, 370, 720, 30);
    b.text(3, 0xFC, "DELL U2415\n  ");
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.manufacturer, "DEL");
    EXPECT_EQ(e.product_code, 0xA0B9);
    EXPECT_EQ(e.serial_number, 0x304E4655u);
    EXPECT_EQ(e.week, 11);
    EXPECT_EQ(e.year, 2019);
    EXPECT_EQ(e.version * 10 + e.revision, 14);
    EXPECT_TRUE(e.digital);
    EXPECT_EQ(e.width_cm * 100 + e.height_cm, 5330);
    EXPECT_DOUBLE_EQ(e.gamma, 2.2);
    EXPECT_EQ(e.monitor_name, "DELL U2415");
    EXPECT_EQ(e.modes, (std::vector<std::string>{"1920 × 1080 @ 60.0 Hz", "1280 × 720 @ 60.0 Hz"}));
    EXPECT_EQ(e.pref_width * 10000 + e.pref_height, 19201080);
    EXPECT_NEAR(e.pref_refresh, 60.0, 1e-9);

    // Analogue input, gamma byte 0xFF; a timing without active height is skipped.
    Block analog;
    analog.set(20, 0x0E).set(23, 0xFF).timing(0, 14850, 1920, 280, 0, 45);
    analog.timing(1, 10650, 1440, 464, 900, 34);
    hw::Edid a = hw::parse_edid(analog.bytes());
    EXPECT_FALSE(a.digital);
    EXPECT_EQ(a.gamma, 0.0);
    EXPECT_EQ(a.modes, (std::vector<std::string>{"1440 × 900 @ 59.9 Hz"}));
    EXPECT_EQ(a.pref_width, 1440);
}

TEST(Edid, TextIsPrintableAsciiAndTheFirstNonEmptyWins) {
    auto name = [](const std::string& payload) {
        return hw::parse_edid(Block().text(0, 0xFC, payload).bytes()).monitor_name;
    };
    // NUL or 0xFF padding instead of a newline, a Latin-1 byte, no terminator at all.
    EXPECT_EQ(name(std::string("CTX S500\0\0\0\0\0", 13)), "CTX S500");
    EXPECT_EQ(name("HD60 S\xff\xff\xff\xff\xff\xff\xff"), "HD60 S");
    EXPECT_EQ(name("Gr\xf6\xdf"
                   "e 24"),
              "Gr");
    EXPECT_EQ(name("ABCDEFGHIJKLM"), "ABCDEFGHIJKLM");
    EXPECT_EQ(name("  MP-28  \n"), "MP-28");

    Block b; // a laptop panel: vendor texts (tag 0xFE) and serial text, no name
    b.text(0, 0xFE, "LG Display\n").text(1, 0xFF, "\n").text(2, 0xFF, "X123456789\n");
    b.text(3, 0xFF, "LATER\n");
    hw::Edid e = hw::parse_edid(b.bytes());
    EXPECT_EQ(e.monitor_name, "");
    EXPECT_EQ(e.serial_text, "X123456789");
}

TEST(Edid, QuirksOfRealBlocks) {
    Block b;
    b.set(8, 0x90);                                // reserved bit 15 set: still DEL
    b.set(16, 255).set(17, 255);                   // model year, year byte 255
    b.set(12, 1).set(13, 1).set(14, 1).set(15, 1); // placeholder serial
    b.set(126, 1);                                 // claims an extension that is missing
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.manufacturer, "DEL");
    EXPECT_TRUE(e.model_year);
    EXPECT_EQ(e.week, 0);
    EXPECT_EQ(e.year, 2245);
    EXPECT_EQ(e.serial_number, 16843009u);
    EXPECT_TRUE(e.modes.empty());
    // Bytes after the base block, of any length, leave the decoding alone.
    EXPECT_EQ(hw::parse_edid(b.bytes() + std::string(300, 'Z')).manufacturer, "DEL");
}

TEST(Edid, BrokenBlocksAreInvalidAndEmpty) {
    std::string good = Block().timing(0, 14850, 1920, 280, 1080, 45).bytes();
    std::string bad_sum = good, bad_header = good;
    bad_sum[127] = static_cast<char>(bad_sum[127] ^ 0xFF);
    bad_header[7] = '\x01'; // the sum stays right
    bad_header[127] = static_cast<char>(bad_header[127] - 1);
    for (const std::string& bytes : {std::string(), good.substr(0, 127), good.substr(0, 8), bad_sum,
                                     bad_header, std::string(128, '\0')}) {
        hw::Edid e = hw::parse_edid(bytes);
        EXPECT_FALSE(e.valid) << bytes.size();
        EXPECT_TRUE(e.manufacturer.empty() && e.modes.empty() && e.pref_width == 0);
    }
    EXPECT_TRUE(hw::parse_edid(good).valid);
}
