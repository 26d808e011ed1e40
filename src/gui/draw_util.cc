#include "gui/draw_util.h"

#include "i18n.h"
#include "util.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
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

std::string isolate(const std::string& text) {
    return "\u2068" + text + "\u2069";
}

std::string left_to_right(const std::string& text) {
    return "\u2066" + text + "\u2069";
}

std::string in_reading_order(const std::vector<std::string>& parts, const std::string& separator) {
    // With every part isolated nothing is left to set the line's direction but this mark.
    std::string line = I18n::instance().is_rtl() ? "\u200F" : "\u200E";
    bool first = true;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!first) line += separator;
        line += isolate(part);
        first = false;
    }
    return first ? std::string() : line;
}

std::string without_direction_marks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        // U+200E, U+200F and U+2066 to U+2069 are E2 80 8E/8F and E2 81 A6 to A9 in UTF-8.
        if (i + 2 < text.size() && text[i] == '\xE2') {
            const auto b1 = static_cast<unsigned char>(text[i + 1]),
                       b2 = static_cast<unsigned char>(text[i + 2]);
            if ((b1 == 0x80 && (b2 == 0x8E || b2 == 0x8F)) ||
                (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9)) {
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

void mirror(cairo_t* cr, double width) {
    cairo_translate(cr, width, 0);
    cairo_scale(cr, -1, 1);
}

namespace {

bool mirrored(cairo_t* cr) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    return m.xx < 0;
}

// Text is laid out by Pango in the font selected on the context: cairo's own text functions
// neither join Arabic letters nor put right-to-left words in their order. Invalid UTF-8 from a
// device name costs one character, never the text.
PangoLayout* layout_for(cairo_t* cr, const std::string& text) {
    // Measured as it is shown: upright, also on a mirrored panel.
    cairo_save(cr);
    if (mirrored(cr)) cairo_scale(cr, -1, 1);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    cairo_restore(cr);
    PangoFontDescription* desc = pango_font_description_new();
    cairo_font_face_t* face = cairo_get_font_face(cr);
    const bool toy = cairo_font_face_get_type(face) == CAIRO_FONT_TYPE_TOY;
    pango_font_description_set_family(desc,
                                      toy ? cairo_toy_font_face_get_family(face) : "sans-serif");
    pango_font_description_set_weight(desc, toy && cairo_toy_font_face_get_weight(face) ==
                                                        CAIRO_FONT_WEIGHT_BOLD
                                                ? PANGO_WEIGHT_BOLD
                                                : PANGO_WEIGHT_NORMAL);
    cairo_matrix_t m;
    cairo_get_font_matrix(cr, &m);
    pango_font_description_set_absolute_size(desc, m.yy * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    const std::string valid = util::valid_utf8(text);
    pango_layout_set_text(layout, valid.c_str(), static_cast<int>(valid.size()));
    return layout;
}

double layout_width(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

// Shows `layout` over the span [left, left + width] with its top at y. On a mirrored context
// the span is mirrored and the glyphs are not.
void show(cairo_t* cr, PangoLayout* layout, double left, double width, double y) {
    cairo_save(cr);
    if (mirrored(cr)) {
        cairo_translate(cr, left + width, 0);
        cairo_scale(cr, -1, 1);
        left = 0;
    }
    cairo_move_to(cr, left, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

} // namespace

double text_width(cairo_t* cr, const std::string& text) {
    if (text.empty()) return 0;
    PangoLayout* layout = layout_for(cr, text);
    const double w = layout_width(layout);
    g_object_unref(layout);
    return w;
}

namespace {

template <typename T> void append_bytes(std::string& key, const T& value) {
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Everything a width measured by layout_for depends on besides the text: the face, its size,
// the font options and the scales Pango hints for.
std::string measure_key(cairo_t* cr, const std::string& text, double max_width) {
    std::string key;
    key.reserve(text.size() + 96);
    cairo_font_face_t* face = cairo_get_font_face(cr);
    if (cairo_font_face_get_type(face) == CAIRO_FONT_TYPE_TOY) {
        key += cairo_toy_font_face_get_family(face);
        append_bytes(key, cairo_toy_font_face_get_weight(face));
    }
    key += '\0';
    cairo_matrix_t font_matrix, ctm;
    cairo_get_font_matrix(cr, &font_matrix);
    cairo_get_matrix(cr, &ctm);
    for (double v : {font_matrix.yy, std::fabs(ctm.xx), ctm.xy, ctm.yx, ctm.yy, max_width})
        append_bytes(key, v);
    double sx = 1, sy = 1;
    cairo_surface_get_device_scale(cairo_get_target(cr), &sx, &sy);
    append_bytes(key, sx);
    append_bytes(key, sy);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_surface_get_font_options(cairo_get_target(cr), options);
    cairo_font_options_t* own = cairo_font_options_create();
    cairo_get_font_options(cr, own);
    cairo_font_options_merge(options, own);
    append_bytes(key, cairo_font_options_hash(options));
    cairo_font_options_destroy(own);
    cairo_font_options_destroy(options);
    append_bytes(key, pango_cairo_font_map_get_resolution(
                          PANGO_CAIRO_FONT_MAP(pango_cairo_font_map_get_default())));
    key += text;
    return key;
}

std::string elide_by_measuring(cairo_t* cr, const std::string& text, double max_width) {
    if (text_width(cr, text) <= max_width) return text;
    // The text may be cut before any byte that continues no character, never before the first.
    std::vector<size_t> cuts;
    for (size_t at = 1; at < text.size(); ++at)
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) cuts.push_back(at);
    // The longest head that fits with the ellipsis. Widths grow with the head, so halving the
    // range finds it in a few measurements, where a long name cut one character at a time cost
    // a layout per character, once a second in the monitor bar.
    size_t fitting = 0, beyond = cuts.size();
    while (fitting < beyond) {
        const size_t mid = fitting + (beyond - fitting) / 2;
        if (text_width(cr, text.substr(0, cuts[mid]) + "…") <= max_width)
            fitting = mid + 1;
        else
            beyond = mid;
    }
    return fitting == 0 ? std::string() : text.substr(0, cuts[fitting - 1]) + "…";
}

} // namespace

std::string elide(cairo_t* cr, const std::string& text, double max_width) {
    if (max_width <= 0) return {};
    // The panels redraw once a second with the same names, and each elision lays the text out
    // several times: in the idle window that was a tenth of the program's processor time.
    // First frames are drawn on another thread, so each thread keeps its own.
    struct Remembered {
        std::string key, elided;
    };
    thread_local std::array<Remembered, 32> remembered;
    thread_local size_t next = 0;
    std::string key = measure_key(cr, text, max_width);
    for (const Remembered& r : remembered)
        if (r.key == key) return r.elided;
    Remembered& slot = remembered[next];
    next = (next + 1) % remembered.size();
    slot.elided = elide_by_measuring(cr, text, max_width);
    slot.key = std::move(key);
    return slot.elided;
}

double text(cairo_t* cr, double x, double y, const std::string& t, bool right_aligned) {
    if (t.empty()) return 0;
    PangoLayout* layout = layout_for(cr, t);
    const double w = layout_width(layout);
    const double baseline = static_cast<double>(pango_layout_get_baseline(layout)) / PANGO_SCALE;
    show(cr, layout, right_aligned ? x - w : x, w, y - baseline);
    g_object_unref(layout);
    return w;
}

bool rows_visible(cairo_t* cr, double y, double h) {
    double x0 = 0, top = 0, x1 = 0, bottom = 0;
    cairo_clip_extents(cr, &x0, &top, &x1, &bottom);
    // Half a line width of slack: outlines are stroked across the edges of their shapes.
    return y + h + 1 >= top && y - 1 <= bottom;
}

void card(cairo_t* cr, double x, double y, double w, double h, const Palette& p) {
    rounded_rect(cr, x, y, w, h, 8);
    set_hex(cr, p.panel);
    cairo_fill_preserve(cr);
    set_hex(cr, p.text, p.dark ? 0.14 : 0.10);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

double paragraph(cairo_t* cr, double x, double y, double width, const std::string& t, double size) {
    if (t.empty() || width <= 0) return 0;
    font(cr, size);
    PangoLayout* layout = layout_for(cr, t);
    pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    show(cr, layout, x, width,
         y - static_cast<double>(pango_layout_get_baseline(layout)) / PANGO_SCALE);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    return h;
}

void history(cairo_t* cr, double x, double y, double w, double h, const std::deque<double>& values,
             double lo, double hi, bool newest_at_right, const std::string& colour,
             double fill_alpha, double line_width, double line_alpha) {
    if (values.size() < 2 || w <= 0 || h <= 2) return;
    const double step = w / 119;
    const double span = hi > lo ? hi - lo : 1;
    const double first_x =
        newest_at_right ? x + w - step * static_cast<double>(values.size() - 1) : x;
    const double bottom = y + h - 1;
    cairo_new_path(cr);
    for (size_t i = 0; i < values.size(); ++i) {
        const double f = std::clamp((values[i] - lo) / span, 0.0, 1.0);
        cairo_line_to(cr, first_x + step * static_cast<double>(i), bottom - f * (h - 2));
    }
    cairo_path_t* line = cairo_copy_path(cr);
    if (fill_alpha > 0) {
        cairo_line_to(cr, first_x + step * static_cast<double>(values.size() - 1), y + h);
        cairo_line_to(cr, first_x, y + h);
        cairo_close_path(cr);
        set_hex(cr, colour, fill_alpha);
        cairo_fill(cr);
    }
    cairo_new_path(cr);
    cairo_append_path(cr, line);
    cairo_path_destroy(line);
    set_hex(cr, colour, line_alpha);
    cairo_set_line_width(cr, line_width);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

} // namespace draw
