#include "gui/tree_icons.h"

#include <gdk/gdk.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>

namespace tree_icons {

namespace {

void set_hex(cairo_t* cr, unsigned rgb, double alpha = 1.0) {
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                          (rgb & 0xFF) / 255.0, alpha);
}

void rounded_square(cairo_t* cr, double x0, double y0, double x1, double y1, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - r, y0 + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x1 - r, y1 - r, r, 0, M_PI / 2);
    cairo_arc(cr, x0 + r, y1 - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x0 + r, y0 + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void draw_chip(cairo_t* cr, int s) {
    const double u = s / 20.0, m = s / 2.0;
    set_hex(cr, 0xF1B842);
    for (int k = -1; k <= 1; ++k) {
        double at = m + 4 * u * k - 0.75 * u;
        cairo_rectangle(cr, at, m - 8.6 * u, 1.5 * u, 17.2 * u);
        cairo_rectangle(cr, m - 8.6 * u, at, 17.2 * u, 1.5 * u);
    }
    cairo_fill(cr);

    rounded_square(cr, m - 6.2 * u, m - 6.2 * u, m + 6.2 * u, m + 6.2 * u, 1.6 * u);
    cairo_pattern_t* body = cairo_pattern_create_linear(0, m - 6.2 * u, 0, m + 6.2 * u);
    cairo_pattern_add_color_stop_rgb(body, 0, 0x80 / 255.0, 0x8E / 255.0, 0xA8 / 255.0);
    cairo_pattern_add_color_stop_rgb(body, 1, 0x3A / 255.0, 0x42 / 255.0, 0x56 / 255.0);
    cairo_set_source(cr, body);
    cairo_fill(cr);
    cairo_pattern_destroy(body);

    const double d = 0.58 * 6.2 * u;
    set_hex(cr, 0x161C2A);
    cairo_rectangle(cr, m - d, m - d, 2 * d, 2 * d);
    cairo_fill(cr);

    set_hex(cr, 0x78BEFA, 0.55);
    cairo_set_line_width(cr, std::max(0.7 * u, 1.0));
    for (double y : {m - 0.35 * d, m + 0.35 * d}) {
        cairo_move_to(cr, m - 0.62 * d, y);
        cairo_line_to(cr, m + 0.62 * d, y);
    }
    cairo_stroke(cr);
}

// A lone symbol such as U+2699 or U+26A0 defaults to text presentation: a black glyph that
// vanishes on the dark palette. Asking for the emoji presentation gives the coloured picture
// where a font has one; otherwise the glyph is drawn in a grey that reads on either palette.
std::string with_emoji_presentation(const std::string& text) {
    const gchar* end = nullptr;
    if (!g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), &end)) return text;
    if (g_utf8_strlen(text.c_str(), -1) != 1) return text;
    gunichar c = g_utf8_get_char(text.c_str());
    if (c < 0x2000 || c == 0xFE0F) return text;
    return text + "\xEF\xB8\x8F"; // U+FE0F
}

void draw_text_icon(cairo_t* cr, const std::string& icon_text, int s) {
    const std::string text = with_emoji_presentation(icon_text);
    cairo_set_source_rgb(cr, 0x8A / 255.0, 0x8A / 255.0, 0x92 / 255.0);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_size(font, static_cast<int>(0.78 * s * PANGO_SCALE));
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    if (!text.empty() && logical.width > 0 && logical.height > 0) {
        double k = std::min(double(s) / logical.height, double(s) / logical.width);
        cairo_translate(cr, (s - logical.width * k) / 2, (s - logical.height * k) / 2);
        cairo_scale(cr, k, k);
        pango_cairo_show_layout(cr, layout);
    }
    g_object_unref(layout);
}

GdkPixbuf* render(const std::string& text, int s) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s, s);
    cairo_t* cr = cairo_create(surface);
    if (text == cpu_marker)
        draw_chip(cr, s);
    else
        draw_text_icon(cr, text, s);
    cairo_destroy(cr);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, s, s);
    cairo_surface_destroy(surface);
    return pixbuf;
}

} // namespace

GdkPixbuf* icon(const std::string& text, int size) {
    static std::map<std::pair<std::string, int>, GdkPixbuf*> cache;
    // The window's first icons are drawn on the first collection's thread.
    static std::mutex cache_mutex;
    std::lock_guard<std::mutex> lock(cache_mutex);
    size = std::max(size, 1);
    auto key = std::make_pair(text, size);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    GdkPixbuf* pixbuf = render(text, size);
    cache.emplace(key, pixbuf);
    return pixbuf;
}

} // namespace tree_icons
