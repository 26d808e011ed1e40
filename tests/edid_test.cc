// EDID base blocks built from the VESA layout, good and broken the ways real monitors,
// adapters and cables break them.
#include "edid_block.h"
#include "hw/edid.h"

#include <gtest/gtest.h>

using testing_support::Block;

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
