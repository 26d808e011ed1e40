#include "gui/draw_util.h"

#include "util.h"

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

// cairo refuses invalid UTF-8 by putting the whole context into an error state, after which
// nothing more is drawn; a bad byte from a device name must cost one character, not the panel.
double text_width(cairo_t* cr, const std::string& text) {
    if (text.empty()) return 0;
    cairo_text_extents_t ext;
    cairo_text_extents(cr, util::valid_utf8(text).c_str(), &ext);
    return ext.x_advance;
}

std::string elide(cairo_t* cr, const std::string& text, double max_width) {
    if (max_width <= 0) return {};
    if (text_width(cr, text) <= max_width) return text;
    std::string cut = text;
    while (!cut.empty()) {
        std::string candidate = cut + "…";
        if (text_width(cr, candidate) <= max_width) return candidate;
        // Drop the last character: its continuation bytes, then its lead byte.
        while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80)
            cut.pop_back();
        if (!cut.empty()) cut.pop_back();
    }
    return {};
}

double text(cairo_t* cr, double x, double y, const std::string& t, bool right_aligned) {
    const double w = text_width(cr, t);
    cairo_move_to(cr, right_aligned ? x - w : x, y);
    cairo_show_text(cr, util::valid_utf8(t).c_str());
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
