#include "gui/monitor_bar.h"

#include "gui/draw_util.h"
#include "gui/images.h"
#include "gui/live_area.h"
#include "hw/memory_parsers.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "util.h"

#include <algorithm>
#include <exception>
#include <utility>

#ifdef GDK_WINDOWING_X11
#include <cairo-xlib.h>
#include <gdk/gdkx.h>
#endif

namespace {

// The bar's height and the widths of the panels that do not grow; the processor panel takes
// what they leave.
constexpr int bar_height = 104;
constexpr int logo_width = 258;
constexpr int cpu_min_width = 240;
constexpr int temp_width = 132;
constexpr int ram_width = 96;
constexpr int bar_margin = 6;
constexpr int bar_spacing = 6;

constexpr std::array<MonitorBar::PanelDraw, 3> panel_draws{monitor::draw_cpu, monitor::draw_temp,
                                                           monitor::draw_ram};

// The font options text drawn into the window gets, so that frames drawn ahead into an image
// show the same glyphs; null where the window's own surfaces add none (Wayland).
cairo_font_options_t* window_font_options() {
#ifdef GDK_WINDOWING_X11
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen || !GDK_IS_X11_SCREEN(screen)) return nullptr;
    GdkWindow* root = gdk_screen_get_root_window(screen);
    cairo_surface_t* surface =
        cairo_xlib_surface_create(GDK_SCREEN_XDISPLAY(screen), GDK_WINDOW_XID(root),
                                  GDK_VISUAL_XVISUAL(gdk_screen_get_system_visual(screen)), 1, 1);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_surface_get_font_options(surface, options);
    cairo_surface_destroy(surface);
    return options;
#else
    return nullptr;
#endif
}

GtkWidget* new_area(int width, bool expand, GCallback draw, gpointer self) {
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, width, bar_height);
    gtk_widget_set_hexpand(area, expand);
    g_signal_connect(area, "draw", draw, self);
    return area;
}

} // namespace

MonitorBar::~MonitorBar() {
    adopt_prepared();
    drop_prepared_panels();
    if (m_animate_source) g_source_remove(m_animate_source);
    if (m_logo) release_logo_gc(m_logo);
    for (GtkWidget* w : {m_box, m_logo, m_cpu, m_temp, m_ram})
        if (w) g_signal_handlers_disconnect_by_data(w, this);
    if (m_logo_pixbuf) g_object_unref(m_logo_pixbuf);
}

GtkWidget* MonitorBar::build(const Palette& p) {
    m_palette = p;
    find_temperature_source();
    find_cpu_identity();
    m_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, bar_spacing);
    gtk_widget_set_margin_start(m_box, bar_margin);
    gtk_widget_set_margin_end(m_box, bar_margin);
    gtk_widget_set_margin_top(m_box, 4);
    gtk_widget_set_margin_bottom(m_box, 4);
    m_logo = new_area(logo_width, false, G_CALLBACK(draw_logo), this);
    m_cpu = new_area(cpu_min_width, true, G_CALLBACK(draw_panel<monitor::draw_cpu>), this);
    m_temp = new_area(temp_width, false, G_CALLBACK(draw_panel<monitor::draw_temp>), this);
    m_ram = new_area(ram_width, false, G_CALLBACK(draw_panel<monitor::draw_ram>), this);
    g_signal_connect_after(m_logo, "realize", G_CALLBACK(on_logo_realized), nullptr);
    g_signal_connect(m_logo, "unrealize", G_CALLBACK(on_logo_unrealized), this);
    gtk_widget_set_has_tooltip(m_ram, TRUE);
    g_signal_connect(m_ram, "query-tooltip", G_CALLBACK(on_ram_query_tooltip), this);
    gtk_widget_add_events(m_ram, GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK);
    for (const char* crossing : {"enter-notify-event", "leave-notify-event"})
        g_signal_connect(m_ram, crossing, G_CALLBACK(on_ram_crossing), this);
    for (GtkWidget* area : {m_logo, m_cpu, m_temp, m_ram})
        gtk_box_pack_start(GTK_BOX(m_box), area, area == m_cpu, TRUE, 0);
    // The panels with figures take the keyboard focus, so a screen reader reaches them by
    // keyboard as it reaches the other live panels; the logo has none to tell.
    for (GtkWidget* area : {m_cpu, m_temp, m_ram})
        gtk_widget_set_can_focus(area, TRUE);
    // The window may go before the bar does; nothing may reach its widgets after that.
    g_signal_connect(m_box, "destroy", G_CALLBACK(on_box_destroyed), this);
    if (!m_animate_source) m_animate_source = g_timeout_add(33, on_animate, this);
    return m_box;
}

