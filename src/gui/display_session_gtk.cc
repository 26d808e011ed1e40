// The toolkit's side of the display session: opens the display for the report and describes
// the default display's monitors to the graphics collector.
#include "gui/display_session_gtk.h"
#include "hw/display_session.h"

#include <cstdlib>
#include <gdk/gdk.h>
#include <string>
#include <vector>

namespace {

std::string subpixel_name(GdkSubpixelLayout layout) {
    switch (layout) {
    case GDK_SUBPIXEL_LAYOUT_NONE:
        return "None";
    case GDK_SUBPIXEL_LAYOUT_HORIZONTAL_RGB:
        return "Horizontal RGB";
    case GDK_SUBPIXEL_LAYOUT_HORIZONTAL_BGR:
        return "Horizontal BGR";
    case GDK_SUBPIXEL_LAYOUT_VERTICAL_RGB:
        return "Vertical RGB";
    case GDK_SUBPIXEL_LAYOUT_VERTICAL_BGR:
        return "Vertical BGR";
    case GDK_SUBPIXEL_LAYOUT_UNKNOWN:
        break;
    }
    return {};
}

std::optional<hw::DisplaySession> gtk_display_session() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return std::nullopt;
    hw::DisplaySession session;
    session.backend = G_OBJECT_TYPE_NAME(display);
    const char* name = gdk_display_get_name(display);
    session.display_name = name ? name : "";
    int n = gdk_display_get_n_monitors(display);
    for (int i = 0; i < n; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        if (!monitor) continue;
        hw::SessionMonitor m;
        const char* manufacturer = gdk_monitor_get_manufacturer(monitor);
        const char* model = gdk_monitor_get_model(monitor);
        m.manufacturer = manufacturer ? manufacturer : "";
        m.model = model ? model : "";
        GdkRectangle geometry, workarea;
        gdk_monitor_get_geometry(monitor, &geometry);
        gdk_monitor_get_workarea(monitor, &workarea);
        m.x = geometry.x;
        m.y = geometry.y;
        m.width = geometry.width;
        m.height = geometry.height;
        m.work_x = workarea.x;
        m.work_y = workarea.y;
        m.work_width = workarea.width;
        m.work_height = workarea.height;
        m.refresh_millihz = gdk_monitor_get_refresh_rate(monitor);
        m.scale = gdk_monitor_get_scale_factor(monitor);
        m.width_mm = gdk_monitor_get_width_mm(monitor);
        m.height_mm = gdk_monitor_get_height_mm(monitor);
        m.primary = gdk_monitor_is_primary(monitor);
        m.subpixel = subpixel_name(gdk_monitor_get_subpixel_layout(monitor));
        session.monitors.push_back(std::move(m));
    }
    return session;
}

std::optional<hw::DisplaySession> g_held_session;

std::optional<hw::DisplaySession> held_session() {
    return g_held_session;
}

} // namespace

void gui::register_display_session() {
    hw::set_display_session_provider(gtk_display_session);
}

void gui::hold_display_session() {
    g_held_session = gtk_display_session();
    hw::set_display_session_provider(held_session);
}

// Called by the report mode (through the module loader) when a display may be reachable.
// Non-zero when the toolkit could open the display.
extern "C" __attribute__((visibility("default"))) int quarvel_toolkit_init(int argc, char** argv) {
    // The report shows no widgets: only the display part of the toolkit is started, without
    // themes, input methods or the accessibility bus.
    // Opening the display would load the GL driver (on a software renderer, LLVM) to match its
    // visuals with GL's: two thirds of the probe's time, for a report that draws nothing.
    setenv("GDK_GL", "disable", 1);
    // The toolkit removes the options it understands from the vector it is given; the
    // caller's own argument vector stays as it was.
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    char** toolkit_argv = args.data();
    if (!gdk_init_check(&argc, &toolkit_argv)) return 0;
    gui::register_display_session();
    return 1;
}
