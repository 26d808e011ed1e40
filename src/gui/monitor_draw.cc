#include "gui/monitor_draw.h"

#include "gui/draw_util.h"
#include "i18n.h"
#include "util.h"

#include <gdk/gdk.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace monitor {

namespace {

void set_load(cairo_t* cr, double percent, double alpha = 1.0) {
    draw::set_rgb(cr, load_color(percent), alpha);
}

void title(cairo_t* cr, double w, const std::string& text, const Palette& p) {
    draw::font(cr, 11, true);
    draw::set_hex(cr, p.dim);
    draw::text(cr, 8, 15, draw::elide(cr, text, w - 16));
}

// The gap before a bar, by how its CPU relates to the one drawn before it. A neighbour of
// unknown topology counts as a thread of the same core.
struct Gaps {
    double thread, core, socket;
};

Gaps gaps_for(double slot) {
    if (slot >= 8) return {1, 4, 12};
    if (slot >= 4) return {1, 2, 6};
    return {0.5, 0.5, 4};
}

int at(const std::vector<int>& v, int cpu) {
    return cpu >= 0 && static_cast<size_t>(cpu) < v.size() ? v[static_cast<size_t>(cpu)] : -1;
}

double gap_between(int a, int b, const live::CpuIdentity& id, const Gaps& g) {
    const int sa = at(id.socket_of_cpu, a), sb = at(id.socket_of_cpu, b);
    if (sa >= 0 && sb >= 0 && sa != sb) return g.socket;
    const int ca = at(id.core_of_cpu, a), cb = at(id.core_of_cpu, b);
    if (ca >= 0 && cb >= 0 && ca != cb) return g.core;
    return g.thread;
}

// Every CPU number below `cpus` once: those of known topology in its order, then the rest
// (offline or unknown CPUs that /proc/stat still numbers).
std::vector<int> full_order(size_t cpus, const live::CpuIdentity& id) {
    std::vector<int> order;
    std::vector<bool> placed(cpus);
    for (int c : id.draw_order)
        if (c >= 0 && static_cast<size_t>(c) < cpus && !placed[static_cast<size_t>(c)])
            order.push_back(c), placed[static_cast<size_t>(c)] = true;
    for (size_t c = 0; c < cpus; ++c)
        if (!placed[c]) order.push_back(static_cast<int>(c));
    return order;
}

} // namespace

void panel_background(cairo_t* cr, double w, double h, const Palette& p) {
    draw::rounded_rect(cr, 1.5, 1.5, w - 3, h - 3, 7);
    draw::set_grey(cr, p, p.dark ? 0.07 : 0.05);
    cairo_fill(cr);
}

// ---- Memory ---------------------------------------------------------------------------------

void draw_ram(cairo_t* cr, double w, double h, const live::MonitorFigures& f, const Palette& p) {
    panel_background(cr, w, h, p);
    title(cr, w, tr("monitor.memory"), p);
    const double gauge = h - 30;
    if (gauge > 0) {
        const double percent = f.memory.percent;
        draw::rounded_rect(cr, 8, 22, 22, gauge, 4);
        draw::set_grey(cr, p, 0.1);
        cairo_fill(cr);
        const double fill = std::clamp(percent / 100, 0.0, 1.0) * gauge;
        if (fill > 1) {
            cairo_save(cr);
            draw::rounded_rect(cr, 8, 22, 22, gauge, 4);
            cairo_clip(cr);
            const Rgb c = load_color(percent);
            cairo_pattern_t* grad =
                cairo_pattern_create_linear(0, 22 + gauge - fill, 0, 22 + gauge);
            cairo_pattern_add_color_stop_rgba(grad, 0, c.r, c.g, c.b, 0.95);
            cairo_pattern_add_color_stop_rgba(grad, 1, c.r, c.g, c.b, 0.55);
            cairo_set_source(cr, grad);
            cairo_rectangle(cr, 8, 22 + gauge - fill, 22, fill);
            cairo_fill(cr);
            cairo_pattern_destroy(grad);
            cairo_restore(cr);
        }
        draw::set_grey(cr, p, 0.18);
        cairo_set_line_width(cr, 1);
        for (double q : {0.25, 0.5, 0.75}) {
            const double y = std::round(22 + gauge * q) + 0.5;
            cairo_move_to(cr, 8, y);
            cairo_line_to(cr, 30, y);
        }
        cairo_stroke(cr);
    }
    draw::font(cr, 14, true);
    draw::set_hex(cr, p.dark ? "#E5E5E7" : "#2E3436");
    draw::text(cr, 38, 36, util::fmt_percent(f.memory.percent, 0));
    if (f.memory.total != 0) {
        draw::font(cr, 9);
        draw::set_hex(cr, p.dim);
        draw::text(cr, 38, 52, util::fmt_bytes(f.memory.used));
        draw::set_hex(cr, p.dim, 0.7);
        draw::text(cr, 38, 64, util::fmt_bytes(f.memory.total));
    }
}

