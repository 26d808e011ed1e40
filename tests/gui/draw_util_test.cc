// The drawing helpers every panel shares, on an image surface.
#include "gui/draw_util.h"
#include "gui_support.h"

#include <gtest/gtest.h>

using gui_support::Canvas;

TEST(DrawUtil, ElideCutsWholeCharactersAndKeepsWhatFits) {
    Canvas s(64, 16);
    cairo_t* cr = s.cr;
    draw::font(cr, 12);
    EXPECT_EQ(draw::elide(cr, "ab", 1000), "ab");
    EXPECT_EQ(draw::elide(cr, "ab", 0), "");
    const std::string umlauts = "ÄÖÜÄÖÜÄÖÜÄÖÜ";
    const std::string cut = draw::elide(cr, umlauts, draw::text_width(cr, umlauts) / 2);
    ASSERT_GT(cut.size(), std::string("…").size());
    EXPECT_EQ(cut.substr(cut.size() - 3), "…");
    EXPECT_EQ(umlauts.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);
    EXPECT_EQ((cut.size() - 3) % 2, 0u) << "a character was cut in half";
    EXPECT_EQ(draw::elide(cr, umlauts, 1), "");
}

TEST(DrawUtil, BadTextAndBadColoursDoNotSpoilTheContext) {
    Canvas s(64, 16);
    cairo_t* cr = s.cr;
    draw::font(cr, 12);
    draw::text(cr, 0, 12, "bad \xff\xfe byte");
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    draw::set_hex(cr, "not a colour");
    cairo_paint(cr);
    EXPECT_EQ(s.pixel(5, 5), 0xFF808080u) << "an unparsable colour is mid grey";
}

// Arabic text runs from right to left with its letters joined: "Read  0 B/s" in Arabic has the
// word at its right end, drawn exactly as the word alone.
TEST(DrawUtil, RightToLeftTextIsOrderedAndShaped) {
    const std::string word = "\u0642\u0631\u0627\u0621\u0629";
    Canvas line(128, 16), alone(128, 16);
    draw::font(line.cr, 12);
    draw::font(alone.cr, 12);
    const double width = draw::text(line.cr, 120, 12, word + "  0 B/s", true);
    const double word_width = draw::text(alone.cr, 120, 12, word, true);
    int inked = 0, different = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = static_cast<int>(120 - word_width); x < 120; ++x) {
            inked += alone.pixel(x, y) != 0;
            different += line.pixel(x, y) != alone.pixel(x, y);
        }
    EXPECT_GT(inked, 10);
    EXPECT_LT(different, inked / 10) << "the word is not where right-to-left text puts it";
    EXPECT_GT(width, word_width);
}
