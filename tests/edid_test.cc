// EDID base blocks built here from the VESA layout, good and broken the ways real monitors,
// adapters and cables break them.
#include "edid_block.h"
#include "hw/edid.h"

#include <gtest/gtest.h>
#include <string>

using testing_support::Block;

TEST(Edid, IdentityFromTheBaseBlock) {
    Block b;
    b.set(12, 0x55).set(13, 0x46).set(14, 0x4E).set(15, 0x30);
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.manufacturer, "DEL");
    EXPECT_EQ(e.product_code, 0xA0B9);
    EXPECT_EQ(e.serial_number, 0x304E4655u);
    EXPECT_EQ(e.week, 11);
    EXPECT_FALSE(e.model_year);
    EXPECT_EQ(e.year, 2019);
    EXPECT_EQ(e.version, 1);
    EXPECT_EQ(e.revision, 4);
    EXPECT_TRUE(e.digital);
    EXPECT_EQ(e.width_cm, 53);
    EXPECT_EQ(e.height_cm, 30);
    EXPECT_DOUBLE_EQ(e.gamma, 2.2);
    EXPECT_EQ(e.pref_width, 0);
    EXPECT_TRUE(e.modes.empty());
}

TEST(Edid, AnalogInputWithoutGamma) {
    Block b;
    b.set(20, 0x0E).set(23, 0xFF).set(18, 1).set(19, 3);
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_FALSE(e.digital);
    EXPECT_EQ(e.gamma, 0.0);
    EXPECT_EQ(e.revision, 3);
}

TEST(Edid, DetailedTimingsInDescriptorOrder) {
    Block b;
    b.text(0, 0xFD, "");                     // range limits first: not a timing
    b.timing(1, 14850, 1920, 280, 1080, 45); // 148.5 MHz
    b.timing(2, 7425, 1280, 370, 720, 30);   // 74.25 MHz
    b.timing(3, 14850, 0, 280, 1080, 45);    // no active width: skipped
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.modes, (std::vector<std::string>{"1920 × 1080 @ 60.0 Hz", "1280 × 720 @ 60.0 Hz"}));
    EXPECT_EQ(e.pref_width, 1920);
    EXPECT_EQ(e.pref_height, 1080);
    EXPECT_NEAR(e.pref_refresh, 60.0, 1e-9);
}

TEST(Edid, ZeroActiveSizeBeforeARealTiming) {
    Block b;
    b.timing(0, 14850, 1920, 280, 0, 45);
    b.timing(1, 10650, 1440, 464, 900, 34);
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_EQ(e.modes.size(), 1u);
    EXPECT_EQ(e.pref_width, 1440);
    EXPECT_EQ(e.pref_height, 900);
    EXPECT_EQ(e.modes[0], "1440 × 900 @ 59.9 Hz");
}

TEST(Edid, NameAndSerialText) {
    Block b;
    b.text(2, 0xFC, "DELL U2415\n  ");
    b.text(3, 0xFF, "7MT0183E0N2U\n");
    hw::Edid e = hw::parse_edid(b.bytes());
    EXPECT_EQ(e.monitor_name, "DELL U2415");
    EXPECT_EQ(e.serial_text, "7MT0183E0N2U");
}

TEST(Edid, LaptopPanelWithSerialTextButNoName) {
    Block b;
    b.set(8, 0x30).set(9, 0xE4); // LGD
    b.timing(0, 7620, 1366, 194, 768, 45);
    b.text(1, 0xFE, "LG Display\n");
    b.text(2, 0xFF, "X123456789\n");
    b.text(3, 0xFE, "LP133WH2-TLM2");
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.manufacturer, "LGD");
    EXPECT_EQ(e.monitor_name, "");
    EXPECT_EQ(e.serial_text, "X123456789");
    EXPECT_EQ(e.pref_width, 1366);
}