// ---- Temperature ----------------------------------------------------------------------------

void draw_temp(cairo_t* cr, double w, double h, const live::MonitorFigures& f, const Palette& p) {
    panel_background(cr, w, h, p);
    title(cr, w, tr("monitor.temperature"), p);
    const double t = f.temp_now;
    if (t < 0) {
        draw::font(cr, 12);
        draw::set_hex(cr, p.dim);
        draw::text(cr, 8, h / 2 + 6, tr("monitor.no_value"));
        return;
    }
    // 30 °C reads green, 95 °C red.
    const double heat = std::clamp((t - 30) / 65, 0.0, 1.0) * 100;
    draw::font(cr, 21, true);
    set_load(cr, heat);
    draw::text(cr, 8, 46, util::fmt_double(t, 1) + " °C");
    if (!f.temp_label.empty()) {
        draw::font(cr, 9);
        draw::set_hex(cr, p.dim);
        draw::text(cr, 8, 60, draw::elide(cr, f.temp_label, w - 16));
    }
    if (f.temp_history.size() < 2) return;
    auto [lo_it, hi_it] = std::minmax_element(f.temp_history.begin(), f.temp_history.end());
    double lo = *lo_it, hi = *hi_it;
    if (hi - lo < 2) {
        const double mid = (hi + lo) / 2;
        lo = mid - 1, hi = mid + 1;
    }
    // The line's lowest point sits 8 pixels above the bottom, its highest 16 above that.
    draw::history(cr, 8, h - 25, w - 16, 18, f.temp_history, lo, hi, true,
                  rgb_to_hex(load_color(heat)), 0, 1.3, 0.85);
}

// ---- Processor ------------------------------------------------------------------------------

std::string topology_note(const live::MonitorFigures& f) {
    const live::CpuIdentity& id = f.identity;
    if (id.sockets > 1)
        return util::fmt_int(static_cast<uint64_t>(id.sockets)) + " " + tr("monitor.sockets");
    if (id.cores_physical > 0 && id.cpus_present > 0)
        return util::fmt_int(static_cast<uint64_t>(id.cores_physical)) + "C/" +
               util::fmt_int(static_cast<uint64_t>(id.cpus_present)) + "T";
    // Without the processor counters (a capture that lacks them) there is nothing to count.
    if (f.cpu.per_cpu.empty()) return {};
    return util::fmt_int(f.cpu.per_cpu.size()) + "T";
}

std::string cpu_header(const live::MonitorFigures& f) {
    return draw::in_reading_order({tr("monitor.cpu"), topology_note(f), f.identity.name}, "   ");
}

BarLayout layout_bars(double x, double y, double width, double height, size_t cpus,
                      const live::CpuIdentity& id) {
    BarLayout out;
    if (cpus == 0 || width <= 0 || height <= 0) return out;
    const std::vector<int> order = full_order(cpus, id);
    const Gaps g = gaps_for(width / static_cast<double>(cpus));
    std::vector<double> gap(order.size(), 0); // before each bar within its row
    for (size_t i = 1; i < order.size(); ++i)
        gap[i] = gap_between(order[i - 1], order[i], id, g);

    int rows = 16;
    size_t per_row = (cpus + 15) / 16;
    double bar_width = 0;
    for (int r = 1; r <= 16; ++r) {
        const size_t c = (cpus + static_cast<size_t>(r) - 1) / static_cast<size_t>(r);
        // The widest row decides, so no row runs past the panel's edge.
        double widest = 0;
        for (size_t start = 0; start < cpus; start += c) {
            double sum = 0;
            for (size_t i = start + 1; i < std::min(cpus, start + c); ++i)
                sum += gap[i];
            widest = std::max(widest, sum);
        }
        const double bw = (width - widest) / static_cast<double>(c);
        rows = r, per_row = c, bar_width = bw;
        if (bw >= 3) break;
    }
    const double row_height = (height - 3.0 * (rows - 1)) / rows;
    if (row_height >= 7) {
        out.rows = rows;
        out.row_height = row_height;
        for (size_t i = 0; i < cpus; ++i) {
            const size_t row = i / per_row;
            const double left =
                i % per_row == 0 ? x : out.slots.back().x + out.slots.back().w + gap[i];
            out.slots.push_back({order[i], left, y + static_cast<double>(row) * (row_height + 3),
                                 std::max(bar_width, 0.5), row_height});
        }
        return out;
    }
    // Too many CPUs for readable rows: one cell each, arranged to suit the area's shape.
    out.heat_map = true;
    const double n = static_cast<double>(cpus);
    const size_t columns =
        std::clamp<size_t>(static_cast<size_t>(std::ceil(std::sqrt(width / height * n))), 1, cpus);
    const size_t cell_rows = (cpus + columns - 1) / columns;
    out.rows = static_cast<int>(cell_rows);
    const double cw = width / static_cast<double>(columns);
    const double ch = height / static_cast<double>(cell_rows);
    for (size_t i = 0; i < cpus; ++i) {
        const double cx = x + static_cast<double>(i % columns) * cw;
        const double cy = y + static_cast<double>(i / columns) * ch;
        out.slots.push_back(
            {order[i], cx + 0.6, cy + 0.6, std::max(cw - 1.2, 1.0), std::max(ch - 1.2, 1.0)});
    }
    return out;
}

