// The graphics branch: EDID base blocks built from the VESA layout, good and broken the ways
// real monitors, adapters and cables break them; connectors with their monitor section; and
// facts of the fixture machines.
#include "edid_block.h"
#include "hw/edid.h"
#include "hw/hardware.h"
#include "test_support.h"

#include <gtest/gtest.h>

using testing_support::rows;
using testing_support::TempDir;
using Rows = std::vector<std::string>;

namespace {

// A connector as the kernel lays it out under its card.
void connector(const TempDir& t, const std::string& name, const std::string& status,
               const std::string& edid, const std::string& modes = "") {
    std::string rel = "devices/pci0000:00/0000:00:02.0/drm/card0/" + name;
    t.symlink("../../" + rel, "sys/class/drm/" + name);
    t.write("sys/" + rel + "/status", status + "\n");
    t.write("sys/" + rel + "/edid", edid);
    t.write("sys/" + rel + "/modes", modes);
}

} // namespace

TEST(Graphics, MonitorSectionFromEdid) {
    TempDir t;
    EdidBlock b;
    b.set(12, 0x55).set(13, 0x46).set(14, 0x4E).set(15, 0x30);
    b.timing(0, 14850, 1920, 280, 1080, 45).text(1, 0xFF, "7MT0183E0N2U\n");
    b.text(2, 0xFC, "DELL U2415\n");
    connector(t, "card0-HDMI-A-1", "connected", b.bytes(), "1920x1080\n  1280x1024 \n");
    // Analogue, a width beside a zero height (an aspect ratio), a model year, no gamma.
    EdidBlock old;
    old.set(20, 0x0E).set(21, 79).set(22, 0).set(16, 255).set(23, 0xFF);
    connector(t, "card0-VGA-1", "connected", old.timing(0, 10800, 1280, 408, 1024, 42).bytes());
    // A bad checksum or a short block: connected, but no monitor data.
    std::string bad = b.bytes();
    bad[127] = static_cast<char>(bad[127] ^ 0x55);
    connector(t, "card0-DP-1", "connected", bad);
    connector(t, "card0-DP-2", "connected", b.bytes().substr(0, 127));
    connector(t, "card0-DP-3", "disconnected", "");

    auto root = testing_support::collect(hw::collect_graphics, t.path());
    const hw::Node* node = root->find("drm.card0-HDMI-A-1");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->title + " / " + node->summary, "card0-HDMI-A-1  DELL U2415 / 1920 × 1080");
    EXPECT_EQ(rows(node, "Monitor"),
              (Rows{"Name=DELL U2415", "Manufacturer=DEL (EDID PNP-ID)", "Product code=0xa0b9",
                    "Serial number=810,436,181", "Serial number (text)=7MT0183E0N2U",
                    "Manufactured=week 11, 2019", "EDID version=1.4", "Input signal=Digital",
                    "Screen size=53 × 30 cm  (24.0\")", "Pixel density=92 dpi", "Gamma=2.20",
                    "Preferred mode=1920 × 1080 @ 60.0 Hz", "EDID size=128 B"}));
    EXPECT_EQ(rows(node, "Supported modes"),
              (Rows{"Count=2", "Modes=1920x1080  1280x1024 (modes)"}));
    EXPECT_EQ(rows(root->find("drm.card0-VGA-1"), "Monitor"),
              (Rows{"Manufacturer=DEL (EDID PNP-ID)", "Product code=0xa0b9", "Manufactured=2019",
                    "EDID version=1.4", "Input signal=Analog",
                    "Preferred mode=1280 × 1024 @ 60.0 Hz", "EDID size=128 B"}));
    for (const char* id : {"drm.card0-DP-1", "drm.card0-DP-2"})
        EXPECT_EQ(rows(root->find(id), "Monitor"), Rows{"Status=connected, but reports no EDID"})
            << id;
    const hw::Node* off = root->find("drm.card0-DP-3");
    EXPECT_EQ(off->summary + " " + std::to_string(off->sections.size()), "Not connected 1");
    EXPECT_EQ(root->find("drm.connectors")->summary, "4 connected");
}

