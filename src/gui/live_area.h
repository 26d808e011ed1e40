// The drawing area, palette and once-a-second sampling timer of a live panel, with what every
// such panel owes its users: keyboard focus, and an accessible name and a description that
// carry its current figures. The panel supplies what to draw, what to read on each tick and
// how to say its figures in words.
#pragma once

#include "theme.h"

#include <gtk/gtk.h>

#include <functional>
#include <string>

// Gives `widget` an accessible name and description, each written only when it changed, so
// screen readers are told when the words change, not on every sample.
void set_accessible(GtkWidget* widget, const std::string& name, const std::string& description);

// Mirrors a drawn panel `width` wide for a widget laid out right to left (draw::mirror).
void mirror_for_direction(GtkWidget* widget, cairo_t* cr, int width);

// The focus ring around a drawn panel that has the keyboard focus and shows it.
void draw_focus_ring(GtkWidget* widget, cairo_t* cr);

class LiveArea {
public:
    using Draw = std::function<void(cairo_t* cr, int width, const Palette& p)>;
    using Sample = std::function<void()>;
    using Describe = std::function<std::string()>;

    LiveArea() = default;
    ~LiveArea();
    // Signal handlers hold this object's address.
    LiveArea(const LiveArea&) = delete;
    LiveArea& operator=(const LiveArea&) = delete;

    // `name_key` is the catalog key of the accessible name.
    GtkWidget* build(const Palette& p, const char* name_key, Draw draw, Sample sample,
                     Describe describe);
    void set_palette(const Palette& p);

    // Shows what the panel holds now and (re)starts the timer; the first tick comes a second
    // later.
    void start();
    void stop();
    bool running() const { return m_timer != 0; }

private:
    void redraw();
    // Written only when changed, so assistive technology hears of real changes only.
    void update_accessible();
    static gboolean on_tick(gpointer self);
    static gboolean on_draw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void on_destroy(GtkWidget* widget, gpointer self);

    GtkWidget* m_area = nullptr; // null before build and once the window is gone
    guint m_timer = 0;
    Palette m_palette;
    const char* m_name_key = "";
    Draw m_draw;
    Sample m_sample;
    Describe m_describe;
    std::string m_name, m_description;
};
