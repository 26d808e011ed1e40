// The drawing helpers every panel shares, on an image surface.
#include "gui/draw_util.h"

#include <gtest/gtest.h>

namespace {

struct Surface {
    explicit Surface(int width = 64)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, 16)) {}
    cairo_surface_t* surface;
    cairo_t* cr = cairo_create(surface);
    ~Surface() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    uint32_t pixel(int x, int y) const {
        cairo_surface_flush(surface);
        auto* row =
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t*>(row)[x];
    }
};

} // namespace

TEST(DrawUtil, ElideCutsWholeCharactersAndKeepsWhatFits) {
    Surface s;
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
    Surface s;
    draw::font(s.cr, 12);
    draw::text(s.cr, 0, 12, "bad \xff\xfe byte");
    EXPECT_EQ(cairo_status(s.cr), CAIRO_STATUS_SUCCESS);
    draw::set_hex(s.cr, "not a colour");
    cairo_paint(s.cr);
    EXPECT_EQ(s.pixel(5, 5), 0xFF808080u) << "an unparsable colour is mid grey";
}

// Arabic (or Hebrew) text runs from right to left with its letters joined: "Read  0 B/s" in
// Arabic has the word at its right end, drawn exactly as the word alone.
TEST(DrawUtil, RightToLeftTextIsOrderedAndShaped) {
    const std::string word = "\u0642\u0631\u0627\u0621\u0629"; // "Read" in Arabic
    Surface line(128), alone(128);
    for (cairo_t* cr : {line.cr, alone.cr})
        draw::font(cr, 12);
    const double width = draw::text_width(line.cr, word + "  0 B/s");
    ASSERT_LT(width, 128);
    draw::text(line.cr, width, 12, word + "  0 B/s", true);
    draw::text(alone.cr, width, 12, word, true);
    const int word_from = static_cast<int>(width - draw::text_width(alone.cr, word));
    int inked = 0, different = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = word_from; x < static_cast<int>(width); ++x) {
            inked += alone.pixel(x, y) != 0;
            different += line.pixel(x, y) != alone.pixel(x, y);
        }
    EXPECT_GT(inked, 10);
    EXPECT_LT(different, inked / 10) << "the word is not where right-to-left text puts it";
}