// On X11 a panel that shares the window's surface is repainted through the whole window's
// drawing cycle; with a surface of its own, 30 frames a second cost the program about a
// quarter less and the X server half.
// Wayland has no such child surfaces and draws every frame through the toplevel anyway.
void MonitorBar::on_logo_realized(GtkWidget* logo, gpointer) {
    GdkWindow* window = gtk_widget_get_window(logo);
    if (window && g_str_has_prefix(G_OBJECT_TYPE_NAME(gdk_window_get_display(window)), "GdkX11"))
        gdk_window_ensure_native(window);
}

void MonitorBar::on_box_destroyed(GtkWidget*, gpointer self) {
    auto* bar = static_cast<MonitorBar*>(self);
    bar->m_box = bar->m_logo = bar->m_cpu = bar->m_temp = bar->m_ram = nullptr;
}

int MonitorBar::cpu_panel_width(int window_width) {
    return std::max(cpu_min_width, window_width - 2 * bar_margin - 3 * bar_spacing - logo_width -
                                       temp_width - ram_width);
}

MonitorBar::PreparedLogo MonitorBar::make_logo_layers(const Palette& palette,
                                                      const std::string& byline, int scale,
                                                      unsigned palette_generation) {
    PreparedLogo out;
    out.palette_generation = palette_generation;
    out.icon = images::app_icon_pixbuf();
    out.layers = std::make_unique<monitor::LogoLayers>();
    // Drawing a frame within one pixel makes the layers and little else.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    out.layers->paint(cr, logo_width, bar_height, scale, palette, out.icon, byline, 0, 0);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return out;
}

void MonitorBar::draw_panel_frames(PreparedPanels& panels, const live::MonitorFigures& figures,
                                   const Palette& palette, const cairo_font_options_t* options) {
    for (size_t i = 0; i < panel_draws.size(); ++i) {
        const int w = panels.widths[i];
        cairo_surface_t* frame = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * panels.scale,
                                                            bar_height * panels.scale);
        cairo_surface_set_device_scale(frame, panels.scale, panels.scale);
        cairo_t* cr = cairo_create(frame);
        if (options) cairo_set_font_options(cr, options);
        if (panels.rtl) draw::mirror(cr, w);
        panel_draws[i](cr, w, bar_height, figures, palette);
        cairo_destroy(cr);
        panels.frames[i] = frame;
    }
}

// One thread for both, so that the window's own work while it is shown competes with one
// thread, not two.
void MonitorBar::prepare_first_frame(int scale, int window_width) {
    if (m_prepared.valid()) return;
    scale = std::max(scale, 1);
    PreparedPanels panels;
    const bool with_panels = window_width > 0 && m_cpu;
    if (with_panels) {
        panels.widths = {cpu_panel_width(window_width), temp_width, ram_width};
        panels.scale = scale;
        panels.rtl = gtk_widget_get_direction(m_cpu) == GTK_TEXT_DIR_RTL;
        panels.palette_generation = m_palette_generation;
        panels.samples = m_samples;
    }
    m_prepared = std::async(
        std::launch::async,
        [palette = m_palette, scale, with_panels, panels,
         byline = std::string(tr("monitor.byline")), generation = m_palette_generation,
         figures = m_figures, options = with_panels ? window_font_options() : nullptr]() mutable {
            Prepared out{make_logo_layers(palette, byline, scale, generation), {}};
            if (with_panels) {
                draw_panel_frames(panels, figures, palette, options);
                out.panels = panels;
            }
            if (options) cairo_font_options_destroy(options);
            return out;
        });
}

void MonitorBar::adopt_prepared() {
    if (!m_prepared.valid()) return;
    Prepared prepared = m_prepared.get();
    if (!m_logo_pixbuf_tried) {
        m_logo_pixbuf_tried = true;
        m_logo_pixbuf = std::exchange(prepared.logo.icon, nullptr);
    }
    if (prepared.logo.icon) g_object_unref(prepared.logo.icon);
    if (prepared.logo.palette_generation == m_palette_generation)
        m_logo_layers = std::move(prepared.logo.layers);
    drop_prepared_panels();
    m_first_frames = prepared.panels;
}

