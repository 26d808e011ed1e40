// The monitor bar: where the CPU bars go, what the panels draw (left as pictures in the
// artifact directory), and the bar in the window with its tooltip, accessible descriptions
// and theme.
#include "app_inspector.h"
#include "gui/draw_util.h"
#include "gui/images.h"
#include "gui/monitor_bar.h"
#include "gui_support.h"
#include "hw/root_data.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

using gui_support::Canvas;
using gui_support::description;
using gui_support::process_events;
using gui_support::wait_until;

namespace {

// `sockets` × `cores` × 2 threads, numbered like x86 servers: the siblings of CPU n are n and
// n + sockets × cores.
live::CpuIdentity server(int sockets, int cores) {
    live::CpuIdentity id;
    const int half = sockets * cores;
    for (int n = 0; n < 2 * half; ++n) {
        id.socket_of_cpu.push_back((n % half) / cores);
        id.core_of_cpu.push_back(n % half);
    }
    for (int s = 0; s < sockets; ++s)
        for (int c = 0; c < cores; ++c)
            id.draw_order.insert(id.draw_order.end(), {s * cores + c, s * cores + c + half});
    id.sockets = sockets, id.cores_physical = half, id.cpus_present = 2 * half;
    return id;
}

double right_edge(const monitor::BarLayout& l) {
    double r = 0;
    for (const auto& s : l.slots)
        r = std::max(r, s.x + s.w);
    return r;
}

// Red and green of a pixel 0xAARRGGBB, premultiplied like cairo keeps them.
int red(uint32_t p) {
    return (p >> 16) & 0xFF;
}
int green(uint32_t p) {
    return (p >> 8) & 0xFF;
}

} // namespace

TEST(MonitorLayout, RowsGapsAndTheHeatMap) {
    // 4 CPUs, two cores of two threads, on a 240-pixel panel (graph 224 × 74): one row, a
    // 1-pixel gap between threads and 4 between cores.
    const monitor::BarLayout four = monitor::layout_bars(8, 22, 224, 74, 4, server(1, 2));
    EXPECT_FALSE(four.heat_map);
    ASSERT_EQ(four.rows, 1);
    ASSERT_EQ(four.slots.size(), 4u);
    EXPECT_EQ(four.slots[1].cpu, 2) << "thread siblings side by side";
    EXPECT_NEAR(four.slots[1].x - (four.slots[0].x + four.slots[0].w), 1, 1e-9);
    EXPECT_NEAR(four.slots[2].x - (four.slots[1].x + four.slots[1].w), 4, 1e-9);
    EXPECT_NEAR(right_edge(four), 232, 1e-9);

    // 256 CPUs: rows of bars on the narrowest panel the window allows, a heat map once rows
    // would be lower than 7 pixels.
    const live::CpuIdentity big = server(2, 64);
    EXPECT_FALSE(monitor::layout_bars(8, 22, 492, 74, 256, big).heat_map);
    const monitor::BarLayout narrow = monitor::layout_bars(8, 22, 104, 74, 256, big);
    EXPECT_TRUE(narrow.heat_map);
    EXPECT_EQ(narrow.slots.size(), 256u);
    EXPECT_LE(right_edge(narrow), 112 + 1e-9);

    // Twelve single-thread cores, the socket changing in the second row: the wider gap must
    // not push that row past the panel's edge.
    live::CpuIdentity odd;
    for (int n = 0; n < 12; ++n)
        odd.core_of_cpu.push_back(n), odd.socket_of_cpu.push_back(n < 7 ? 0 : 1),
            odd.draw_order.push_back(n);
    const monitor::BarLayout rows = monitor::layout_bars(8, 22, 60, 74, 12, odd);
    EXPECT_EQ(rows.rows, 2);
    EXPECT_LE(right_edge(rows), 68 + 1e-9);
}

TEST(MonitorAnimation, SpeedFollowsTheLoadAndThePhaseStaysSmall) {
    // 1/0.033 frames make a second.
    EXPECT_NEAR(monitor::next_phase(0, 0) / 0.033, 0.07, 1e-12);
    EXPECT_NEAR(monitor::next_phase(0, 100) / 0.033, 0.40, 1e-12);
    EXPECT_LT(monitor::next_phase(999.999, 100), 1);
}