void draw_cpu(cairo_t* cr, double w, double h, const live::MonitorFigures& f, const Palette& p) {
    panel_background(cr, w, h, p);
    const double W = w - 16, H = h - 30;
    if (W <= 0 || H <= 0) return;

    draw::font(cr, 11, true);
    draw::set_hex(cr, p.dim);
    draw::text(cr, 8, 15, draw::elide(cr, cpu_header(f), W - 62));
    draw::font(cr, 15, true);
    set_load(cr, f.cpu.total);
    draw::text(cr, w - 8, 16, util::fmt_percent(f.cpu.total, 0), true);

    const auto& loads = f.cpu.per_cpu;
    const BarLayout layout = layout_bars(8, 22, W, H, loads.size(), f.identity);
    if (layout.heat_map) {
        for (const Slot& s : layout.slots) {
            const double load = std::clamp(loads[static_cast<size_t>(s.cpu)], 0.0, 100.0);
            set_load(cr, load, 0.22 + 0.78 * load / 100);
            cairo_rectangle(cr, s.x, s.y, s.w, s.h);
            cairo_fill(cr);
        }
    } else if (!layout.slots.empty()) {
        draw::set_grey(cr, p, 0.1);
        for (int r = 0; r < layout.rows; ++r) {
            const double y = 22 + r * (layout.row_height + 3) + layout.row_height + 0.5;
            cairo_rectangle(cr, 8, y, W, 1);
        }
        cairo_fill(cr);
        draw::set_grey(cr, p, 0.07);
        for (const Slot& s : layout.slots)
            cairo_rectangle(cr, s.x, s.y, s.w, s.h);
        cairo_fill(cr);
        for (const Slot& s : layout.slots) {
            const double load = std::clamp(loads[static_cast<size_t>(s.cpu)], 0.0, 100.0);
            const double fill = std::max(load * s.h / 100, 1.0);
            set_load(cr, load);
            cairo_rectangle(cr, s.x, s.y + s.h - fill, s.w, fill);
            cairo_fill(cr);
        }
    }

    // Over the bars, from 0 % at the graph's bottom to 100 % at its top.
    Rgb high{0.9, 0.28, 0.3};
    hex_to_rgb(p.load_high, high);
    draw::history(cr, 8, 21, W, H + 2, f.cpu_history, 0, 100, true, rgb_to_hex(high), 0, 1.8);
}

// ---- The logo panel -------------------------------------------------------------------------

const std::vector<Trace>& board_traces() {
    // Drawn on a 258 × 104 grid, the panel's natural size, with 45° jogs like routed copper;
    // stored as fractions so the board stretches with the panel.
    static const std::vector<Trace> traces = [] {
        const std::vector<std::vector<std::pair<double, double>>> grid = {
            {{4, 10}, {66, 10}, {76, 20}, {146, 20}, {156, 10}, {254, 10}},
            {{4, 95}, {46, 95}, {56, 85}, {124, 85}, {134, 95}, {254, 95}},
            {{12, 2}, {12, 34}, {22, 44}, {22, 102}},
            {{246, 2}, {246, 28}, {236, 38}, {236, 102}},
            {{172, 2}, {172, 20}, {192, 40}, {226, 40}, {236, 50}},
            {{172, 102}, {172, 84}, {190, 66}, {254, 66}},
            {{4, 52}, {34, 52}, {44, 62}, {44, 76}, {34, 86}, {4, 86}},
            {{84, 102}, {84, 94}, {100, 78}, {158, 78}, {168, 68}, {226, 68}},
            {{104, 2}, {104, 12}, {114, 22}, {114, 30}},
            {{254, 50}, {206, 50}, {196, 58}, {152, 58}, {140, 70}, {80, 70}},
            {{58, 2}, {58, 24}, {68, 34}, {68, 62}, {78, 72}, {78, 102}},
            {{4, 24}, {30, 24}, {40, 14}, {40, 2}},
            {{214, 102}, {214, 82}, {224, 76}, {254, 76}},
            {{130, 2}, {130, 14}, {140, 30}, {198, 30}, {206, 22}, {254, 22}},
        };
        std::vector<Trace> out;
        for (const auto& points : grid) {
            Trace t;
            for (auto [px, py] : points)
                t.points.emplace_back(px / 258, py / 104);
            out.push_back(std::move(t));
        }
        return out;
    }();
    return traces;
}

