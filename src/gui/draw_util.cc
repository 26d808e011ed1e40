#include "gui/draw_util.h"

#include "util.h"

#include <pango/pangocairo.h>

#include <cmath>

namespace draw {

void set_rgb(cairo_t* cr, const Rgb& c, double alpha) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void set_hex(cairo_t* cr, const std::string& hex, double alpha) {
    Rgb c{0.5, 0.5, 0.5};
    hex_to_rgb(hex, c);
    set_rgb(cr, c, alpha);
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::max(0.0, std::min(r, std::min(w, h) / 2));
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void set_grey(cairo_t* cr, const Palette& p, double alpha) {
    const double v = p.dark ? 1.0 : 0.0;
    cairo_set_source_rgba(cr, v, v, v, alpha);
}

void font(cairo_t* cr, double size, bool bold) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

namespace {

// Text goes through Pango rather than cairo's own text functions, which place glyphs one after
// the other: Arabic, Persian, Urdu and Hebrew came out backwards with unjoined letters, and
// scripts that combine characters (Devanagari, Bengali, Thai) broken. The font set with font()
// is read back from the context, so callers select fonts as before. One Pango context serves
// every call; it is brought up to date with the target's font options each time.
PangoLayout* layout_for(cairo_t* cr, const std::string& text) {
    static PangoContext* context =
        pango_font_map_create_context(pango_cairo_font_map_get_default());
    pango_cairo_update_context(cr, context);
    PangoLayout* layout = pango_layout_new(context);
    cairo_font_face_t* face = cairo_get_font_face(cr);
    const bool bold = cairo_font_face_get_type(face) == CAIRO_FONT_TYPE_TOY &&
                      cairo_toy_font_face_get_weight(face) == CAIRO_FONT_WEIGHT_BOLD;
    cairo_matrix_t m;
    cairo_get_font_matrix(cr, &m);
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family_static(d, "sans-serif");
    pango_font_description_set_weight(d, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(d, m.yy * PANGO_SCALE);
    pango_layout_set_font_description(layout, d);
    pango_font_description_free(d);
    // Pango, like cairo, refuses invalid UTF-8; a bad byte from a device name must cost one
    // character, not the text.
    const std::string valid = util::valid_utf8(text);
    pango_layout_set_text(layout, valid.c_str(), static_cast<int>(valid.size()));
    return layout;
}

double layout_width(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

// The length of the first `n` characters of `text`, in bytes.
size_t prefix_bytes(const std::string& text, size_t n) {
    size_t i = 0;
    for (size_t chars = 0; i < text.size() && chars < n; ++chars) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return i;
}

} // namespace

double text_width(cairo_t* cr, const std::string& text) {
    if (text.empty()) return 0;
    PangoLayout* layout = layout_for(cr, text);
    const double w = layout_width(layout);
    g_object_unref(layout);
    return w;
}

std::string elide(cairo_t* cr, const std::string& text, double max_width) {
    if (max_width <= 0) return {};
    if (text_width(cr, text) <= max_width) return text;
    const std::string valid = util::valid_utf8(text);
    size_t chars = 0;
    for (size_t i = 0; i < valid.size(); ++i)
        chars += (static_cast<unsigned char>(valid[i]) & 0xC0) != 0x80;
    // The longest prefix that fits with "…", found in a few measurements rather than one per
    // character dropped.
    size_t fits = 0, lo = 1, hi = chars - 1;
    while (lo <= hi && hi < chars) {
        const size_t mid = (lo + hi) / 2;
        if (text_width(cr, valid.substr(0, prefix_bytes(valid, mid)) + "…") <= max_width)
            fits = mid, lo = mid + 1;
        else
            hi = mid - 1;
    }
    return fits ? valid.substr(0, prefix_bytes(valid, fits)) + "…" : std::string();
}

double text(cairo_t* cr, double x, double y, const std::string& t, bool right_aligned) {
    if (t.empty()) return 0;
    PangoLayout* layout = layout_for(cr, t);
    const double w = layout_width(layout);
    const double baseline = static_cast<double>(pango_layout_get_baseline(layout)) / PANGO_SCALE;
    cairo_move_to(cr, right_aligned ? x - w : x, y - baseline);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return w;
}

void card(cairo_t* cr, double x, double y, double w, double h, const Palette& p) {
    rounded_rect(cr, x, y, w, h, 8);
    set_hex(cr, p.panel);
    cairo_fill_preserve(cr);
    set_hex(cr, p.text, p.dark ? 0.14 : 0.10);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

} // namespace draw
