// The window's keyboard shortcuts, clipboard actions and saving the report.
#include "gui/actions.h"

#include "entry.h"
#include "gui/app.h"
#include "gui/draw_util.h"
#include "gui/store_columns.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "report.h"
#include "util.h"

#include <cerrno>
#include <cstdlib>

namespace {

struct CopyPayload {
    App* app;
    std::string text;
};

// The letter a shortcut means. On a layout without Latin letters (Arabic, Cyrillic, Greek…)
// the key that carries it on the first layout, as the toolkit's own accelerators do.
guint shortcut_letter(const GdkEventKey* e) {
    guint key = gdk_keyval_to_lower(e->keyval);
    if (key < 0x80 || !e->window) return key;
    guint base = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(e->window));
    if (gdk_keymap_translate_keyboard_state(keymap, e->hardware_keycode, GdkModifierType(0), 0,
                                            &base, nullptr, nullptr, nullptr))
        return gdk_keyval_to_lower(base);
    return key;
}

struct DetailRow {
    std::string name, value, source;
    bool locked = false;
};

// The detail table's selected row; false when none is selected.
bool selected_detail_row(GtkWidget* view, DetailRow& row) {
    GtkTreeModel* model = nullptr;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), &model,
                                         &it))
        return false;
    gchar *n = nullptr, *v = nullptr, *s = nullptr;
    gboolean locked = FALSE;
    gtk_tree_model_get(model, &it, COL_NAME, &n, COL_VALUE, &v, COL_SOURCE, &s, COL_LOCKED, &locked,
                       -1);
    row = {n ? n : "", v ? v : "", s ? s : "", locked != FALSE};
    g_free(n), g_free(v), g_free(s);
    return true;
}

// Where the chooser opens: the desktop, the user's real one inside the confined package.
std::string report_folder() {
    const char* snap_home = std::getenv("SNAP_REAL_HOME");
    if (snap_home && *snap_home) return std::string(snap_home) + "/Desktop";
    const char* desktop = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
    if (desktop && g_file_test(desktop, G_FILE_TEST_IS_DIR)) return desktop;
    return g_get_home_dir();
}

void add_filter(GtkFileChooser* chooser, const char* pattern) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, pattern);
    gtk_file_filter_add_pattern(filter, pattern);
    gtk_file_chooser_add_filter(chooser, filter);
}

} // namespace

bool handling_click() {
    GdkEvent* current = gtk_get_current_event();
    const bool click =
        current && (current->type == GDK_BUTTON_PRESS || current->type == GDK_2BUTTON_PRESS ||
                    current->type == GDK_3BUTTON_PRESS);
    if (current) gdk_event_free(current);
    return click;
}

void add_copy_item(GtkWidget* menu, const char* label, const std::string& text, App* app) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
    g_signal_connect_data(
        item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
            auto* p = static_cast<CopyPayload*>(data);
            p->app->copy_to_clipboard(p->text, "status.copied");
        }),
        new CopyPayload{app, text},
        [](gpointer data, GClosure*) { delete static_cast<CopyPayload*>(data); }, GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

gboolean App::on_key_press(GtkWidget*, GdkEventKey* event, gpointer self) {
    App* app = static_cast<App*>(self);
    if (app->m_elevating) {
        // Nothing acts while the elevation tool asks, but the wait can be given up.
        if (event->keyval == GDK_KEY_Escape) app->stop_elevation();
        return TRUE;
    }
    const guint mods = event->state & gtk_accelerator_get_default_mod_mask();
    const guint letter = shortcut_letter(event);
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(app->m_window));
    if (mods == GDK_CONTROL_MASK && letter == GDK_KEY_f) {
        gtk_widget_grab_focus(app->m_search);
        return TRUE;
    }
    if (mods == GDK_CONTROL_MASK && letter == GDK_KEY_c && focus == app->m_detail_view) {
        app->action_copy_selection();
        return TRUE;
    }
    // Escape in the search: the first empties it, the next goes back to the tree, as in the
    // process list's filter.
    if (mods == 0 && event->keyval == GDK_KEY_Escape && focus == app->m_search) {
        if (*gtk_entry_get_text(GTK_ENTRY(app->m_search)))
            gtk_entry_set_text(GTK_ENTRY(app->m_search), "");
        else if (app->m_tree_view)
            gtk_widget_grab_focus(app->m_tree_view);
        return TRUE;
    }
    return FALSE;
}

void App::copy_to_clipboard(const std::string& text, const char* status_key) {
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, text.c_str(), static_cast<int>(text.size()));
    set_status(tr(status_key));
}

// A locked row's text is the unlock hint, not a value: it is never copied as one.
void App::action_copy_value() {
    DetailRow row;
    if (!selected_detail_row(m_detail_view, row) || row.locked) return;
    if (!row.value.empty()) copy_to_clipboard(row.value, "status.copied");
}