TEST(Graphics, DevicesAndMonitorsOfTheFixtures) {
    testing_support::expect_facts(
        hw::collect_graphics,
        {
            // i915 keeps its frequencies on the card, not on the PCI device.
            {"laptop-intel", "gpu.card0", "", "Current GPU frequency (MHz)", "400"},
            // -1: no NUMA nodes.
            {"desktop-amd", "gpu.card0", "", "NUMA node", "<no row>"},
            // The virtio device's own ids are virtio numbers; its PCI function names it.
            {"vm-virtio-gpu", "gpu.card0", "", "Device ID", "0x1af4:0x1050"},
            {"vm-virtio-gpu", "gpu.card0", "", "PCI address", "0000:00:01.0"},
        });
}

TEST(Edid, TimingsAmongOtherDescriptors) {
    EdidBlock b;
    b.text(0, 0xFD, "");                    // range limits first: not a timing
    b.timing(1, 14850, 1920, 280, 0, 45);   // no active height: skipped
    b.timing(2, 10650, 1440, 464, 900, 34); // 106.5 MHz
    b.timing(3, 7425, 1280, 370, 720, 30);
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.modes, (Rows{"1440 × 900 @ 59.9 Hz", "1280 × 720 @ 60.0 Hz"}));
    EXPECT_EQ(e.pref_width * 10000 + e.pref_height, 14400900);
}

TEST(Edid, TextIsPrintableAsciiAndTheFirstNonEmptyWins) {
    struct Case {
        std::string payload;
        const char* name;
    } cases[] = {
        {std::string("CTX S500\0\0\0\0\0", 13), "CTX S500"}, // NUL padding
        {"HD60 S\xff\xff\xff\xff\xff\xff\xff", "HD60 S"},    // 0xFF padding
        {"Gr\xf6\xdf"
         "e 24",
         "Gr"},                             // a Latin-1 byte ends the text
        {"ABCDEFGHIJKLM", "ABCDEFGHIJKLM"}, // no terminator at all
        {"  MP-28  \n", "MP-28"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hw::parse_edid(EdidBlock().text(0, 0xFC, c.payload).bytes()).monitor_name, c.name)
            << c.name;

    EdidBlock b; // a laptop panel: vendor texts (tag 0xFE) and serial text, no name
    b.text(0, 0xFE, "LG Display\n").text(1, 0xFF, "\n").text(2, 0xFF, "X123456789\n");
    b.text(3, 0xFF, "LATER\n");
    hw::Edid e = hw::parse_edid(b.bytes());
    EXPECT_EQ(e.monitor_name + "|" + e.serial_text, "|X123456789");
}

TEST(Edid, QuirksOfRealBlocks) {
    EdidBlock b;
    b.set(8, 0x90);              // reserved bit 15 set: still DEL
    b.set(16, 255).set(17, 255); // model year, year byte 255
    b.set(126, 1);               // claims an extension that is missing
    hw::Edid e = hw::parse_edid(b.bytes() + std::string(300, 'Z')); // and trailing bytes
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.manufacturer, "DEL");
    EXPECT_TRUE(e.model_year);
    EXPECT_EQ(e.week * 10000 + e.year, 2245);
}

TEST(Edid, BrokenBlocksAreInvalidAndEmpty) {
    std::string good = EdidBlock().timing(0, 14850, 1920, 280, 1080, 45).bytes();
    std::string bad_header = good;
    bad_header[7] = '\x01'; // the sum stays right
    bad_header[127] = static_cast<char>(bad_header[127] - 1);
    // A bad checksum or a short block reach the collector test above.
    for (const std::string& bytes : {std::string(), bad_header, std::string(128, '\0')}) {
        hw::Edid e = hw::parse_edid(bytes);
        EXPECT_FALSE(e.valid) << bytes.size();
        EXPECT_TRUE(e.manufacturer.empty() && e.modes.empty() && e.pref_width == 0);
    }
}