void MonitorBar::drop_prepared_panels() {
    for (cairo_surface_t*& frame : m_first_frames.frames)
        if (frame) cairo_surface_destroy(std::exchange(frame, nullptr));
}

// A prepared frame is shown once, and only where nothing it was drawn from has changed.
bool MonitorBar::paint_prepared(int panel, GtkWidget* w, cairo_t* cr) {
    adopt_prepared();
    cairo_surface_t* frame = std::exchange(m_first_frames.frames[panel], nullptr);
    if (!frame) return false;
    const PreparedPanels& f = m_first_frames;
    const bool fits = gtk_widget_get_allocated_width(w) == f.widths[panel] &&
                      gtk_widget_get_allocated_height(w) == bar_height &&
                      gtk_widget_get_scale_factor(w) == f.scale &&
                      (gtk_widget_get_direction(w) == GTK_TEXT_DIR_RTL) == f.rtl &&
                      f.palette_generation == m_palette_generation && f.samples == m_samples;
    if (fits) {
        cairo_set_source_surface(cr, frame, 0, 0);
        cairo_paint(cr);
        ++m_prepared_frames_shown;
    }
    cairo_surface_destroy(frame);
    return fits;
}

void MonitorBar::set_palette(const Palette& p) {
    m_palette = p;
    invalidate_logo_cache();
    if (m_box) gtk_widget_queue_draw(m_box);
}

void MonitorBar::invalidate_logo_cache() {
    ++m_palette_generation; // layers still being made ahead are made with the old one
    m_logo_layers->invalidate();
}

// ---- Sampling -------------------------------------------------------------------------------

void MonitorBar::find_temperature_source() {
    m_temp_source = live::choose_temperature_source(live::read_hwmon_chips());
    m_figures.temp_label = m_temp_source.label;
}

void MonitorBar::find_cpu_identity() {
    m_figures.identity = live::read_cpu_identity();
}

void MonitorBar::rescan() {
    find_temperature_source();
    find_cpu_identity();
}

void MonitorBar::sample() {
    const double temperature = live::read_temperature_following(m_temp_source);
    // Another chip's readings are no history of this one: its highest would be shown as the
    // new sensor's.
    if (m_temp_source.path != m_temp_history_of) m_figures.temp_history.clear();
    m_temp_history_of = m_temp_source.path;
    m_figures.temp_label = m_temp_source.label;
    live::apply_sample(m_figures, util::read_lines("/proc/stat"), util::read_lines("/proc/meminfo"),
                       temperature);
    ++m_samples;
    refresh_shown_ram_tooltip();
    update_descriptions();
}

gboolean MonitorBar::on_tick(gpointer self) {
    auto* bar = static_cast<MonitorBar*>(self);
    try {
        bar->sample();
    } catch (const std::exception&) {
        // The next tick reads again; a bad moment must not stop the bar.
    }
    // The logo draws itself 30 times a second, in the new load's colour from its next frame.
    for (GtkWidget* panel : {bar->m_cpu, bar->m_temp, bar->m_ram})
        if (panel) gtk_widget_queue_draw(panel);
    return G_SOURCE_CONTINUE;
}

gboolean MonitorBar::on_animate(gpointer self) {
    auto* bar = static_cast<MonitorBar*>(self);
    bar->m_phase = monitor::next_phase(bar->m_phase, bar->m_figures.cpu.total);
    if (bar->m_logo && !bar->paint_logo_now()) gtk_widget_queue_draw(bar->m_logo);
    return G_SOURCE_CONTINUE;
}

#ifdef GDK_WINDOWING_X11
namespace {

// Whether pixels of an opaque ARGB32 image can go to `visual` as they are in memory.
bool takes_argb32(const Visual* visual, int depth) {
    return (depth == 24 || depth == 32) && visual->red_mask == 0xFF0000 &&
           visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
}

// Puts the device rectangles `rects` of `image` at the same place in `window`.
void put_rects(Display* display, Window window, GC gc, int depth, cairo_surface_t* image,
               const std::vector<cairo_rectangle_int_t>& rects) {
    XImage x{};
    x.width = cairo_image_surface_get_width(image);
    x.height = cairo_image_surface_get_height(image);
    x.format = ZPixmap;
    x.data = reinterpret_cast<char*>(cairo_image_surface_get_data(image));
    x.byte_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst;
    x.bitmap_unit = 32;
    x.bitmap_bit_order = x.byte_order;
    x.bitmap_pad = 32;
    x.depth = depth;
    x.bytes_per_line = cairo_image_surface_get_stride(image);
    x.bits_per_pixel = 32;
    x.red_mask = 0xFF0000, x.green_mask = 0xFF00, x.blue_mask = 0xFF;
    if (!x.data || !XInitImage(&x)) return;
    for (const cairo_rectangle_int_t& r : rects) {
        const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
        const int x1 = std::min(r.x + r.width, x.width), y1 = std::min(r.y + r.height, x.height);
        if (x1 > x0 && y1 > y0)
            XPutImage(display, window, gc, &x, x0, y0, x0, y0, static_cast<unsigned>(x1 - x0),
                      static_cast<unsigned>(y1 - y0));
    }
}

} // namespace
#endif

