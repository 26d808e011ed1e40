// The drawing helpers every panel shares, on an image surface.
#include "gui/draw_util.h"
#include "gui_support.h"

#include <gtest/gtest.h>

using Surface = gui_support::Image;

TEST(DrawUtil, ElideCutsWholeCharactersAndKeepsWhatFits) {
    Surface s(64, 16);
    draw::font(s.cr, 12);
    EXPECT_EQ(draw::elide(s.cr, "ab", 1000), "ab");
    EXPECT_EQ(draw::elide(s.cr, "ab", 0), "");
    const std::string umlauts = "ÄÖÜÄÖÜÄÖÜÄÖÜ";
    const std::string cut = draw::elide(s.cr, umlauts, draw::text_width(s.cr, umlauts) / 2);
    ASSERT_GT(cut.size(), std::string("…").size());
    EXPECT_EQ(cut.substr(cut.size() - 3), "…");
    EXPECT_EQ(umlauts.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);
    EXPECT_EQ((cut.size() - 3) % 2, 0u) << "a character was cut in half";
    EXPECT_EQ(draw::elide(s.cr, umlauts, 1), "");
}

TEST(DrawUtil, BadTextAndBadColoursDoNotSpoilTheContext) {
    Surface s(64, 16);
    draw::font(s.cr, 12);
    draw::text(s.cr, 0, 12, "bad \xff\xfe byte");
    EXPECT_EQ(cairo_status(s.cr), CAIRO_STATUS_SUCCESS);
    draw::set_hex(s.cr, "not a colour");
    cairo_paint(s.cr);
    EXPECT_EQ(s.pixel(5, 5), 0xFF808080u) << "an unparsable colour is mid grey";
}

// Alef then beh, in logical order: read right to left, the tall alef stands right of the beh.
TEST(DrawUtil, RightToLeftTextReadsRightToLeft) {
    Surface s(120, 60);
    draw::font(s.cr, 40);
    cairo_set_source_rgb(s.cr, 0, 0, 0);
    draw::text(s.cr, 10, 45, "\u0627\u0628");
    double top = 0, top_n = 0, all = 0, all_n = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
            if (s.pixel(x, y) >> 24 > 128) {
                all += x, ++all_n;
                if (y < 22) top += x, ++top_n; // only the alef reaches this high
            }
    ASSERT_GT(top_n, 0);
    ASSERT_GT(all_n, top_n);
    EXPECT_GT(top / top_n, all / all_n);
}
