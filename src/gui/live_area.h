// The drawing area and the once-a-second sampling timer of a live panel, with what every such
// panel owes its users: keyboard focus, and an accessible name and description that carry its
// current figures. The panel supplies what to draw and what to do on each tick.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

class LiveArea {
public:
    using Draw = std::function<void(cairo_t* cr, int width)>;
    using Tick = std::function<void()>;

    LiveArea() = default;
    ~LiveArea();
    // Signal handlers hold this object's address.
    LiveArea(const LiveArea&) = delete;
    LiveArea& operator=(const LiveArea&) = delete;

    GtkWidget* build(Draw draw, Tick tick);
    GtkWidget* widget() const { return m_area; }

    // (Re)starts the timer; its first tick comes a second from now.
    void start();
    void stop();
    bool running() const { return m_timer != 0; }
    void redraw();
    // Written only when changed, so assistive technology hears of real changes only.
    void describe(const std::string& name, const std::string& description);

private:
    static gboolean on_tick(gpointer self);
    static gboolean on_draw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void on_destroy(GtkWidget* widget, gpointer self);

    GtkWidget* m_area = nullptr; // null before build and once the window is gone
    guint m_timer = 0;
    Draw m_draw;
    Tick m_tick;
    std::string m_name, m_description;
};