// A pulse's tail takes the load colour: green when idle, red when busy.
TEST(MonitorAnimation, PulsesRunAlongTheTracesInTheLoadColour) {
    const monitor::TraceMetrics m = monitor::trace_metrics(258, 104);
    // Trace 0's first pulse is at t = phase; one tail step behind its head.
    const auto [tail_x, tail_y] = monitor::point_on_trace(0, 0.25 - 0.012, 258, 104, m);
    // Plain copies: clang before 16 will not capture structured bindings in a lambda.
    const double x = tail_x, y = tail_y;
    auto tail = [&](double load) {
        Canvas img(258, 104);
        monitor::LogoLayers logo;
        logo.paint(img.cr, 258, 104, 1, Palette::dark_(), nullptr, "", 0.25, load);
        return img.pixel(static_cast<int>(x), static_cast<int>(y));
    };
    const uint32_t idle = tail(0), busy = tail(100);
    EXPECT_GT(green(idle), red(idle) + 40);
    EXPECT_GT(red(busy), green(busy) + 40);
}

// Frame after frame, the logo panel is what painting the lower layer, the pulses and the
// upper layer would give, though it only touches where the pulses run: no trail is left and
// the pulses pass beneath the icon and the wordmark, not over them. That holds for a screen
// that is only given the rectangles each frame changed, also after a frame was drawn within
// part of the panel (an exposure).
TEST(MonitorAnimation, FramesAreTheLayersComposedInOrder) {
    const int w = 258, h = 104;
    const Palette p = Palette::light();
    const std::string byline = "Your hardware at a glance, in every detail";
    const monitor::TraceMetrics m = monitor::trace_metrics(w, h);
    const images::Png png = images::app_icon();
    GdkPixbuf* icon = images::pixbuf_from_png(png.data, png.size);
    ASSERT_NE(icon, nullptr);
    Canvas above(w, h);
    monitor::draw_logo_above(above.cr, w, h, p, icon, byline);
    auto composed = [&](double phase, bool pulses_on_top) {
        auto img = std::make_unique<Canvas>(w, h);
        draw::set_hex(img->cr, p.background);
        cairo_paint(img->cr);
        monitor::panel_background(img->cr, w, h, p);
        monitor::paint_board_static(img->cr, w, h, p);
        monitor::PulseStamps stamps;
        if (!pulses_on_top) monitor::paint_board_pulses(img->surface, w, h, phase, 30, m, stamps);
        cairo_set_source_surface(img->cr, above.surface, 0, 0);
        cairo_paint(img->cr);
        if (pulses_on_top) monitor::paint_board_pulses(img->surface, w, h, phase, 30, m, stamps);
        return img;
    };
    for (const bool changes_only : {false, true}) {
        monitor::LogoLayers logo;
        Canvas screen(w, h);
        bool pulse_under_text = false;
        int step = 0;
        for (double phase = 0.1; phase < 1.1; phase += 0.0625, ++step) {
            const bool exposure = changes_only && step == 5;
            if (!changes_only || step == 0 || exposure) {
                cairo_save(screen.cr);
                if (exposure) cairo_rectangle(screen.cr, 0, 0, w / 2.0, h), cairo_clip(screen.cr);
                logo.paint(screen.cr, w, h, 1, p, icon, byline, phase, 30);
                cairo_restore(screen.cr);
                if (exposure) continue; // the rest of the panel still shows the last frame
            } else {
                ASSERT_TRUE(logo.ready_for(w, h, 1, byline));
                for (const cairo_rectangle_int_t& r : logo.next_frame(phase, 30))
                    cairo_rectangle(screen.cr, r.x, r.y, r.width, r.height);
                cairo_clip(screen.cr);
                cairo_set_source_surface(screen.cr, logo.frame(), 0, 0);
                cairo_paint(screen.cr);
                cairo_reset_clip(screen.cr);
            }
            const auto want = composed(phase, false), wrong = composed(phase, true);
            int worst = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint32_t got = screen.pixel(x, y), expected = want->pixel(x, y);
                    pulse_under_text |= expected != wrong->pixel(x, y);
                    for (int shift = 0; shift < 32; shift += 8)
                        worst =
                            std::max(worst, std::abs(static_cast<int>((got >> shift) & 0xFF) -
                                                     static_cast<int>((expected >> shift) & 0xFF)));
                }
            EXPECT_LE(worst, 2) << "phase " << phase << (changes_only ? ", changes only" : "");
        }
        EXPECT_TRUE(pulse_under_text);
    }
    EXPECT_FALSE(monitor::LogoLayers().ready_for(w, h, 1, byline));
    g_object_unref(icon);
}

