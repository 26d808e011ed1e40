// What the monitor bar costs on the main thread: one sample (reading /proc/stat, /proc/meminfo
// and the temperature, and turning them into figures), one animation frame of the logo panel
// (drawn as in the window, on an image surface of the panel's size, whole and as the changed
// rectangles the window sends its X window), and the once-a-second redraw of the other three
// panels. Uses this machine's files, or a capture's under
// QUARVEL_SYSROOT (e.g. tests/fixtures/cpu-x86-256cpus).
//
// usage: build/bench_gui_monitor [RUNS]   (default 2000; targets: a sample under 0.5 ms, a
//                                          frame under 1 ms)
//
// Processor time of this thread is the figure to compare; wall time includes waiting for a
// core on a shared machine. The idle window as a whole is measured by bench/monitor_idle.sh.
#include "../timing.h"
#include "gui/monitor_draw.h"
#include "util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

template <class F> void measure(const char* what, int runs, F f) {
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        const bench::Stamp t0 = bench::now();
        f(i);
        v.push_back(bench::ms_between(t0.cpu, bench::now().cpu));
    }
    std::sort(v.begin(), v.end());
    std::printf("  %-44s median %7.4f ms   90th percentile %7.4f ms\n", what, v[v.size() / 2],
                v[v.size() * 9 / 10]);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    util::set_number_format(".", ",");
    const std::string root = util::sysroot();
    std::printf("machine: %s\n", root.empty() ? "this one" : root.c_str());

    live::MonitorFigures f;
    f.identity = live::read_cpu_identity();
    const live::TemperatureSource source =
        live::choose_temperature_source(live::read_hwmon_chips());
    f.temp_label = source.label;
    std::printf("%zu CPUs in draw order, temperature: %s\n", f.identity.draw_order.size(),
                source.path.empty() ? "none" : source.path.c_str());

    measure("one sample (3 files read, figures updated)", runs, [&](int) {
        live::apply_sample(f, util::read_lines("/proc/stat"), util::read_lines("/proc/meminfo"),
                           live::read_temperature(source.path));
    });
    // A busy machine for the drawing: loads that differ from CPU to CPU.
    for (size_t i = 0; i < f.cpu.per_cpu.size(); ++i)
        f.cpu.per_cpu[i] = static_cast<double>((i * 37) % 101);
    f.cpu.total = 63;
    std::printf("%zu per-CPU loads\n", f.cpu.per_cpu.size());

    const Palette p = Palette::dark_();
    cairo_surface_t* logo = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 258, 104);
    cairo_t* cr = cairo_create(logo);
    monitor::LogoLayers layers;
    double phase = 0;
    layers.paint(cr, 258, 104, 1, p, nullptr, "Your hardware at a glance", phase, f.cpu.total);
    measure("one logo frame (258 x 104, layers cached)", runs, [&](int) {
        phase = monitor::next_phase(phase, f.cpu.total);
        layers.paint(cr, 258, 104, 1, p, nullptr, "Your hardware at a glance", phase, f.cpu.total);
        cairo_surface_flush(logo);
    });
    // What the window does 30 times a second under X11: only the pulses' old and new places.
    size_t changed_pixels = 0;
    measure("next logo frame, changed rectangles only", runs, [&](int) {
        phase = monitor::next_phase(phase, f.cpu.total);
        for (const cairo_rectangle_int_t& r : layers.next_frame(phase, f.cpu.total))
            changed_pixels += static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
    });
    std::printf("  %zu pixels changed per frame on average\n",
                changed_pixels / static_cast<size_t>(runs));
    measure("logo frame with new layers (theme change)", std::max(10, runs / 20), [&](int) {
        layers.invalidate();
        layers.paint(cr, 258, 104, 1, p, nullptr, "Your hardware at a glance", phase, f.cpu.total);
        cairo_surface_flush(logo);
    });
    cairo_destroy(cr);
    cairo_surface_destroy(logo);

    // The other panels are redrawn once a second; the CPU panel at the width of a window
    // 1024 pixels wide.
    cairo_surface_t* panels = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 508, 104);
    cr = cairo_create(panels);
    measure("CPU, temperature and memory panels", std::max(10, runs / 10), [&](int) {
        monitor::draw_cpu(cr, 508, 104, f, p);
        monitor::draw_temp(cr, 132, 104, f, p);
        monitor::draw_ram(cr, 96, 104, f, p);
        cairo_surface_flush(panels);
    });
    cairo_destroy(cr);
    cairo_surface_destroy(panels);
    std::printf("  targets: a sample under 0.5 ms, a frame under 1 ms\n");
    return 0;
}