TraceMetrics trace_metrics(double w, double h) {
    TraceMetrics m;
    for (const Trace& t : board_traces()) {
        std::vector<double> seg;
        double total = 0;
        for (size_t i = 1; i < t.points.size(); ++i) {
            const double dx = (t.points[i].first - t.points[i - 1].first) * w;
            const double dy = (t.points[i].second - t.points[i - 1].second) * h;
            seg.push_back(std::hypot(dx, dy));
            total += seg.back();
        }
        m.seg.push_back(std::move(seg));
        m.total.push_back(total);
    }
    return m;
}

std::pair<double, double> point_on_trace(size_t i, double t, double w, double h,
                                         const TraceMetrics& m) {
    const Trace& trace = board_traces()[i];
    const auto& seg = m.seg[i];
    double d = std::clamp(t, 0.0, 1.0) * m.total[i];
    for (size_t s = 0; s < seg.size(); ++s) {
        if (d <= seg[s] || s + 1 == seg.size()) {
            const double u = seg[s] > 0 ? std::min(d / seg[s], 1.0) : 0;
            const auto [x0, y0] = trace.points[s];
            const auto [x1, y1] = trace.points[s + 1];
            return {(x0 + (x1 - x0) * u) * w, (y0 + (y1 - y0) * u) * h};
        }
        d -= seg[s];
    }
    return {trace.points.front().first * w, trace.points.front().second * h};
}

double next_phase(double phase, double cpu_percent) {
    phase += (cpu_percent / 100 * 0.33 + 0.07) * 0.033;
    return phase > 1000 ? phase - 1000 : phase;
}

namespace {

void clip_to_background(cairo_t* cr, double w, double h) {
    draw::rounded_rect(cr, 1.5, 1.5, w - 3, h - 3, 7);
    cairo_clip(cr);
}

double frac(double v) {
    return v - std::floor(v);
}

// The dots of a pulse: six tail dots, faint and small to strong and large, then the head.
constexpr int tail_dots = 6;
constexpr int head_dot = tail_dots;

// How far along the tail a dot is: 1/6 for the oldest, 1 for the one behind the head.
double tail_strength(int kind) {
    return 1 - (tail_dots - 1 - kind) / 6.0;
}

double dot_radius(int kind) {
    return kind == head_dot ? 1.5 : 1.3 + 1.6 * tail_strength(kind);
}

// Calls `dot(x, y, kind)` for each dot of every pulse, the tail oldest first, then the head.
template <class Dot>
void each_pulse_dot(double w, double h, double phase, const TraceMetrics& m, Dot dot) {
    for (size_t i = 0; i < m.total.size(); ++i) {
        for (int k = 0; k < 2; ++k) {
            const double t = frac(0.37 * static_cast<double>(i) + phase + 0.5 * k);
            for (int j = tail_dots - 1; j >= 0; --j) {
                const double tj = t - 0.012 * j;
                if (tj < 0) continue;
                const auto [x, y] = point_on_trace(i, tj, w, h, m);
                dot(x, y, tail_dots - 1 - j);
            }
            const auto [x, y] = point_on_trace(i, t, w, h, m);
            dot(x, y, head_dot);
        }
    }
}

} // namespace

