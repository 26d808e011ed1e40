#include "gui/tree_keys.h"

namespace tree_keys {

namespace {

// Opens, closes or moves from the cursor's row `path`; false when there is nothing to do.
bool step(GtkTreeView* view, GtkTreePath* path, bool inwards) {
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter it;
    if (!model || !gtk_tree_model_get_iter(model, &it, path)) return false;
    const bool branch = gtk_tree_model_iter_has_child(model, &it);
    const bool open = branch && gtk_tree_view_row_expanded(view, path);
    if (inwards && branch && !open) {
        gtk_tree_view_expand_row(view, path, FALSE);
    } else if (inwards && open) {
        gtk_tree_path_down(path);
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
    } else if (!inwards && open) {
        gtk_tree_view_collapse_row(view, path);
    } else if (!inwards && gtk_tree_path_get_depth(path) > 1) {
        gtk_tree_path_up(path);
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
    } else {
        return false;
    }
    return true;
}

gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, gpointer) {
    // With a modifier the key is left to the toolkit's own bindings (Shift+Right opens a row
    // without moving).
    if (event->state & gtk_accelerator_get_default_mod_mask()) return FALSE;
    const bool left = event->keyval == GDK_KEY_Left || event->keyval == GDK_KEY_KP_Left;
    const bool right = event->keyval == GDK_KEY_Right || event->keyval == GDK_KEY_KP_Right;
    if (!left && !right) return FALSE;
    const bool rtl = gtk_widget_get_direction(widget) == GTK_TEXT_DIR_RTL;
    GtkTreeView* view = GTK_TREE_VIEW(widget);
    GtkTreePath* path = nullptr;
    gtk_tree_view_get_cursor(view, &path, nullptr);
    if (!path) return FALSE;
    const bool handled = step(view, path, right != rtl);
    gtk_tree_path_free(path);
    return handled;
}

} // namespace

void attach(GtkWidget* tree_view) {
    g_signal_connect(tree_view, "key-press-event", G_CALLBACK(on_key_press), nullptr);
}

} // namespace tree_keys
