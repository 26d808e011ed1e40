// The window's size and place: first placed on the monitor's work area, fitted to the frame
// the window manager adds, and remembered when it closes.
#include "gui/app.h"

#include "gui/widget_util.h"
#include "gui/window_layout.h"
#include "settings.h"

namespace {

layout::Rect work_area() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return layout::fallback_work_area;
    GdkMonitor* monitor = nullptr;
    if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
        if (GdkDevice* pointer = gdk_seat_get_pointer(seat)) {
            int x = 0, y = 0;
            gdk_device_get_position(pointer, nullptr, &x, &y);
            monitor = gdk_display_get_monitor_at_point(display, x, y);
        }
    }
    monitor = widgets::monitor_or_primary(display, monitor);
    if (!monitor) return layout::fallback_work_area;
    GdkRectangle r;
    gdk_monitor_get_workarea(monitor, &r);
    return {r.x, r.y, r.width, r.height};
}

} // namespace

bool App::running_on_wayland() {
    GdkDisplay* display = gdk_display_get_default();
    return display && g_str_has_prefix(G_OBJECT_TYPE_NAME(display), "GdkWayland");
}

void App::apply_geometry() {
    const Settings& s = SettingsStore::instance().get();
    layout::Placement p = layout::place_window(s, work_area());
    GdkGeometry hints{};
    hints.min_width = p.min_width;
    hints.min_height = p.min_height;
    gtk_window_set_geometry_hints(GTK_WINDOW(m_window), nullptr, &hints, GDK_HINT_MIN_SIZE);
    gtk_window_set_default_size(GTK_WINDOW(m_window), p.width, p.height);
    if (p.move) gtk_window_move(GTK_WINDOW(m_window), p.x, p.y);
    gtk_paned_set_position(GTK_PANED(m_paned), layout::divider_position(s.paned_position, p.width));
}

void App::remember_geometry() {
    if (!m_window) return;
    Settings& s = SettingsStore::instance().mutable_get();
    s.window_maximized = m_maximized;
    if (!m_maximized) {
        int w = 0, h = 0;
        gtk_window_get_size(GTK_WINDOW(m_window), &w, &h);
        if (w > 0 && h > 0) s.window_width = w, s.window_height = h;
        if (!running_on_wayland()) {
            int x = -1, y = -1;
            gtk_window_get_position(GTK_WINDOW(m_window), &x, &y);
            if (x >= 0 && y >= 0) s.window_x = x, s.window_y = y;
        }
    }
    s.paned_position = gtk_paned_get_position(GTK_PANED(m_paned));
    // The window is closing: its status line would go with it, and a size not kept is all the
    // user loses. Closing goes on.
    SettingsStore::instance().save();
}

gboolean App::on_window_state(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    App* app = static_cast<App*>(self);
    if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED)
        app->m_maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
        app->m_iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        // A window left minimised for days would read all of /proc every second, thousands
        // of files on a busy machine. Back on screen, the list is read at once; the shares
        // follow a second later, as when the list is first opened.
        if (app->m_iconified)
            app->m_procview.stop();
        else if (app->m_proc_box && gtk_widget_get_visible(app->m_proc_box))
            app->m_procview.start();
    }
    return FALSE;
}

// The frame is known only once the window manager has put it around the window, after the
// window was sized: the least size and the size are then made to leave room for it, once.
gboolean App::on_configure(GtkWidget* widget, GdkEventConfigure*, gpointer self) {
    App* app = static_cast<App*>(self);
    GdkWindow* gdk_window = gtk_widget_get_window(widget);
    if (app->m_fitted_to_frame || !gdk_window) return FALSE;
    // A window started maximized has its first configure before its state's event: fitted
    // then, its maximized size would become the size it goes back to.
    if (gdk_window_get_state(gdk_window) &
        (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN))
        return FALSE;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdk_window, &frame);
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
    const layout::Rect extra{0, 0, frame.width - width, frame.height - height};
    if (extra.width <= 0 && extra.height <= 0) return FALSE; // no frame, or not yet
    app->m_fitted_to_frame = true;
    const layout::FrameFit fit = layout::fit_frame(work_area(), extra, width, height, frame.y);
    GdkGeometry hints{};
    hints.min_width = fit.min_width;
    hints.min_height = fit.min_height;
    gtk_window_set_geometry_hints(GTK_WINDOW(widget), nullptr, &hints, GDK_HINT_MIN_SIZE);
    if (fit.width != width || fit.height != height)
        gtk_window_resize(GTK_WINDOW(widget), fit.width, fit.height);
    if (fit.top != frame.y) gtk_window_move(GTK_WINDOW(widget), frame.x, fit.top);
    return FALSE;
}