// Under X11 the next frame goes straight to the logo's own window, and only the pulses' old
// and new places travel: the toolkit's drawing cycle cost more than the frame itself, 30
// times a second. Anything else (a first frame, a new size, an exposure, a visual of another
// pixel layout, Wayland) takes the toolkit's way through draw_logo.
bool MonitorBar::paint_logo_now() {
#ifdef GDK_WINDOWING_X11
    GdkWindow* window = gtk_widget_get_window(m_logo);
    if (!window || !gtk_widget_is_drawable(m_logo) || !GDK_IS_X11_WINDOW(window) ||
        !gdk_window_has_native(window) || !gdk_window_is_viewable(window))
        return false;
    GdkVisual* visual = gdk_window_get_visual(window);
    const int depth = gdk_visual_get_depth(visual);
    if (!takes_argb32(GDK_VISUAL_XVISUAL(visual), depth)) return false;
    adopt_prepared();
    const int w = gtk_widget_get_allocated_width(m_logo),
              h = gtk_widget_get_allocated_height(m_logo);
    if (!m_logo_layers->ready_for(w, h, gtk_widget_get_scale_factor(m_logo), tr("monitor.byline")))
        return false;
    Display* display = GDK_WINDOW_XDISPLAY(window);
    if (!m_logo_gc) m_logo_gc = XCreateGC(display, GDK_WINDOW_XID(window), 0, nullptr);
    put_rects(display, GDK_WINDOW_XID(window), static_cast<GC>(m_logo_gc), depth,
              m_logo_layers->frame(), m_logo_layers->next_frame(m_phase, m_figures.cpu.total));
    // No flush: the toolkit's event source asks the connection for events (which sends what
    // waits) before the main loop sleeps again.
    return true;
#else
    return false;
#endif
}

// The context belongs to the X window, which is about to go.
void MonitorBar::on_logo_unrealized(GtkWidget* logo, gpointer self) {
    static_cast<MonitorBar*>(self)->release_logo_gc(logo);
}

void MonitorBar::release_logo_gc(GtkWidget* logo) {
#ifdef GDK_WINDOWING_X11
    GdkWindow* window = gtk_widget_get_window(logo);
    if (m_logo_gc && window && GDK_IS_X11_WINDOW(window))
        XFreeGC(GDK_WINDOW_XDISPLAY(window), static_cast<GC>(m_logo_gc));
#else
    (void)logo;
#endif
    m_logo_gc = nullptr;
}

std::string MonitorBar::ram_tooltip_text() const {
    const live::MemoryUse& m = m_figures.memory;
    if (m.total == 0) return {};
    std::string text = std::string(tr("f.total")) + ": " + util::fmt_bytes(m.total) + "\n" +
                       tr("f.used") + ": " + util::fmt_bytes(m.used);
    // What the modules hold beyond what the kernel manages went to the firmware and to
    // integrated graphics; only the elevated copy can read the modules.
    const hw::RootData& root = hw::RootData::instance();
    if (root.available) {
        uint64_t installed = 0;
        for (const auto& module : root.memory)
            installed = hw::saturating_add(installed, module.size_bytes);
        if (installed > m.total)
            text += std::string("\n") + tr("f.reserved_firmware") + ": " +
                    util::fmt_bytes(installed - m.total) + "\n" + tr("f.installed") + ": " +
                    util::fmt_bytes(installed);
    }
    return text;
}

// The text is made when the toolkit is about to show it. Setting it on the panel every second
// made the toolkit look for the pointer each time, grabbing the X server for a few round trips.
gboolean MonitorBar::on_ram_query_tooltip(GtkWidget*, gint, gint, gboolean, GtkTooltip* tooltip,
                                          gpointer self) {
    auto* bar = static_cast<MonitorBar*>(self);
    bar->m_ram_tooltip = bar->ram_tooltip_text();
    if (bar->m_ram_tooltip.empty()) return FALSE;
    gtk_tooltip_set_text(tooltip, bar->m_ram_tooltip.c_str());
    return TRUE;
}