void App::action_copy_selection() {
    DetailRow row;
    if (!selected_detail_row(m_detail_view, row)) return;
    std::string text = row.value.empty() || row.locked ? row.name : row.name + "\t" + row.value;
    if (!text.empty()) copy_to_clipboard(text, "status.copied");
}

// The keyboard's way to what the mouse does in the table: the context menu (Shift+F10, the
// menu key), and Enter for a double click.
gboolean App::on_detail_popup_menu(GtkWidget*, gpointer self) {
    App* app = static_cast<App*>(self);
    DetailRow row;
    if (!selected_detail_row(app->m_detail_view, row)) return FALSE;
    app->show_detail_menu(nullptr, row.name, row.locked ? "" : row.value, row.source);
    return TRUE;
}

void App::on_detail_row_activated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer self) {
    App* app = static_cast<App*>(self);
    DetailRow row;
    if (handling_click() || !selected_detail_row(app->m_detail_view, row)) return;
    if (row.locked)
        app->action_elevate();
    else
        app->action_copy_value();
}

void App::action_copy_branch() {
    if (!m_selected) return;
    std::string text = report::node_to_text(*m_selected);
    if (!text.empty()) copy_to_clipboard(text, "status.copied_branch");
}

void App::action_save_report() {
    if (!m_root) return;
    if (!hw::RootData::instance().available) {
        GtkWidget* ask = gtk_message_dialog_new(
            GTK_WINDOW(m_window), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
            GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s", tr("report.ask_admin"));
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(ask), "%s",
                                                 tr("report.ask_admin_hint"));
        gtk_window_set_title(GTK_WINDOW(ask), tr("dialog.save_report")); // read by screen readers
        gtk_dialog_add_button(GTK_DIALOG(ask), tr("dialog.cancel"), GTK_RESPONSE_CANCEL);
        gtk_dialog_add_button(GTK_DIALOG(ask), tr("report.without_admin"), 1);
        GtkWidget* with = gtk_dialog_add_button(GTK_DIALOG(ask), tr("report.with_admin"), 2);
        gtk_style_context_add_class(gtk_widget_get_style_context(with), "suggested-action");
        gtk_dialog_set_default_response(GTK_DIALOG(ask), 1);
        const int answer = gtk_dialog_run(GTK_DIALOG(ask));
        gtk_widget_destroy(ask);
        if (answer != 1 && answer != 2) return;
        if (answer == 2) action_elevate();
        // The window may have been closed, or the program told to end, while the tool asked
        // for the password.
        if (!m_root || !m_window || m_ending) return;
    }

    GtkFileChooserNative* native = gtk_file_chooser_native_new(
        tr("dialog.save_report"), GTK_WINDOW(m_window), GTK_FILE_CHOOSER_ACTION_SAVE,
        tr("dialog.save"), tr("dialog.cancel"));
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    gtk_file_chooser_set_current_folder(chooser, report_folder().c_str());
    gtk_file_chooser_set_current_name(chooser, "QuarvelReport.txt");
    add_filter(chooser, "*.txt");
    add_filter(chooser, "*.json");
    add_filter(chooser, "*");
    // A report meant for a public bug tracker should not carry what identifies the machine or
    // its owner; the same placeholders as --redact.
    gtk_file_chooser_add_choice(chooser, "redact", tr("report.redact"), nullptr, nullptr);
    gtk_file_chooser_set_choice(chooser, "redact", "false");
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(native)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* path = gtk_file_chooser_get_filename(chooser)) {
            const char* redact = gtk_file_chooser_get_choice(chooser, "redact");
            save_report_to(path, {.redact = redact && g_str_equal(redact, "true")});
            g_free(path);
        }
    }
    g_object_unref(native);
}

// The same text and the same file writer as --report, so a saved report and a report from the
// command line never differ, and a failed save keeps the previous file. A name ending in .json
// gets the JSON form, as --json would write it.
void App::save_report_to(const std::string& path, const report::Options& options) {
    if (!m_root) return;
    // The Tools branch is the window's own, no fact of the machine: it stays out.
    auto& branches = m_root->children;
    std::unique_ptr<hw::Node> tools;
    if (!branches.empty() && branches.back()->id == "tools") {
        tools = std::move(branches.back());
        branches.pop_back();
    }
    const bool json = util::ends_with(util::lower(path), ".json");
    errno = 0;
    const bool saved = util::replace_file(
        path, json ? report::to_json(*m_root, options) : report::to_text(*m_root, options), 0666,
        /*wait_for_reader=*/false);
    const int err = errno ? errno : EIO;
    if (tools) branches.push_back(std::move(tools));
    // The reason tells the user what to change: another folder, free space, the file's rights.
    set_status(saved ? I18n::trf("status.saved", draw::left_to_right(path).c_str())
                     : I18n::trf("status.save_failed", draw::left_to_right(path).c_str(),
                                 entry::reason(err).c_str()));
}