// The whole bar as the window lays it out, light and dark; the pictures are left for a
// person to look at.
TEST(MonitorPanels, DrawnLightAndDark) {
    live::MonitorFigures f;
    f.identity = server(1, 2);
    f.identity.name = "AMD Ryzen 7 7840U w/ Radeon 780M Graphics";
    f.cpu.per_cpu = {0, 100, 50, 25};
    f.cpu.total = 44;
    for (int i = 0; i < 120; ++i)
        f.cpu_history.push_back(40 + 30 * std::sin(i / 9.0));
    f.temp_now = 61.5, f.temp_label = "Tctl";
    for (int i = 0; i < 60; ++i)
        f.temp_history.push_back(55 + i / 10.0);
    f.memory = {16ull << 30, 8ull << 30, 50};

    for (const Palette& p : {Palette::light(), Palette::dark_()}) {
        Canvas img(756, 112);
        draw::set_hex(img.cr, p.background);
        cairo_paint(img.cr);
        monitor::LogoLayers logo;
        double x = 6;
        auto panel = [&](int width, auto draw_panel) {
            cairo_save(img.cr);
            cairo_translate(img.cr, x, 4);
            draw_panel(width);
            cairo_restore(img.cr);
            x += width + 6;
        };
        panel(258, [&](int w) { logo.paint(img.cr, w, 104, 1, p, nullptr, "Byline", 0.2, 44); });
        panel(240, [&](int w) { monitor::draw_cpu(img.cr, w, 104, f, p); });
        panel(132, [&](int w) { monitor::draw_temp(img.cr, w, 104, f, p); });
        panel(96, [&](int w) { monitor::draw_ram(img.cr, w, 104, f, p); });
        img.save(p.dark ? "monitor-dark.png" : "monitor-light.png");

        // Bars in the order 0, 2, 1, 3 (siblings first), 54.5 px each: the full one is red at
        // its top, the idle one shows only its background there.
        const monitor::BarLayout l = monitor::layout_bars(8, 22, 224, 74, 4, f.identity);
        auto top_of = [&](size_t slot) {
            return img.pixel(270 + static_cast<int>(l.slots[slot].x + l.slots[slot].w / 2), 4 + 30);
        };
        EXPECT_GT(red(top_of(2)), 200) << p.dark;
        EXPECT_LT(green(top_of(2)), 80) << p.dark;
        EXPECT_NE(top_of(0), top_of(2));
        // The memory gauge, half full, shows the orange of 50 % near the top of its fill.
        const uint32_t gauge = img.pixel(6 + 258 + 6 + 240 + 6 + 132 + 6 + 19, 4 + 22 + 40);
        EXPECT_GT(red(gauge), 180);
        EXPECT_GT(green(gauge), 110);
    }
}

TEST(MonitorPanels, HeatMapOfAServer) {
    live::MonitorFigures f;
    f.identity = server(2, 64);
    for (int n = 0; n < 256; ++n)
        f.cpu.per_cpu.push_back(n % 64 < 16 ? 100 : (n * 37) % 60);
    Canvas img(120, 104);
    monitor::draw_cpu(img.cr, 120, 104, f, Palette::dark_());
    img.save("monitor-heatmap.png");
    // CPU 0 (full load) fills the first cell: opaque red.
    const uint32_t first = img.pixel(10, 24);
    EXPECT_GT(red(first), 200);
    EXPECT_LT(green(first), 80);
}

namespace {

class MonitorWindow : public gui_support::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        SettingsStore::instance().mutable_get().theme = "light";
        write("proc/stat", "cpu  100 0 0 100 0\ncpu0 50 0 0 50 0\ncpu1 50 0 0 50 0\n");
        write("proc/meminfo", "MemTotal: 16252928 kB\nMemAvailable: 8126464 kB\n");
        write("sys/class/hwmon/hwmon0/name", "coretemp\n");
        write("sys/class/hwmon/hwmon0/temp1_input", "47000\n");
        write("sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n");
        setenv("QUARVEL_SYSROOT", m_tmp.c_str(), 1);
    }
    void write(const std::string& rel, const std::string& text) { m_dir.write(rel, text); }
    std::vector<GtkWidget*> areas() {
        return gui_support::widgets_of(bar().box(), GTK_TYPE_DRAWING_AREA);
    }
    MonitorBar& bar() { return AppInspector::monitor(*m_app); }
};

// What the memory panel's tooltip shows when the toolkit asks for it; empty for none.
std::string tooltip(GtkWidget* w, const MonitorBar& bar) {
    GtkTooltip* tip = GTK_TOOLTIP(g_object_new(GTK_TYPE_TOOLTIP, nullptr));
    gboolean shown = FALSE;
    g_signal_emit_by_name(w, "query-tooltip", 0, 0, FALSE, tip, &shown);
    g_object_unref(tip);
    return shown ? bar.ram_tooltip_text() : "";
}

} // namespace

