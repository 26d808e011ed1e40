/* The yardstick for the window's start: a bare GTK 3 window holding one tree view with a
 * few rows, which prints the moment of its first drawn frame exactly as the program does
 * under QUARVEL_REPORT_FIRST_DRAW ("first draw at realtime N us"), so bench/window_start.sh
 * times both the same way. Like the program, it also says how much processor time all its
 * threads took until then. */
#include <gtk/gtk.h>
#include <stdio.h>
#include <sys/resource.h>

static gboolean on_draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    (void)cr;
    (void)data;
    g_signal_handlers_disconnect_by_func(widget, (gpointer)on_draw, NULL);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    fprintf(stderr, "bare window: %.1f ms of processor time since the program started\n",
            (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0);
    fprintf(stderr, "bare window: first draw at realtime %lld us\n", (long long)g_get_real_time());
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
    GtkTreeStore* store = gtk_tree_store_new(1, G_TYPE_STRING);
    GtkTreeIter iter;
    for (int i = 0; i < 12; ++i) {
        char text[32];
        snprintf(text, sizeof text, "Row %d", i + 1);
        gtk_tree_store_append(store, &iter, NULL);
        gtk_tree_store_set(store, &iter, 0, text, -1);
    }
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "Name",
                                                gtk_cell_renderer_text_new(), "text", 0, NULL);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect_after(window, "draw", G_CALLBACK(on_draw), NULL);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
