// The least a 30-frames-a-second animation of a 258 × 104 panel costs in this toolkit under a
// given X server: a window of the program's minimum size whose one drawing area (a surface of
// its own, like the monitor bar's logo) paints a ready-made picture every 33 ms. Run beside
// the program by bench/monitor_idle.sh, so both shares come from the same machine and moment.
#include <gtk/gtk.h>

namespace {

cairo_surface_t* picture = nullptr;

gboolean draw(GtkWidget*, cairo_t* cr, gpointer) {
    // Marked changed, so the picture travels to the X server every frame as the logo's does.
    cairo_surface_mark_dirty(picture);
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_paint(cr);
    return FALSE;
}

} // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 258, 104);
    cairo_t* c = cairo_create(picture);
    cairo_set_source_rgb(c, 0.2, 0.3, 0.5);
    cairo_paint(c);
    cairo_destroy(c);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, 258, 104);
    g_signal_connect(area, "draw", G_CALLBACK(draw), nullptr);
    gtk_box_pack_start(GTK_BOX(box), area, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
    gdk_window_ensure_native(gtk_widget_get_window(area));
    g_timeout_add(
        33,
        [](gpointer a) -> gboolean {
            gtk_widget_queue_draw(GTK_WIDGET(a));
            return G_SOURCE_CONTINUE;
        },
        area);
    gtk_main();
    cairo_surface_destroy(picture);
    return 0;
}
