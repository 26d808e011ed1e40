// The monitor bar's four panels drawn with cairo: processor load per CPU with its history,
// temperature with its history, a memory gauge, and the animated logo over a circuit board.
// Everything here draws on the context it is given from figures and a palette, and reads no
// files, so it runs on image surfaces as well as in the window.
#pragma once

#include "live/monitor_sample.h"
#include "theme.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace monitor {

// The rounded background every panel starts with.
void panel_background(cairo_t* cr, double w, double h, const Palette& p);

void draw_cpu(cairo_t* cr, double w, double h, const live::MonitorFigures& f, const Palette& p);
void draw_temp(cairo_t* cr, double w, double h, const live::MonitorFigures& f, const Palette& p);
void draw_ram(cairo_t* cr, double w, double h, const live::MonitorFigures& f, const Palette& p);

// "2 sockets", else "8C/16T" (cores and logical CPUs), else "16T" from the loads alone, else
// nothing.
std::string topology_note(const live::MonitorFigures& f);
// "CPU   8C/16T   <model>" before it is shortened to fit.
std::string cpu_header(const live::MonitorFigures& f);

// Where each CPU's bar (or heat-map cell) goes in the CPU panel's graph area.
struct Slot {
    int cpu = 0;
    double x = 0, y = 0, w = 0, h = 0;
};
struct BarLayout {
    bool heat_map = false;
    int rows = 0;
    double row_height = 0;   // bars only
    std::vector<Slot> slots; // in drawing order, one per CPU number below the load count
};
// The graph area starts at (x, y) and is `width` × `height`; `cpus` is the number of per-CPU
// loads. Bars go in topology order with wider gaps between cores and sockets, in as few rows
// as keep them at least 3 pixels wide; once rows would be lower than 7 pixels a heat map of
// cells takes their place.
BarLayout layout_bars(double x, double y, double width, double height, size_t cpus,
                      const live::CpuIdentity& id);

// ---- The logo panel -------------------------------------------------------------------------

// One copper trace of the decoration, in fractions of the panel's width and height.
struct Trace {
    std::vector<std::pair<double, double>> points;
};
const std::vector<Trace>& board_traces();

// Segment lengths per trace in pixels, for one panel size.
struct TraceMetrics {
    std::vector<std::vector<double>> seg;
    std::vector<double> total;
};
TraceMetrics trace_metrics(double w, double h);

// The point at fraction `t` (0…1) of trace `i`'s length, in pixels.
std::pair<double, double> point_on_trace(size_t i, double t, double w, double h,
                                         const TraceMetrics& m);

// The animation phase after one 33 ms frame: 0.07 trace lengths a second when idle, 0.40 at
// full load; kept below 1000 so it never loses precision.
double next_phase(double phase, double cpu_percent);

void paint_board_static(cairo_t* cr, double w, double h, const Palette& p);

// A layer that is drawn over the pulses: its ARGB32 image and, row by row, the device spans
// [first, second) where it is not fully transparent. Elsewhere the pulses go in as they are.
struct OverLayer {
    cairo_surface_t* image = nullptr;
    std::vector<std::pair<int, int>> spans;
    std::vector<size_t> row_start; // row y's spans are spans[row_start[y]] to spans[row_start[y+1]]
};

// The pulse dots as small premultiplied pictures in one colour, at quarter-pixel offsets, and
// blended into an image by hand: 280 dots 30 times a second cost a fraction of what as many
// cairo operations would.
class PulseStamps {
public:
    void prepare(const Rgb& colour, int scale);
    // One dot of `kind` centred at (x, y) (logical pixels) into the ARGB32 `frame`, within
    // `clip` (device pixels), beneath `over` where given (see paint_board_pulses). Returns the
    // device rectangle it changed.
    cairo_rectangle_int_t blend(cairo_surface_t* frame, int kind, double x, double y,
                                const cairo_rectangle_int_t& clip,
                                const OverLayer* over = nullptr) const;

private:
    static constexpr int sub_steps = 4;
    // Only the rectangle that holds the dot is kept: x and y from the dot's centre pixel.
    struct Stamp {
        int x = 0, y = 0, width = 0, height = 0;
        std::vector<uint32_t> pixels;
        std::vector<uint8_t> coverage; // of the dot's disc, per pixel, for any colour
    };
    void make_coverage(int scale);
    std::array<Stamp, 7 * sub_steps * sub_steps> m_stamps;
    Rgb m_colour{-1, -1, -1};
    int m_scale = 0;
};

// Two pulses run along each trace, in the load colour of `cpu_percent`, blended into `frame`
// (an ARGB32 image surface with the panel's device scale), within `area` (device pixels) when
// given. With `over`, `frame` already holds that layer over what lies beneath, and the pulses
// go in beneath it, as if the layers were composed again. The device rectangles changed are
// added to `touched` when given.
void paint_board_pulses(cairo_surface_t* frame, double w, double h, double phase,
                        double cpu_percent, const TraceMetrics& m, PulseStamps& stamps,
                        const cairo_rectangle_int_t* area = nullptr,
                        const OverLayer* over = nullptr,
                        std::vector<cairo_rectangle_int_t>* touched = nullptr);
// The product icon (may be null) and the wordmark with the byline.
void draw_logo_above(cairo_t* cr, double w, double h, const Palette& p, GdkPixbuf* icon,
                     const std::string& byline);

// The logo panel's two layers, made once per size, scale and palette. A frame looks as if it
// painted the lower one, the pulses and the upper one; it is the two layers composed once, with
// the pulses put in beneath the upper one and taken out again where the last frame had them.
class LogoLayers {
public:
    LogoLayers() = default;
    ~LogoLayers();
    LogoLayers(const LogoLayers&) = delete;
    LogoLayers& operator=(const LogoLayers&) = delete;

    // Draws one frame of a `w` × `h` panel at device `scale`, within the clip of `cr`.
    void paint(cairo_t* cr, int w, int h, int scale, const Palette& p, GdkPixbuf* icon,
               const std::string& byline, double phase, double cpu_percent);
    // Whether the layers were made for this size, scale and byline, so next_frame may serve.
    bool ready_for(int w, int h, int scale, const std::string& byline) const;
    // Puts the next frame together and returns the device rectangles in which it differs
    // from the last frame drawn: where the pulses were and where they are now.
    // The rectangles stay valid until the next call.
    const std::vector<cairo_rectangle_int_t>& next_frame(double phase, double cpu_percent);
    // The frame last put together (device pixels, opaque), or null.
    cairo_surface_t* frame() const { return m_frame; }
    void invalidate();

private:
    cairo_surface_t* m_logo_above = nullptr;
    cairo_surface_t* m_still = nullptr; // the upper layer over the lower: a frame without pulses
    cairo_surface_t* m_frame = nullptr; // the frame being put together
    OverLayer m_over;                   // the upper layer, with where it is not transparent
    std::vector<cairo_rectangle_int_t> m_pulses_at; // where m_frame differs from m_still
    std::vector<cairo_rectangle_int_t> m_changed;   // what next_frame returned
    // A frame drawn within part of the panel left pulses on the screen elsewhere that
    // m_pulses_at no longer names: the next change then redraws everything.
    bool m_screen_partial = true;
    std::string m_byline; // the text the upper layer was made with
    int m_logo_cache_w = 0, m_logo_cache_h = 0, m_logo_cache_scale = 0;
    TraceMetrics m_metrics;
    PulseStamps m_stamps;

    // Puts the pulses of `phase` into m_frame within `area` (device pixels) in place of the
    // last ones.
    void compose(const cairo_rectangle_int_t& area, double phase, double cpu_percent);
};

} // namespace monitor
