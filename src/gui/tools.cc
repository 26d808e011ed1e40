// The Tools branch, opening a terminal, and activating rows of the tree.
#include "gui/tools.h"

#include "gui/actions.h"
#include "gui/app.h"
#include "gui/store_columns.h"
#include "i18n.h"

namespace tools {

std::vector<std::string> terminal_candidates(const char* env_terminal) {
    std::vector<std::string> out;
    if (env_terminal && *env_terminal) out.push_back(env_terminal);
    for (const char* name :
         {"x-terminal-emulator", "mate-terminal", "gnome-terminal", "konsole", "xfce4-terminal",
          "lxterminal", "tilix", "kitty", "alacritty", "terminator", "urxvt", "xterm"})
        out.push_back(name);
    return out;
}

} // namespace tools

namespace {

const char* const terminal_id = "tools.terminal";

hw::Node* node_at_path(GtkTreeView* view, GtkTreePath* path) {
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter it;
    if (!path || !gtk_tree_model_get_iter(model, &it, path)) return nullptr;
    gpointer node = nullptr;
    gtk_tree_model_get(model, &it, TREE_NODE, &node, -1);
    return static_cast<hw::Node*>(node);
}

bool is_terminal_row(GtkTreeView* view, GtkTreePath* path) {
    const hw::Node* n = node_at_path(view, path);
    return n && n->id == terminal_id;
}

} // namespace

void tools::add_branch(hw::Node& root) {
    hw::Node* tools = root.add_child("tools", tr("tree.tools"), "\U0001F527");
    hw::Node* terminal = tools->add_child(terminal_id, tr("tools.terminal"), "\u25B6");
    terminal->summary = tr("tools.terminal_summary");
    terminal->section(tr("sec.overview")).add(tr("f.note"), tr("tools.terminal_hint"));
    hw::Node* processes = tools->add_child("tools.processes", tr("tools.processes"), "\u25B6");
    processes->summary = tr("tools.processes_summary");
}

void App::open_terminal() {
    for (const std::string& name : tools::terminal_candidates(g_getenv("TERMINAL"))) {
        gchar* path = g_find_program_in_path(name.c_str());
        if (!path) continue;
        gchar* argv[] = {path, nullptr};
        const bool started =
            g_spawn_async(g_get_home_dir(), argv, nullptr,
                          GSpawnFlags(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                          nullptr, nullptr, nullptr, nullptr);
        g_free(path);
        if (started) {
            set_status(I18n::trf("tools.terminal_started", name.c_str()));
            return;
        }
    }
    GtkWidget* dialog = gtk_message_dialog_new(
        GTK_WINDOW(m_window), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s", tr("tools.no_terminal"));
    gtk_window_set_title(GTK_WINDOW(dialog), tr("tools.terminal"));
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.close"), GTK_RESPONSE_CLOSE);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

// One press on the terminal row opens a terminal. The second press of a double click, which
// arrives before the toolkit knows it is one, must not open another.
gboolean App::on_tree_press(GtkWidget* widget, GdkEventButton* event, gpointer self) {
    App* app = static_cast<App*>(self);
    if (event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
    GtkTreeView* view = GTK_TREE_VIEW(widget);
    GtkTreePath* path = nullptr;
    if (!gtk_tree_view_get_path_at_pos(view, static_cast<int>(event->x), static_cast<int>(event->y),
                                       &path, nullptr, nullptr, nullptr))
        return FALSE;
    if (is_terminal_row(view, path)) {
        int double_click_ms = 400;
        g_object_get(gtk_widget_get_settings(widget), "gtk-double-click-time", &double_click_ms,
                     nullptr);
        const guint32 since = event->time - app->m_terminal_press_time;
        if (app->m_terminal_press_time == 0 || since > guint32(double_click_ms)) {
            app->m_terminal_press_time = event->time ? event->time : 1;
            // Once the press has selected the row: the dialog that says no terminal exists
            // must not run inside the press.
            if (!app->m_terminal_source)
                app->m_terminal_source = g_idle_add(
                    [](gpointer data) -> gboolean {
                        App* a = static_cast<App*>(data);
                        a->m_terminal_source = 0;
                        a->open_terminal();
                        return G_SOURCE_REMOVE;
                    },
                    app);
        }
    }
    gtk_tree_path_free(path);
    return FALSE; // the press still selects the row
}

// Enter (or a double click) on a row: the terminal row opens a terminal, unless a click has
// just done so; any other row opens or closes one level.
void App::on_tree_row_activated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*,
                                gpointer self) {
    if (is_terminal_row(view, path)) {
        if (!handling_click()) static_cast<App*>(self)->open_terminal();
        return;
    }
    if (gtk_tree_view_row_expanded(view, path))
        gtk_tree_view_collapse_row(view, path);
    else
        gtk_tree_view_expand_row(view, path, FALSE);
}
