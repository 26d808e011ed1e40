// The strip above the window's panes: the animated logo, processor load per CPU, temperature
// and memory, sampled once a second for the whole run.
#pragma once

#include "gui/monitor_draw.h"
#include "live/monitor_sample.h"
#include "theme.h"

#include <gtk/gtk.h>

#include <array>
#include <future>
#include <memory>
#include <string>

class MonitorBar {
public:
    // The CPU, temperature and memory panels draw from the figures alone.
    using PanelDraw = void (*)(cairo_t*, double, double, const live::MonitorFigures&,
                               const Palette&);

    MonitorBar() = default;
    ~MonitorBar();
    MonitorBar(const MonitorBar&) = delete;
    MonitorBar& operator=(const MonitorBar&) = delete;

    // The bar's box of four drawing areas. Finds the temperature source and the processor's
    // identity and starts the animation; the window takes the first sample once its first
    // collection is done (the tooltip reads what that collection may learn as root) and
    // installs on_tick.
    GtkWidget* build(const Palette& p);
    // Makes the logo's layers for `scale` on another thread, from the palette and language
    // now in use, so the first frame finds them ready; a later palette discards them. Given
    // the width the window opens at, the same thread then draws the first frames of the
    // processor, temperature and memory panels, from the figures and text direction now in
    // use too: their text is most of what the bar's first frame costs. A panel whose size,
    // palette or figures differ by its first draw is drawn anew.
    void prepare_first_frame(int scale, int window_width = 0);
    // The processor panel's width in a window `window_width` wide.
    static int cpu_panel_width(int window_width);
    void set_palette(const Palette& p);
    void invalidate_logo_cache();
    // Reads the files once and refreshes the accessible descriptions, and the tooltip if shown.
    void sample();
    // Chooses the temperature source and learns the processors again, as a refresh of the tree
    // does: a sensor's driver loaded since (or a drive with its own) may now be the best one.
    void rescan();
    // How many prepared first frames of panels were shown.
    int prepared_frames_shown() const { return m_prepared_frames_shown; }

    // Every 1000 ms: a sample (a failure waits for the next tick) and a redraw.
    static gboolean on_tick(gpointer self);
    // Every 33 ms: the next frame of the logo.
    static gboolean on_animate(gpointer self);

    const live::MonitorFigures& figures() const { return m_figures; }
    // The memory panel's tooltip: the total and the used memory, and with the elevated copy's
    // modules what the firmware keeps; empty while the total is unknown.
    std::string ram_tooltip_text() const;
    GtkWidget* box() const { return m_box; }
    // The program's icon at its own size, decoded once (with the first frame's logo when that
    // was prepared); owned by the bar.
    GdkPixbuf* logo_pixbuf();

private:
    void find_temperature_source();
    void find_cpu_identity();
    void refresh_shown_ram_tooltip();
    static gboolean on_ram_query_tooltip(GtkWidget*, gint, gint, gboolean, GtkTooltip* tooltip,
                                         gpointer self);
    static gboolean on_ram_crossing(GtkWidget*, GdkEventCrossing* event, gpointer self);
    void update_descriptions();
    bool paint_logo_now();
    static void on_logo_unrealized(GtkWidget* logo, gpointer self);
    void release_logo_gc(GtkWidget* logo);

    static gboolean draw_logo(GtkWidget* w, cairo_t* cr, gpointer self);
    template <PanelDraw draw> static gboolean draw_panel(GtkWidget* w, cairo_t* cr, gpointer self);
    static void on_box_destroyed(GtkWidget* w, gpointer self);
    static void on_logo_realized(GtkWidget* logo, gpointer);

    std::unique_ptr<monitor::LogoLayers> m_logo_layers = std::make_unique<monitor::LogoLayers>();
    struct PreparedLogo {
        std::unique_ptr<monitor::LogoLayers> layers;
        GdkPixbuf* icon = nullptr; // owned
        unsigned palette_generation = 0;
    };
    unsigned m_palette_generation = 0;

    struct PreparedPanels {
        std::array<cairo_surface_t*, 3> frames{}; // owned; processor, temperature, memory
        std::array<int, 3> widths{};
        int scale = 1;
        bool rtl = false;
        unsigned palette_generation = 0;
        unsigned samples = 0;
    };
    struct Prepared {
        PreparedLogo logo;
        PreparedPanels panels;
    };
    std::future<Prepared> m_prepared;
    static PreparedLogo make_logo_layers(const Palette& palette, const std::string& byline,
                                         int scale, unsigned palette_generation);
    static void draw_panel_frames(PreparedPanels& panels, const live::MonitorFigures& figures,
                                  const Palette& palette, const cairo_font_options_t* options);
    PreparedPanels m_first_frames;
    unsigned m_samples = 0;
    int m_prepared_frames_shown = 0;
    void adopt_prepared();
    void drop_prepared_panels();
    bool paint_prepared(int panel, GtkWidget* w, cairo_t* cr);
    // A graphics context for the logo's own X window, while it is realized (X11 only).
    void* m_logo_gc = nullptr;
    GtkWidget* m_box = nullptr;
    GtkWidget* m_logo = nullptr;
    GtkWidget* m_cpu = nullptr;
    GtkWidget* m_temp = nullptr;
    GtkWidget* m_ram = nullptr;
    Palette m_palette;
    live::MonitorFigures m_figures;
    std::string m_ram_tooltip; // as last shown
    bool m_ram_hovered = false;
    live::TemperatureSource m_temp_source;
    std::string m_temp_history_of; // the path the temperature history was read from
    GdkPixbuf* m_logo_pixbuf = nullptr;
    bool m_logo_pixbuf_tried = false;
    double m_phase = 0;
    guint m_animate_source = 0;
};
