// Draws the pictures compiled into the window: the application icon (128×128) and the locked
// previews of the sensor cards and the disk cards (336×130, light and dark). Run by the build:
//
//   draw_images OUT_DIR [ICON_SIZE...]
//
// writes OUT_DIR/<name>.png for each picture and OUT_DIR/embedded_images.h with their bytes,
// and the icon once more at each ICON_SIZE as OUT_DIR/app_icon_<N>.png (installed into the
// desktop's icon theme, not compiled in), so the menu shows the same picture as the window.
// Text is drawn as soft bars, so the pictures do not depend on the fonts of the build machine.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Colour {
    double r, g, b;
};

Colour hex(unsigned v) {
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

void source(cairo_t* cr, unsigned v, double a = 1) {
    Colour c = hex(v);
    cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

void rounded(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min(r, std::min(w, h) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// A line of text stood in for by a rounded bar.
void text_bar(cairo_t* cr, double x, double y, double w, double h, unsigned colour, double a) {
    rounded(cr, x, y, w, h, h / 2);
    source(cr, colour, a);
    cairo_fill(cr);
}

struct Theme {
    bool dark;
    unsigned background, panel, text, accent, dim;
};

const Theme light{false, 0xF2F1F0, 0xFFFFFF, 0x2E3436, 0x1A5FB4, 0x5E5C64};
const Theme dark{true, 0x17171A, 0x212126, 0xF2F2F5, 0x7FB3F5, 0xADADB5};

void card(cairo_t* cr, const Theme& t, double x, double y, double w, double h) {
    rounded(cr, x, y, w, h, 8);
    source(cr, t.panel);
    cairo_fill_preserve(cr);
    source(cr, t.text, t.dark ? 0.14 : 0.10);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void background(cairo_t* cr, const Theme& t, int w, int h) {
    source(cr, t.background);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_fill(cr);
}

// ---- Application icon -----------------------------------------------------------------------

void draw_icon(cairo_t* cr) {
    const double S = 128;
    // Tile with a soft drop shadow.
    for (int i = 6; i >= 1; --i) {
        rounded(cr, 8 - i * 0.3, 10 + i * 0.6, S - 16 + i * 0.6, S - 16 + i * 0.3, 28);
        cairo_set_source_rgba(cr, 0.05, 0.08, 0.2, 0.035);
        cairo_fill(cr);
    }
    rounded(cr, 8, 6, S - 16, S - 16, 28);
    cairo_pattern_t* tile = cairo_pattern_create_linear(8, 6, S - 8, S - 10);
    Colour a = hex(0x3D7BEA), b = hex(0x1E2F86);
    cairo_pattern_add_color_stop_rgb(tile, 0, a.r, a.g, a.b);
    cairo_pattern_add_color_stop_rgb(tile, 1, b.r, b.g, b.b);
    cairo_set_source(cr, tile);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(tile);
    // Faint circuit traces across the tile, clipped to it.
    cairo_save(cr);
    cairo_clip(cr);
    cairo_set_line_width(cr, 2.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.13);
    const double traces[][6] = {
        {8, 30, 26, 30, 38, 42},    {8, 96, 24, 96, 36, 84},    {120, 34, 104, 34, 92, 46},
        {120, 92, 106, 92, 92, 78}, {44, 6, 44, 22, 50, 28},    {86, 6, 86, 20, 78, 28},
        {46, 122, 46, 104, 52, 98}, {84, 122, 84, 106, 76, 98},
    };
    for (const auto& t : traces) {
        cairo_move_to(cr, t[0], t[1]);
        cairo_line_to(cr, t[2], t[3]);
        cairo_line_to(cr, t[4], t[5]);
        cairo_stroke(cr);
        cairo_arc(cr, t[4], t[5], 2.6, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    // Highlight along the top edge.
    cairo_pattern_t* gloss = cairo_pattern_create_linear(0, 6, 0, 60);
    cairo_pattern_add_color_stop_rgba(gloss, 0, 1, 1, 1, 0.18);
    cairo_pattern_add_color_stop_rgba(gloss, 1, 1, 1, 1, 0);
    cairo_set_source(cr, gloss);
    cairo_paint(cr);
    cairo_pattern_destroy(gloss);
    cairo_restore(cr);

    // The chip: gold pins, a silver body, a dark die with a live trace.
    const double m = 64, half = 27;
    source(cr, 0xF1B842);
    for (int k = -2; k <= 2; ++k) {
        double at = m + k * 10.5 - 2.6;
        rounded(cr, at, m - half - 8, 5.2, 2 * half + 16, 2.4);
        cairo_fill(cr);
        rounded(cr, m - half - 8, at, 2 * half + 16, 5.2, 2.4);
        cairo_fill(cr);
    }
    rounded(cr, m - half + 1, m - half + 3, 2 * half, 2 * half, 9);
    cairo_set_source_rgba(cr, 0, 0, 0.1, 0.28);
    cairo_fill(cr);
    rounded(cr, m - half, m - half, 2 * half, 2 * half, 9);
    cairo_pattern_t* body = cairo_pattern_create_linear(0, m - half, 0, m + half);
    Colour top = hex(0xE9EEF7), bottom = hex(0xA9B4C8);
    cairo_pattern_add_color_stop_rgb(body, 0, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(body, 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, body);
    cairo_fill(cr);
    cairo_pattern_destroy(body);

    const double d = 17;
    rounded(cr, m - d, m - d, 2 * d, 2 * d, 5);
    cairo_pattern_t* die = cairo_pattern_create_linear(0, m - d, 0, m + d);
    Colour dt = hex(0x22304F), db = hex(0x111828);
    cairo_pattern_add_color_stop_rgb(die, 0, dt.r, dt.g, dt.b);
    cairo_pattern_add_color_stop_rgb(die, 1, db.r, db.g, db.b);
    cairo_set_source(cr, die);
    cairo_fill(cr);
    cairo_pattern_destroy(die);

    cairo_set_line_width(cr, 3);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    source(cr, 0x5FE3FF);
    const double pulse[][2] = {{-12, 3}, {-6, 3}, {-3, -6}, {1, 9}, {5, -10}, {8, 3}, {12, 3}};
    for (size_t i = 0; i < sizeof pulse / sizeof pulse[0]; ++i) {
        if (i == 0)
            cairo_move_to(cr, m + pulse[i][0], m + pulse[i][1]);
        else
            cairo_line_to(cr, m + pulse[i][0], m + pulse[i][1]);
    }
    cairo_stroke(cr);
    // Pin-one mark.
    cairo_arc(cr, m - half + 7, m - half + 7, 2.4, 0, 2 * M_PI);
    cairo_set_source_rgba(cr, 0.2, 0.25, 0.35, 0.55);
    cairo_fill(cr);
}

// ---- Sensor cards preview -------------------------------------------------------------------

void sensor_card(cairo_t* cr, const Theme& t, double x, double y, double w, unsigned colour,
                 const std::vector<double>& history, double label_w, double value_w) {
    const double h = 56;
    card(cr, t, x, y, w, h);
    text_bar(cr, x + 9, y + 8, label_w, 6, t.text, 0.55);
    text_bar(cr, x + 9, y + 18, label_w * 0.55, 4.5, t.dim, 0.45);
    text_bar(cr, x + w - 9 - value_w, y + 8, value_w, 10, colour, 0.95);
    // History graph.
    const double gx = x + 9, gy = y + 29, gw = w - 18, gh = 20;
    rounded(cr, gx, gy, gw, gh, 3);
    source(cr, t.text, t.dark ? 0.10 : 0.05);
    cairo_fill(cr);
    double lo = 1e9, hi = -1e9;
    for (double v : history)
        lo = std::min(lo, v), hi = std::max(hi, v);
    auto px = [&](size_t i) { return gx + gw * i / (history.size() - 1); };
    auto py = [&](double v) { return gy + gh - 2 - (gh - 4) * (v - lo) / (hi - lo); };
    cairo_move_to(cr, px(0), gy + gh);
    for (size_t i = 0; i < history.size(); ++i)
        cairo_line_to(cr, px(i), py(history[i]));
    cairo_line_to(cr, px(history.size() - 1), gy + gh);
    cairo_close_path(cr);
    source(cr, colour, 0.3);
    cairo_fill(cr);
    for (size_t i = 0; i < history.size(); ++i)
        if (i == 0)
            cairo_move_to(cr, px(i), py(history[i]));
        else
            cairo_line_to(cr, px(i), py(history[i]));
    source(cr, colour, 0.95);
    cairo_set_line_width(cr, 1.4);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

std::vector<double> wave(double base, double amp, double freq, double phase, double drift) {
    std::vector<double> v;
    for (int i = 0; i < 48; ++i)
        v.push_back(base + amp * std::sin(i * freq + phase) +
                    amp * 0.2 * std::sin(i * freq * 2.3 + 1) + drift * i / 48.0);
    return v;
}

void draw_sensors(cairo_t* cr, const Theme& t) {
    background(cr, t, 336, 130);
    const double w = (336 - 30) / 2.0;
    sensor_card(cr, t, 10, 8, w, 0xE3B341, wave(58, 3, 0.45, 0.3, 6), 64, 40);
    sensor_card(cr, t, 20 + w, 8, w, 0x2EA043, wave(41, 1.5, 0.35, 1.2, 1), 52, 36);
    sensor_card(cr, t, 10, 68, w, 0xE5484D, wave(81, 4, 0.6, 2.0, 4), 72, 40);
    sensor_card(cr, t, 20 + w, 68, w, t.accent, wave(12, 0.2, 0.5, 0.7, 0), 46, 34);
}

// ---- Disk card preview ----------------------------------------------------------------------

void draw_disks(cairo_t* cr, const Theme& t) {
    background(cr, t, 336, 130);
    const double x = 10, y = 8, w = 316, h = 114;
    card(cr, t, x, y, w, h);
    text_bar(cr, x + 12, y + 11, 74, 9, t.text, 0.75);
    text_bar(cr, x + 94, y + 13, 92, 6, t.dim, 0.45);
    text_bar(cr, x + w - 12 - 46, y + 11, 46, 9, t.accent, 0.9);
    text_bar(cr, x + 12, y + 27, 120, 5, t.dim, 0.4);

    const double bx = x + 12, by = y + 38, bw = w - 24, bh = 26;
    rounded(cr, bx, by, bw, bh, 5);
    source(cr, t.text, t.dark ? 0.10 : 0.07);
    cairo_fill(cr);
    const unsigned slices[] = {0x3584E4, 0x2EC27E, 0xF5C211, 0xC061CB};
    const double share[] = {0.08, 0.52, 0.30, 0.10};
    const double used[] = {0.35, 0.74, 0.48, 0.0};
    double sx = bx;
    for (int i = 0; i < 4; ++i) {
        double sw = std::max(bw * share[i] - 2, 2.0);
        rounded(cr, sx, by, sw, bh, 4);
        source(cr, slices[i], 0.28);
        cairo_fill_preserve(cr);
        cairo_save(cr);
        cairo_clip_preserve(cr);
        cairo_new_path(cr);
        if (used[i] > 0) {
            cairo_rectangle(cr, sx, by, sw * used[i], bh);
            source(cr, slices[i], 0.92);
            cairo_fill(cr);
        }
        cairo_restore(cr);
        rounded(cr, sx, by, sw, bh, 4);
        source(cr, slices[i], 0.9);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        sx += bw * share[i];
    }
    // Legend in two columns.
    for (int i = 0; i < 4; ++i) {
        double lx = bx + (i % 2) * bw / 2, ly = by + bh + 10 + 12 * (i / 2);
        rounded(cr, lx, ly, 7, 7, 2);
        source(cr, slices[i], 0.9);
        cairo_fill(cr);
        text_bar(cr, lx + 12, ly + 1, 96 - 14 * (i % 3), 5, t.text, 0.45);
    }
    // Read and write rates.
    text_bar(cr, x + w - 12 - 58, y + h - 15, 58, 6, 0x4FD2FF, 0.95);
    text_bar(cr, x + w - 12 - 58 - 14 - 56, y + h - 15, 56, 6, 0x3BE08C, 0.95);
}

// ---- Output ---------------------------------------------------------------------------------

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::vector<unsigned char>*>(closure)->insert(
        static_cast<std::vector<unsigned char>*>(closure)->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

struct Picture {
    std::string name;
    std::vector<unsigned char> png;
};

template <typename Draw> Picture render(const std::string& name, int w, int h, Draw draw) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    cairo_destroy(cr);
    Picture p{name, {}};
    cairo_surface_write_to_png_stream(surface, append, &p.png);
    cairo_surface_destroy(surface);
    return p;
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

bool save(const std::string& dir, const Picture& p) {
    if (!p.png.empty() &&
        write_file(dir + "/" + p.name + ".png", std::string(p.png.begin(), p.png.end())))
        return true;
    std::fprintf(stderr, "draw_images: cannot write %s\n", p.name.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> icon_sizes;
    for (int i = 2; i < argc; ++i)
        icon_sizes.push_back(std::atoi(argv[i]));
    if (argc < 2 || std::any_of(icon_sizes.begin(), icon_sizes.end(),
                                [](int n) { return n < 1 || n > 4096; })) {
        std::fprintf(stderr, "usage: draw_images OUT_DIR [ICON_SIZE...]\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<Picture> pictures = {
        render("app_icon", 128, 128, draw_icon),
        render("sensors_light", 336, 130, [](cairo_t* cr) { draw_sensors(cr, light); }),
        render("sensors_dark", 336, 130, [](cairo_t* cr) { draw_sensors(cr, dark); }),
        render("disks_light", 336, 130, [](cairo_t* cr) { draw_disks(cr, light); }),
        render("disks_dark", 336, 130, [](cairo_t* cr) { draw_disks(cr, dark); }),
    };
    std::string header = "// Generated by tools/draw_images.cc. Do not edit.\n#pragma once\n\n"
                         "namespace embedded {\n";
    for (const auto& p : pictures) {
        if (!save(dir, p)) return 1;
        header += "\ninline constexpr unsigned char " + p.name + "[] = {";
        for (size_t i = 0; i < p.png.size(); ++i) {
            if (i % 16 == 0) header += "\n   ";
            char b[8];
            std::snprintf(b, sizeof b, " %u,", p.png[i]);
            header += b;
        }
        header += "\n};\n";
    }
    header += "\n} // namespace embedded\n";
    for (int size : icon_sizes) {
        Picture p = render("app_icon_" + std::to_string(size), size, size, [size](cairo_t* cr) {
            cairo_scale(cr, size / 128.0, size / 128.0);
            draw_icon(cr);
        });
        if (!save(dir, p)) return 1;
    }
    if (!write_file(dir + "/embedded_images.h", header)) {
        std::fprintf(stderr, "draw_images: cannot write the header\n");
        return 1;
    }
    return 0;
}
