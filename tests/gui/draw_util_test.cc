// The drawing helpers every panel shares, on an image surface.
#include "gui/draw_util.h"
#include "gui_support.h"
#include "i18n.h"

#include <gtest/gtest.h>
#include <pango/pangocairo.h>

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
    const double half = draw::text_width(cr, umlauts) / 2;
    EXPECT_GT(draw::text_width(cr, umlauts.substr(0, cut.size() - 3 + 2) + "…"), half)
        << "one character more would still have fitted";
    EXPECT_EQ(draw::elide(cr, umlauts, 1), "");
    draw::font(cr, 24);
    EXPECT_LT(draw::elide(cr, umlauts, half).size(), cut.size())
        << "an elision remembered from the smaller font was given again";
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

// A mirrored panel puts a text that starts at x so that it ends at width − x, and its glyphs
// stay readable: the same pixels as the text drawn there on a plain context.
TEST(DrawUtil, MirroredPanelsPlaceTextsMirroredAndKeepTheirGlyphsUpright) {
    Canvas mirrored(128, 16), plain(128, 16);
    draw::font(mirrored.cr, 12);
    draw::font(plain.cr, 12);
    draw::mirror(mirrored.cr, 128);
    const double w = draw::text(mirrored.cr, 10, 12, "Read 5");
    EXPECT_EQ(w, draw::text(plain.cr, 118, 12, "Read 5", true));
    int inked = 0, different = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 128; ++x) {
            inked += plain.pixel(x, y) != 0;
            different += mirrored.pixel(x, y) != plain.pixel(x, y);
        }
    EXPECT_GT(inked, 20);
    EXPECT_EQ(different, 0);
}

// Left edge of the first glyph of `piece` in `line` as Pango lays the line out.
double x_of(cairo_t* cr, const std::string& line, const std::string& piece) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_text(layout, line.c_str(), -1);
    PangoRectangle at;
    pango_layout_index_to_pos(layout, static_cast<int>(line.find(piece)), &at);
    g_object_unref(layout);
    return std::min(at.x, at.x + at.width) / static_cast<double>(PANGO_SCALE);
}

// In Arabic a figure keeps its own order inside a translated line ("0 B/s", not "B/s 0"), and
// parts joined in reading order follow one another from the right; in English from the left.
TEST(DrawUtil, FiguresAndPartsKeepTheirOrderInEitherDirection) {
    Canvas s(16, 16);
    const std::string word = "\u0642\u0631\u0627\u0621\u0629";
    const std::string rate = word + "  " + draw::isolate("0 B/s");
    EXPECT_LT(x_of(s.cr, rate, "0"), x_of(s.cr, rate, "B"));
    for (const char* language : {"ar", "en"}) {
        I18n::instance().set_language(language);
        const std::string line = draw::in_reading_order({word, "", "2C/2T", "AMD"}, "   ");
        const double a = x_of(s.cr, line, word), b = x_of(s.cr, line, "2C"),
                     c = x_of(s.cr, line, "AMD");
        if (I18n::instance().is_rtl())
            EXPECT_TRUE(a > b && b > c) << a << " " << b << " " << c;
        else
            EXPECT_TRUE(a < b && b < c) << a << " " << b << " " << c;
    }
    EXPECT_EQ(draw::in_reading_order({"", ""}, ", "), "");
}