TEST_F(MonitorWindow, SitsAboveThePanesAndDescribesItsFigures) {
    App& app = open();
    GtkWidget* box = bar().box();
    GtkWidget* vbox = gtk_widget_get_parent(box);
    ASSERT_EQ(vbox, gtk_widget_get_parent(AppInspector::paned(app)));
    int bar_at = -1, paned_at = -1;
    gtk_container_child_get(GTK_CONTAINER(vbox), box, "position", &bar_at, nullptr);
    gtk_container_child_get(GTK_CONTAINER(vbox), AppInspector::paned(app), "position", &paned_at,
                            nullptr);
    EXPECT_EQ(bar_at + 1, paned_at);

    const std::vector<GtkWidget*> a = areas();
    ASSERT_EQ(a.size(), 4u);
    std::vector<std::string> names;
    for (GtkWidget* w : a)
        names.push_back(atk_object_get_name(gtk_widget_get_accessible(w)));
    EXPECT_EQ(names, (std::vector<std::string>{"Quarvel", "CPU", "Temperature", "Memory"}));
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(gtk_widget_get_can_focus(a[i]), i > 0) << "only panels with figures take focus";
    EXPECT_EQ(description(a[2]),
              "Package id 0: 47.0 °C now, highest in the last two minutes 47.0 °C");
    EXPECT_EQ(description(a[3]), "7.75 GiB of 15.5 GiB in use (50 %)");
    EXPECT_EQ(tooltip(a[3], bar()), "Total: 15.5 GiB\nUsed: 7.75 GiB");

    // A second later cpu0 was busy, cpu1 idle; the firmware's modules are known by now.
    write("proc/stat", "cpu  200 0 0 200 0\ncpu0 150 0 0 50 0\ncpu1 50 0 0 150 0\n");
    write("sys/class/hwmon/hwmon0/temp1_input", "52500\n");
    hw::RootData& root = hw::RootData::instance();
    root.available = true;
    root.memory.resize(2);
    root.memory[0].size_bytes = root.memory[1].size_bytes = 8ull << 30;
    MonitorBar::on_tick(&bar());
    EXPECT_NE(description(a[1]).find("Total load 50 %, busiest logical CPU 100 %"),
              std::string::npos)
        << description(a[1]);
    EXPECT_EQ(description(a[2]),
              "Package id 0: 52.5 °C now, highest in the last two minutes 52.5 °C");
    EXPECT_EQ(tooltip(a[3], bar()),
              "Total: 15.5 GiB\nUsed: 7.75 GiB\nReserved by firmware and graphics: "
              "512 MiB\nInstalled: 16.0 GiB");
}

TEST_F(MonitorWindow, MemoryWithoutATotalIsUnknownAndHasNoTooltip) {
    write("proc/meminfo", "MemFree: 100 kB\n");
    open();
    GtkWidget* memory = areas()[3];
    EXPECT_EQ(description(memory), tr("common.unknown"));
    EXPECT_EQ(tooltip(memory, bar()), "");
}

// A sensor that comes later (its driver loaded, a drive plugged in) is found by a refresh; the
// highest reading shown is the new sensor's own, not the one read before.
TEST_F(MonitorWindow, ARefreshFindsABetterSensorAndStartsItsHistory) {
    write("sys/class/hwmon/hwmon0/name", "nvme\n");
    write("sys/class/hwmon/hwmon0/temp1_input", "60000\n");
    App& app = open();
    GtkWidget* temperature = areas()[2];
    EXPECT_EQ(description(temperature),
              "nvme: 60.0 °C now, highest in the last two minutes 60.0 °C");
    write("sys/class/hwmon/hwmon1/name", "coretemp\n");
    write("sys/class/hwmon/hwmon1/temp1_input", "45000\n");
    write("sys/class/hwmon/hwmon1/temp1_label", "Package id 0\n");
    MonitorBar::on_tick(&bar());
    EXPECT_EQ(description(temperature).substr(0, 5), "nvme:") << "chosen once, not every second";
    app.refresh();
    MonitorBar::on_tick(&bar());
    EXPECT_EQ(description(temperature),
              "Package id 0: 45.0 °C now, highest in the last two minutes 45.0 °C");
}