// A tooltip can be showing only while the pointer is over the panel or it has the focus; then
// it follows the figures as they change.
void MonitorBar::refresh_shown_ram_tooltip() {
    if (!m_ram || !(m_ram_hovered || gtk_widget_has_focus(m_ram))) return;
    if (ram_tooltip_text() != m_ram_tooltip) gtk_widget_trigger_tooltip_query(m_ram);
}

gboolean MonitorBar::on_ram_crossing(GtkWidget*, GdkEventCrossing* event, gpointer self) {
    static_cast<MonitorBar*>(self)->m_ram_hovered = event->type == GDK_ENTER_NOTIFY;
    return FALSE;
}

void MonitorBar::update_descriptions() {
    const live::MonitorFigures& f = m_figures;
    const auto& loads = f.cpu.per_cpu;
    const double busiest = loads.empty() ? 0 : *std::max_element(loads.begin(), loads.end());
    std::string about = monitor::topology_note(f);
    if (!f.identity.name.empty()) about += (about.empty() ? "" : ", ") + f.identity.name;
    set_accessible(m_cpu, tr("monitor.cpu"),
                   (about.empty() ? "" : about + ". ") +
                       I18n::trf("monitor.desc_cpu", util::fmt_percent(f.cpu.total, 0).c_str(),
                                 util::fmt_percent(busiest, 0).c_str()));
    std::string temp = tr("monitor.no_value");
    if (f.temp_now >= 0) {
        const double highest = f.temp_history.empty() ? f.temp_now
                                                      : *std::max_element(f.temp_history.begin(),
                                                                          f.temp_history.end());
        temp = I18n::trf("monitor.desc_temp", (util::fmt_double(f.temp_now, 1) + " °C").c_str(),
                         (util::fmt_double(highest, 1) + " °C").c_str());
        if (!f.temp_label.empty()) temp = f.temp_label + ": " + temp;
    }
    set_accessible(m_temp, tr("monitor.temperature"), temp);
    // Without a total (no meminfo) the use is unknown, not "0 B of 0 B".
    set_accessible(m_ram, tr("monitor.memory"),
                   f.memory.total == 0
                       ? std::string(tr("common.unknown"))
                       : I18n::trf("monitor.desc_memory", util::fmt_bytes(f.memory.used).c_str(),
                                   util::fmt_bytes(f.memory.total).c_str(),
                                   util::fmt_percent(f.memory.percent, 0).c_str()));
    set_accessible(m_logo, "Quarvel", tr("monitor.byline"));
}

// ---- Drawing --------------------------------------------------------------------------------

GdkPixbuf* MonitorBar::logo_pixbuf() {
    if (!m_logo_pixbuf_tried) {
        m_logo_pixbuf_tried = true;
        m_logo_pixbuf = images::app_icon_pixbuf();
    }
    return m_logo_pixbuf;
}

gboolean MonitorBar::draw_logo(GtkWidget* w, cairo_t* cr, gpointer self) {
    auto* bar = static_cast<MonitorBar*>(self);
    bar->adopt_prepared();
    bar->m_logo_layers->paint(cr, gtk_widget_get_allocated_width(w),
                              gtk_widget_get_allocated_height(w), gtk_widget_get_scale_factor(w),
                              bar->m_palette, bar->logo_pixbuf(), tr("monitor.byline"),
                              bar->m_phase, bar->m_figures.cpu.total);
    return FALSE;
}

template <MonitorBar::PanelDraw draw>
gboolean MonitorBar::draw_panel(GtkWidget* w, cairo_t* cr, gpointer self) {
    auto* bar = static_cast<MonitorBar*>(self);
    const int width = gtk_widget_get_allocated_width(w),
              height = gtk_widget_get_allocated_height(w);
    const int panel = draw == panel_draws[0] ? 0 : draw == panel_draws[1] ? 1 : 2;
    if (!bar->paint_prepared(panel, w, cr)) {
        cairo_save(cr);
        mirror_for_direction(w, cr, width);
        draw(cr, width, height, bar->m_figures, bar->m_palette);
        cairo_restore(cr);
    }
    draw_focus_ring(w, cr);
    return FALSE;
}