void paint_board_static(cairo_t* cr, double w, double h, const Palette& p) {
    cairo_save(cr);
    clip_to_background(cr, w, h);
    cairo_set_line_width(cr, 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    draw::set_hex(cr, p.accent, p.dark ? 0.11 : 0.09);
    for (const Trace& t : board_traces()) {
        for (size_t i = 0; i < t.points.size(); ++i) {
            const double x = t.points[i].first * w, y = t.points[i].second * h;
            i == 0 ? cairo_move_to(cr, x, y) : cairo_line_to(cr, x, y);
        }
        cairo_stroke(cr);
    }
    draw::set_hex(cr, p.accent, p.dark ? 0.14 : 0.11);
    for (const Trace& t : board_traces()) {
        for (size_t i = 1; i + 1 < t.points.size(); ++i) {
            cairo_new_sub_path(cr);
            cairo_arc(cr, t.points[i].first * w, t.points[i].second * h, 2.6, 0, 2 * M_PI);
        }
    }
    cairo_fill(cr);
    cairo_restore(cr);
}

void PulseStamps::prepare(const Rgb& colour, int scale) {
    if (m_scale != scale) {
        make_coverage(scale);
        m_colour = {-1, -1, -1};
    }
    if (m_colour.r == colour.r && m_colour.g == colour.g && m_colour.b == colour.b) return;
    m_colour = colour;
    // The colour follows the load once a second: from the coverage that costs a multiplication
    // per pixel, where drawing every dot again cost a tenth of the idle animation.
    for (int kind = 0; kind <= head_dot; ++kind) {
        const double strength = tail_strength(kind);
        const Rgb c = kind == head_dot ? Rgb{1, 1, 1} : colour;
        const double alpha = kind == head_dot ? 0.55 : 0.55 * strength * strength;
        for (int sub = 0; sub < sub_steps * sub_steps; ++sub) {
            Stamp& st = m_stamps[static_cast<size_t>(kind * sub_steps * sub_steps + sub)];
            st.pixels.resize(st.coverage.size());
            for (size_t i = 0; i < st.coverage.size(); ++i) {
                const double a = alpha * st.coverage[i] / 255.0;
                auto channel = [&](double v, int shift) {
                    return static_cast<uint32_t>(std::lround(v * a * 255)) << shift;
                };
                st.pixels[i] =
                    channel(1, 24) | channel(c.r, 16) | channel(c.g, 8) | channel(c.b, 0);
            }
        }
    }
}

void PulseStamps::make_coverage(int scale) {
    m_scale = scale;
    for (int kind = 0; kind <= head_dot; ++kind) {
        const double r = dot_radius(kind) * scale;
        const int centre = static_cast<int>(std::ceil(r)) + 1;
        for (int sub = 0; sub < sub_steps * sub_steps; ++sub) {
            const int size = 2 * centre + 2;
            cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_A8, size, size);
            cairo_t* c = cairo_create(img);
            const double sx = static_cast<double>(sub % sub_steps) / sub_steps;
            const double sy = static_cast<double>(sub / sub_steps) / sub_steps;
            cairo_arc(c, centre + sx, centre + sy, r, 0, 2 * M_PI);
            cairo_fill(c);
            cairo_destroy(c);
            cairo_surface_flush(img);
            const unsigned char* data = cairo_image_surface_get_data(img);
            const int stride = cairo_image_surface_get_stride(img);
            auto at = [&](int x, int y) { return data[y * stride + x]; };
            int x0 = size, y0 = size, x1 = 0, y1 = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (at(x, y))
                        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1),
                        y1 = std::max(y1, y + 1);
            Stamp& st = m_stamps[static_cast<size_t>(kind * sub_steps * sub_steps + sub)];
            st =
                Stamp{x0 - centre, y0 - centre, std::max(x1 - x0, 0), std::max(y1 - y0, 0), {}, {}};
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    st.coverage.push_back(at(x, y));
            cairo_surface_destroy(img);
        }
    }
}

namespace {

// Premultiplied `s` over `d`, per channel: d × (255 − source alpha) / 255 + s.
inline uint32_t over(uint32_t s, uint32_t d) {
    const uint32_t keep = 255 - (s >> 24);
    uint32_t rb = (d & 0x00FF00FF) * keep + 0x00800080;
    rb = ((rb + ((rb >> 8) & 0x00FF00FF)) >> 8) & 0x00FF00FF;
    uint32_t ag = ((d >> 8) & 0x00FF00FF) * keep + 0x00800080;
    ag = (ag + ((ag >> 8) & 0x00FF00FF)) & 0xFF00FF00;
    return s + rb + ag;
}

// `n` premultiplied pixels of `src` over those of `dst`, two at a time as eight 16-bit
// channels: the same sums as `over`, which the compiler turns into a few vector instructions
// on any processor. The dots cover some ten thousand pixels a frame.
using Channels = uint16_t __attribute__((vector_size(16)));
using Bytes = uint8_t __attribute__((vector_size(8)));

void over_span(const uint32_t* src, uint32_t* dst, int n) {
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        Bytes sb, db;
        std::memcpy(&sb, src + i, sizeof sb);
        std::memcpy(&db, dst + i, sizeof db);
        const Channels s = __builtin_convertvector(sb, Channels);
        const Channels d = __builtin_convertvector(db, Channels);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        const Channels alpha = __builtin_shufflevector(s, s, 3, 3, 3, 3, 7, 7, 7, 7);
#else
        const Channels alpha = __builtin_shufflevector(s, s, 0, 0, 0, 0, 4, 4, 4, 4);
#endif
        Channels t = d * (255 - alpha) + 128;
        t = (t + (t >> 8)) >> 8;
        const Bytes out = __builtin_convertvector(t + s, Bytes);
        std::memcpy(dst + i, &out, sizeof out);
    }
    for (; i < n; ++i)
        dst[i] = over(src[i], dst[i]);
}

