#include "gui/widget_util.h"

#include "i18n.h"

namespace widgets {

std::string escape(const std::string& text) {
    gchar* escaped = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    if (!escaped) return text;
    std::string out = escaped;
    g_free(escaped);
    return out;
}

GtkWidget* new_dialog(const char* title_key, GtkWindow* parent) {
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), tr(title_key));
    gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    return dialog;
}

void set_margins(GtkWidget* w, int start, int end, int top, int bottom) {
    gtk_widget_set_margin_start(w, start);
    gtk_widget_set_margin_end(w, end);
    gtk_widget_set_margin_top(w, top);
    gtk_widget_set_margin_bottom(w, bottom);
}

void add_class(GtkWidget* w, const char* style_class) {
    gtk_style_context_add_class(gtk_widget_get_style_context(w), style_class);
}

GtkWidget* label_for(GtkWidget* control, const char* text) {
    GtkWidget* label = gtk_label_new_with_mnemonic(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), control);
    // A button with a text of its own says best what it does by that text.
    if (!GTK_IS_BUTTON(control) || !gtk_button_get_label(GTK_BUTTON(control)))
        atk_object_set_name(gtk_widget_get_accessible(control),
                            gtk_label_get_text(GTK_LABEL(label))); // without the "_"
    return label;
}

namespace {

// The entry's accessible names its icons by their file names, and again each time one changes:
// the clear icon gets its words back after that.
void name_clear_icon(GtkWidget* entry, GParamSpec* changed, gpointer) {
    if (changed && !g_str_has_prefix(changed->name, "secondary-icon")) return;
    GtkEntry* e = GTK_ENTRY(entry);
    if (gtk_entry_get_icon_storage_type(e, GTK_ENTRY_ICON_SECONDARY) == GTK_IMAGE_EMPTY) return;
    // The accessible counts only the icons shown.
    const bool primary =
        gtk_entry_get_icon_storage_type(e, GTK_ENTRY_ICON_PRIMARY) != GTK_IMAGE_EMPTY;
    if (AtkObject* icon =
            atk_object_ref_accessible_child(gtk_widget_get_accessible(entry), primary)) {
        atk_object_set_name(icon, tr("ui.clear_search"));
        g_object_unref(icon);
    }
}

} // namespace

void name_search_entry(GtkWidget* entry, const char* text) {
    gtk_entry_set_placeholder_text(GTK_ENTRY(entry), text);
    atk_object_set_name(gtk_widget_get_accessible(entry), text);
    if (!g_object_get_data(G_OBJECT(entry), "clear-icon-named")) {
        g_object_set_data(G_OBJECT(entry), "clear-icon-named", GINT_TO_POINTER(1));
        g_signal_connect_after(entry, "notify", G_CALLBACK(name_clear_icon), nullptr);
    }
    name_clear_icon(entry, nullptr, nullptr); // in the language just chosen
}

void shorten_words_when_narrow(GtkWidget* bin) {
    if (GtkWidget* words = gtk_bin_get_child(GTK_BIN(bin)); GTK_IS_LABEL(words))
        gtk_label_set_ellipsize(GTK_LABEL(words), PANGO_ELLIPSIZE_END);
}

GdkMonitor* monitor_or_primary(GdkDisplay* display, GdkMonitor* preferred) {
    if (preferred || !display) return preferred;
    if (GdkMonitor* primary = gdk_display_get_primary_monitor(display)) return primary;
    return gdk_display_get_n_monitors(display) > 0 ? gdk_display_get_monitor(display, 0) : nullptr;
}

GtkWidget* new_grid(int row_spacing, int column_spacing, int margin_x, int margin_y) {
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), row_spacing);
    gtk_grid_set_column_spacing(GTK_GRID(grid), column_spacing);
    set_margins(grid, margin_x, margin_x, margin_y, margin_y);
    return grid;
}

void keep_height_of_button(GtkWidget* widget, const char* button_key) {
    auto measure = +[](GtkWidget* w, gpointer key) {
        GtkWidget* twin = gtk_button_new_with_label(tr(static_cast<const char*>(key)));
        g_object_ref_sink(twin);
        gtk_widget_show(twin);
        int height = 0;
        gtk_widget_get_preferred_height(twin, nullptr, &height);
        gtk_widget_destroy(twin);
        g_object_unref(twin);
        gtk_widget_set_size_request(w, -1, height);
    };
    gpointer key = const_cast<char*>(button_key);
    measure(widget, key);
    g_signal_connect(widget, "style-updated", G_CALLBACK(measure), key);
}

} // namespace widgets