TEST(Edid, TextEndsAtTheFirstByteThatIsNotPrintableAscii) {
    // NUL and 0xFF padding instead of a newline, a Latin-1 byte, and 13 characters with no
    // terminator at all.
    EXPECT_EQ(hw::parse_edid(Block().text(0, 0xFC, std::string("CTX S500\0\0\0\0\0", 13)).bytes())
                  .monitor_name,
              "CTX S500");
    EXPECT_EQ(hw::parse_edid(Block().text(0, 0xFC, "HD60 S\xff\xff\xff\xff\xff\xff\xff").bytes())
                  .monitor_name,
              "HD60 S");
    EXPECT_EQ(hw::parse_edid(Block()
                                 .text(0, 0xFC,
                                       "Gr\xf6\xdf"
                                       "e 24")
                                 .bytes())
                  .monitor_name,
              "Gr");
    EXPECT_EQ(hw::parse_edid(Block().text(0, 0xFF, "ABCDEFGHIJKLM").bytes()).serial_text,
              "ABCDEFGHIJKLM");
    EXPECT_EQ(hw::parse_edid(Block().text(0, 0xFC, "  MP-28  \n").bytes()).monitor_name, "MP-28");
}

TEST(Edid, FirstNonEmptyNameWins) {
    Block b;
    b.text(1, 0xFC, "\n");
    b.text(2, 0xFC, "NV156FHM-N61\n");
    b.text(3, 0xFC, "LATER\n");
    EXPECT_EQ(hw::parse_edid(b.bytes()).monitor_name, "NV156FHM-N61");
    Block two;
    two.text(0, 0xFF, "FIRST\n").text(1, 0xFF, "SECOND\n");
    EXPECT_EQ(hw::parse_edid(two.bytes()).serial_text, "FIRST");
}

TEST(Edid, QuirksOfRealBlocks) {
    Block b;
    b.set(8, 0x10 | 0x80); // reserved bit 15 set: still DEL
    b.set(16, 255);        // model year
    b.set(17, 255);
    b.set(12, 1).set(13, 1).set(14, 1).set(15, 1);
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.manufacturer, "DEL");
    EXPECT_TRUE(e.model_year);
    EXPECT_EQ(e.week, 0);
    EXPECT_EQ(e.year, 2245);
    EXPECT_EQ(e.serial_number, 16843009u);
}

TEST(Edid, SizeAndExtensionCountNeedNotAgree) {
    Block b;
    b.set(126, 1); // claims an extension that is not there
    b.text(0, 0xFC, "HP X27i\n");
    hw::Edid e = hw::parse_edid(b.bytes());
    ASSERT_TRUE(e.valid);
    EXPECT_EQ(e.monitor_name, "HP X27i");
    // Extra bytes after the base block, of any length, leave the decoding alone.
    std::string longer = Block().text(0, 0xFC, "LG\n").bytes() + std::string(300, '\x5A');
    EXPECT_EQ(hw::parse_edid(longer).monitor_name, "LG");
}

TEST(Edid, BrokenBlocksAreInvalidAndEmpty) {
    std::string good = Block().timing(0, 14850, 1920, 280, 1080, 45).bytes();
    std::string bad_checksum = good;
    bad_checksum[127] = static_cast<char>(bad_checksum[127] ^ 0xFF);
    std::string bad_header = good;
    bad_header[7] = '\x01';
    bad_header[127] = static_cast<char>(bad_header[127] - 1);
    for (const std::string& bytes : {std::string(), good.substr(0, 127), good.substr(0, 8),
                                     bad_checksum, bad_header, std::string(128, '\0')}) {
        hw::Edid e = hw::parse_edid(bytes);
        EXPECT_FALSE(e.valid) << bytes.size();
        EXPECT_TRUE(e.manufacturer.empty());
        EXPECT_TRUE(e.modes.empty());
        EXPECT_EQ(e.pref_width, 0);
    }
    EXPECT_TRUE(hw::parse_edid(good).valid);
}