// `s` put in beneath `a` in `f`, which holds `a` over some picture X: the result is `a` over
// (`s` over X). Per channel, f × (1 − αs) + s × (1 − αa) + a × αs.
inline uint32_t beneath(uint32_t s, uint32_t a, uint32_t f) {
    const uint32_t as = s >> 24, aa = a >> 24;
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t c = ((f >> shift) & 0xFF) * (255 - as) + ((s >> shift) & 0xFF) * (255 - aa) +
                           ((a >> shift) & 0xFF) * as;
        out |= std::min<uint32_t>((c + 127) / 255, 255) << shift;
    }
    return out;
}

} // namespace

cairo_rectangle_int_t PulseStamps::blend(cairo_surface_t* frame, int kind, double x, double y,
                                         const cairo_rectangle_int_t& clip,
                                         const OverLayer* over_layer) const {
    const double px = x * m_scale, py = y * m_scale;
    int ix = static_cast<int>(std::floor(px)), iy = static_cast<int>(std::floor(py));
    int sx = static_cast<int>(std::lround((px - ix) * sub_steps));
    int sy = static_cast<int>(std::lround((py - iy) * sub_steps));
    if (sx == sub_steps) sx = 0, ++ix;
    if (sy == sub_steps) sy = 0, ++iy;
    const Stamp& st =
        m_stamps[static_cast<size_t>(kind * sub_steps * sub_steps + sy * sub_steps + sx)];
    unsigned char* data = cairo_image_surface_get_data(frame);
    const int stride = cairo_image_surface_get_stride(frame);
    const int left = ix + st.x, top = iy + st.y;
    const int x0 = std::max(left, clip.x), x1 = std::min(left + st.width, clip.x + clip.width);
    const int y0 = std::max(top, clip.y), y1 = std::min(top + st.height, clip.y + clip.height);
    if (x1 <= x0 || y1 <= y0) return {0, 0, 0, 0};
    const bool has_over = over_layer && over_layer->image && !over_layer->row_start.empty();
    const unsigned char* over_data =
        has_over ? cairo_image_surface_get_data(over_layer->image) : nullptr;
    const int over_stride = has_over ? cairo_image_surface_get_stride(over_layer->image) : 0;
    const size_t over_rows = has_over ? over_layer->row_start.size() - 1 : 0;
    for (int row = y0; row < y1; ++row) {
        auto* dst = reinterpret_cast<uint32_t*>(data + row * stride);
        // The stamp's pixel for column c is src[c - left].
        const uint32_t* src = st.pixels.data() + (row - top) * st.width;
        int col = x0;
        if (static_cast<size_t>(row) < over_rows) {
            const auto* above = reinterpret_cast<const uint32_t*>(over_data + row * over_stride);
            const auto first = over_layer->spans.begin() +
                               static_cast<std::ptrdiff_t>(over_layer->row_start[size_t(row)]);
            const auto last = over_layer->spans.begin() +
                              static_cast<std::ptrdiff_t>(over_layer->row_start[size_t(row) + 1]);
            // The first span that ends after x0; the spans of a row are in order.
            auto it = std::upper_bound(first, last, x0, [](int at, const std::pair<int, int>& s) {
                return at < s.second;
            });
            for (; it != last && it->first < x1; ++it) {
                const int s0 = std::max(it->first, col), s1 = std::min(it->second, x1);
                over_span(src + (col - left), dst + col, s0 - col);
                for (int c = s0; c < s1; ++c) {
                    const uint32_t a = above[c];
                    if (a >= 0xFF000000u) continue; // the product icon hides what passes beneath it
                    dst[c] = beneath(src[c - left], a, dst[c]);
                }
                col = s1;
            }
        }
        over_span(src + (col - left), dst + col, x1 - col);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

void paint_board_pulses(cairo_surface_t* frame, double w, double h, double phase,
                        double cpu_percent, const TraceMetrics& m, PulseStamps& stamps,
                        const cairo_rectangle_int_t* area, const OverLayer* over,
                        std::vector<cairo_rectangle_int_t>* touched) {
    double sx = 1, sy = 1;
    cairo_surface_get_device_scale(frame, &sx, &sy);
    const int scale = std::max(1, static_cast<int>(std::lround(sx)));
    // The colour by whole percent: the stamps are remade only when it visibly changes.
    stamps.prepare(load_color(std::round(cpu_percent)), scale);
    // Inside the panel's background (its rounded corners hold no trace ends), and inside what
    // the caller composes.
    cairo_rectangle_int_t clip{2 * scale, 2 * scale, static_cast<int>(w - 4) * scale,
                               static_cast<int>(h - 4) * scale};
    if (area) {
        const int x1 = std::min(clip.x + clip.width, area->x + area->width);
        const int y1 = std::min(clip.y + clip.height, area->y + area->height);
        clip.x = std::max(clip.x, area->x), clip.y = std::max(clip.y, area->y);
        clip.width = x1 - clip.x, clip.height = y1 - clip.y;
    }
    clip.width = std::min(clip.width, cairo_image_surface_get_width(frame) - clip.x);
    clip.height = std::min(clip.height, cairo_image_surface_get_height(frame) - clip.y);
    if (clip.width <= 0 || clip.height <= 0) return;
    cairo_surface_flush(frame);
    if (over && over->image) cairo_surface_flush(over->image);
    // What a pulse changed, as one rectangle: its dots overlap, and a few larger copies cost
    // less than many small ones when it is taken out again.
    int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
    each_pulse_dot(w, h, phase, m, [&](double x, double y, int kind) {
        const cairo_rectangle_int_t r = stamps.blend(frame, kind, x, y, clip, over);
        if (r.width > 0) {
            x0 = std::min(x0, r.x), y0 = std::min(y0, r.y);
            x1 = std::max(x1, r.x + r.width), y1 = std::max(y1, r.y + r.height);
        }
        if (kind == head_dot && x1 > x0) {
            if (touched) touched->push_back({x0, y0, x1 - x0, y1 - y0});
            x0 = y0 = INT_MAX, x1 = y1 = INT_MIN;
        }
    });
    cairo_surface_mark_dirty(frame);
}

void draw_logo_above(cairo_t* cr, double w, double h, const Palette& p, GdkPixbuf* icon,
                     const std::string& byline) {
    const double s = std::min(h - 20, 56.0);
    if (icon && s > 0) {
        cairo_save(cr);
        const double y = (h - s) / 2;
        cairo_translate(cr, 14, y);
        const int iw = gdk_pixbuf_get_width(icon), ih = gdk_pixbuf_get_height(icon);
        cairo_scale(cr, s / iw, s / ih);
        gdk_cairo_set_source_pixbuf(cr, icon, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    const double x = 14 + std::max(s, 0.0) + 14;
    // The wordmark in two colours: the first syllable in the accent.
    draw::font(cr, 16, true);
    draw::set_hex(cr, p.accent);
    const double first = draw::text(cr, x, h / 2 - 1, "Quar");
    draw::set_hex(cr, p.text);
    draw::text(cr, x + first, h / 2 - 1, "vel");
    // A longer translation is set a little smaller before it is cut short.
    const double room = w - x - 8;
    double size = 11.5;
    draw::font(cr, size);
    while (size > 9 && draw::text_width(cr, byline) > room)
        draw::font(cr, size -= 0.5);
    draw::set_hex(cr, p.dim);
    draw::text(cr, x, h / 2 + 16, draw::elide(cr, byline, room));
}

namespace {

// The layer `image` with the spans of each row where it is not fully transparent.
OverLayer over_layer_of(cairo_surface_t* image) {
    OverLayer out;
    out.image = image;
    cairo_surface_flush(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    if (!data) return out;
    for (int y = 0; y < height; ++y) {
        out.row_start.push_back(out.spans.size());
        const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
        for (int x = 0; x < width;) {
            if (!(row[x] >> 24)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && row[x] >> 24)
                ++x;
            out.spans.emplace_back(start, x);
        }
    }
    out.row_start.push_back(out.spans.size());
    return out;
}

} // namespace

LogoLayers::~LogoLayers() {
    invalidate();
}

void LogoLayers::invalidate() {
    for (cairo_surface_t* s : {m_logo_above, m_still, m_frame})
        if (s) cairo_surface_destroy(s);
    m_logo_above = m_still = m_frame = nullptr;
    m_over = {};
    m_pulses_at.clear();
    m_logo_cache_w = m_logo_cache_h = m_logo_cache_scale = 0;
    m_screen_partial = true;
}

namespace {

// Copies the device rectangles `rects` of `from` into `to`, two images of the same size.
void copy_rects(cairo_surface_t* from, cairo_surface_t* to,
                const std::vector<cairo_rectangle_int_t>& rects) {
    if (rects.empty()) return;
    cairo_surface_flush(to);
    const unsigned char* src = cairo_image_surface_get_data(from);
    unsigned char* dst = cairo_image_surface_get_data(to);
    const int stride = cairo_image_surface_get_stride(to);
    for (const cairo_rectangle_int_t& r : rects)
        for (int row = r.y; row < r.y + r.height; ++row)
            std::memcpy(dst + row * stride + r.x * 4, src + row * stride + r.x * 4,
                        static_cast<size_t>(r.width) * 4);
    cairo_surface_mark_dirty(to);
}

} // namespace

void LogoLayers::paint(cairo_t* cr, int w, int h, int scale, const Palette& p, GdkPixbuf* icon,
                       const std::string& byline, double phase, double cpu_percent) {
    if (w <= 0 || h <= 0) return;
    scale = std::max(scale, 1);
    // A change of language changes the byline, which the upper layer holds.
    if (!m_logo_above || !m_still || m_logo_cache_w != w || m_logo_cache_h != h ||
        m_logo_cache_scale != scale || m_byline != byline) {
        invalidate();
        m_byline = byline;
        auto layer = [&](auto paint_layer) {
            cairo_surface_t* s =
                cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * scale, h * scale);
            cairo_surface_set_device_scale(s, scale, scale);
            cairo_t* c = cairo_create(s);
            paint_layer(c);
            cairo_destroy(c);
            return s;
        };
        m_logo_above = layer([&](cairo_t* c) { draw_logo_above(c, w, h, p, icon, byline); });
        m_still = layer([&](cairo_t* c) {
            draw::set_hex(c, p.background);
            cairo_paint(c);
            panel_background(c, w, h, p);
            paint_board_static(c, w, h, p);
            cairo_set_source_surface(c, m_logo_above, 0, 0);
            cairo_paint(c);
        });
        m_frame = layer([&](cairo_t* c) {
            cairo_set_source_surface(c, m_still, 0, 0);
            cairo_paint(c);
        });
        m_over = over_layer_of(m_logo_above);
        m_logo_cache_w = w, m_logo_cache_h = h, m_logo_cache_scale = scale;
        m_metrics = trace_metrics(w, h);
    }
    double x0 = 0, y0 = 0, x1 = w, y1 = h;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    const int left = std::clamp(static_cast<int>(std::floor(x0)), 0, w);
    const int top = std::clamp(static_cast<int>(std::floor(y0)), 0, h);
    const int right = std::clamp(static_cast<int>(std::ceil(x1)), left, w);
    const int bottom = std::clamp(static_cast<int>(std::ceil(y1)), top, h);
    m_screen_partial = left > 0 || top > 0 || right < w || bottom < h;
    compose({left * scale, top * scale, (right - left) * scale, (bottom - top) * scale}, phase,
            cpu_percent);
    cairo_set_source_surface(cr, m_frame, 0, 0);
    cairo_paint(cr);
}

bool LogoLayers::ready_for(int w, int h, int scale, const std::string& byline) const {
    return m_logo_above && m_still && m_frame && m_logo_cache_w == w && m_logo_cache_h == h &&
           m_logo_cache_scale == std::max(scale, 1) && m_byline == byline;
}

const std::vector<cairo_rectangle_int_t>& LogoLayers::next_frame(double phase, double cpu_percent) {
    m_changed.clear();
    if (!m_frame) return m_changed;
    const int scale = m_logo_cache_scale;
    const cairo_rectangle_int_t all{0, 0, m_logo_cache_w * scale, m_logo_cache_h * scale};
    if (m_screen_partial)
        m_changed.push_back(all);
    else
        m_changed.assign(m_pulses_at.begin(), m_pulses_at.end());
    m_screen_partial = false;
    compose(all, phase, cpu_percent);
    cairo_surface_flush(m_frame);
    // A pulse moves less than a pixel a frame at rest, so where it was and where it is nearly
    // coincide: one rectangle holding both travels about half the pixels of two.
    if (m_changed.size() == m_pulses_at.size()) {
        for (size_t i = 0; i < m_changed.size(); ++i) {
            cairo_rectangle_int_t& a = m_changed[i];
            const cairo_rectangle_int_t& b = m_pulses_at[i];
            const int x1 = std::max(a.x + a.width, b.x + b.width);
            const int y1 = std::max(a.y + a.height, b.y + b.height);
            a.x = std::min(a.x, b.x), a.y = std::min(a.y, b.y);
            a.width = x1 - a.x, a.height = y1 - a.y;
        }
    } else {
        m_changed.insert(m_changed.end(), m_pulses_at.begin(), m_pulses_at.end());
    }
    return m_changed;
}

// The frame is put together in memory, where compositing is cheap, and handed to the window
// in one piece. Only what the pulses change is touched: where they were is copied back from
// the still frame, and they go in beneath the upper layer where they are now.
void LogoLayers::compose(const cairo_rectangle_int_t& area, double phase, double cpu_percent) {
    copy_rects(m_still, m_frame, m_pulses_at);
    m_pulses_at.clear();
    paint_board_pulses(m_frame, m_logo_cache_w, m_logo_cache_h, phase, cpu_percent, m_metrics,
                       m_stamps, &area, &m_over, &m_pulses_at);
}

} // namespace monitor