// Under X11 the animation puts each frame straight on the logo's own window, without the
// toolkit's drawing cycle: what the window shows is what the toolkit would draw for that frame.
TEST_F(MonitorWindow, FramesReachTheLogosWindowDirectly) {
    open();
    GtkWidget* logo = areas().at(0);
    GdkWindow* window = gtk_widget_get_window(logo);
    ASSERT_TRUE(window && gdk_window_has_native(window));
    ASSERT_TRUE(gui_support::wait_until([&] { return gdk_window_is_viewable(window); }));
    gui_support::process_events(100);
    for (int frame = 0; frame < 3; ++frame) // the main loop does not run in between
        MonitorBar::on_animate(&bar());
    const int w = gtk_widget_get_allocated_width(logo), h = gtk_widget_get_allocated_height(logo);
    GdkPixbuf* shown = gdk_pixbuf_get_from_window(window, 0, 0, w, h);
    ASSERT_NE(shown, nullptr);
    Canvas want(w, h);
    gtk_widget_draw(logo, want.cr);
    const guchar* px = gdk_pixbuf_get_pixels(shown);
    const int stride = gdk_pixbuf_get_rowstride(shown), step = gdk_pixbuf_get_n_channels(shown);
    int differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const guchar* got = px + y * stride + x * step;
            const uint32_t expected = want.pixel(x, y);
            differing += got[0] != ((expected >> 16) & 0xFF) ||
                         got[1] != ((expected >> 8) & 0xFF) || got[2] != (expected & 0xFF);
        }
    EXPECT_EQ(differing, 0);
    g_object_unref(shown);
}

// The panels' first frames, drawn ahead on another thread for the window's width, are what
// the first frame shows, and each is what drawing the panel in the window gives.
TEST_F(MonitorWindow, FirstFramesDrawnAheadFitTheWindowAndMatchItsOwnDrawing) {
    open();
    ASSERT_TRUE(gui_support::wait_until([&] { return bar().prepared_frames_shown() == 3; }))
        << "the widths drawn ahead are not the window's";
    auto shown = [](GtkWidget* panel) {
        GtkAllocation a;
        gtk_widget_get_allocation(panel, &a);
        GdkPixbuf* p =
            gdk_pixbuf_get_from_window(gtk_widget_get_window(panel), a.x, a.y, a.width, a.height);
        std::vector<guchar> bytes(gdk_pixbuf_get_pixels(p),
                                  gdk_pixbuf_get_pixels(p) + gdk_pixbuf_get_byte_length(p));
        g_object_unref(p);
        return bytes;
    };
    const std::vector<GtkWidget*> panels = areas();
    for (GtkWidget* panel : std::vector<GtkWidget*>(panels.begin() + 1, panels.end())) {
        const std::vector<guchar> ahead = shown(panel);
        gtk_widget_queue_draw(panel);
        gui_support::process_events(50);
        // Translucent fills laid over the window's background, not over a clear image, may
        // round a channel the other way.
        const std::vector<guchar> now = shown(panel);
        ASSERT_EQ(now.size(), ahead.size());
        int most = 0;
        for (size_t i = 0; i < now.size(); ++i)
            most = std::max(most, std::abs(int(now[i]) - int(ahead[i])));
        EXPECT_LE(most, 1) << atk_object_get_name(gtk_widget_get_accessible(panel));
    }
    EXPECT_EQ(bar().prepared_frames_shown(), 3) << "a prepared frame is shown once";
}

// A theme change repaints the logo from new layers, not the ones made (or being made ahead) for
// the old palette; a change of language brings the byline in the new language.
TEST_F(MonitorWindow, FollowsTheThemeAndTheLanguage) {
    App& app = open();
    GtkWidget* logo = areas().at(0);
    std::vector<uint32_t> byline;
    auto draw = [&] {
        Canvas img(gtk_widget_get_allocated_width(logo), gtk_widget_get_allocated_height(logo));
        gtk_widget_draw(logo, img.cr);
        byline.clear();
        for (int y = 56; y < 72; ++y)
            for (int x = 84; x < 250; ++x)
                byline.push_back(img.pixel(x, y));
        return img.pixel(20, 3);
    };
    const uint32_t light = draw();
    // Layers being made ahead for the light palette must not serve the dark one.
    bar().prepare_first_frame(gtk_widget_get_scale_factor(logo));
    SettingsStore::instance().mutable_get().theme = "dark";
    app.apply_theme();
    const uint32_t dark = draw();
    EXPECT_GT(green(light), 200);
    EXPECT_LT(green(dark), 80);

    const std::vector<uint32_t> english = byline;
    app.apply_language("de");
    draw();
    EXPECT_NE(byline, english);
    app.apply_language("en");
}
