// The About and Licences dialogs and the notice about the confined package's permissions.
#include "gui/about_dialogs.h"

#include "entry.h"
#include "gui/app.h"
#include "gui/draw_util.h"
#include "gui/images.h"
#include "gui/widget_util.h"
#include "i18n.h"

#include <cstdlib>

namespace about {

const std::vector<Licence>& licences() {
    static const std::vector<Licence> list = {
        {"GTK 3", "LGPL-2.1-or-later"},
        {"GLib", "LGPL-2.1-or-later"},
        {"Pango", "LGPL-2.1-or-later"},
        {"Cairo", "LGPL-2.1 or MPL-1.1"},
        {"gdk-pixbuf", "LGPL-2.1-or-later"},
        {"ATK / AT-SPI", "LGPL-2.1-or-later"},
        {"FreeType", "FTL or GPL-2-or-later"},
        {"FriBidi", "LGPL-2.1-or-later"},
        {"Graphite2", "LGPL-2.1-or-later or MPL-1.1"},
        {"libthai / libdatrie", "LGPL-2.1-or-later"},
        {"systemd (libsystemd)", "LGPL-2.1-or-later"},
        {"util-linux (libmount, libblkid)", "LGPL-2.1-or-later"},
        {"libgcrypt / libgpg-error", "LGPL-2.1-or-later"},
        {"GNU C Library", "LGPL-2.1-or-later"},
        {"hwdata (pci.ids, usb.ids)", "GPL-2 or XFree86 1.1"},
    };
    return list;
}

std::string permission_command(const std::string& snap_name) {
    if (snap_name.empty() || snap_name.size() > 64) return {};
    for (char c : snap_name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) return {};
    return "sudo sh -c 'for i in hardware-observe system-observe mount-observe; do snap connect " +
           snap_name + ":$i; done'";
}

} // namespace about

namespace {

// The web address the translations carry in their text, kept left to right in every language.
std::string with_address_left_to_right(const std::string& text) {
    const size_t start = text.find("https://");
    if (start == std::string::npos) return text;
    size_t end = text.find_first_of(" \n\t", start);
    if (end == std::string::npos) end = text.size();
    return text.substr(0, start) + draw::left_to_right(text.substr(start, end - start)) +
           text.substr(end);
}

using widgets::add_class;
using widgets::new_dialog;
using widgets::set_margins;

// The number of further libraries the listed components load, as the Licences dialog says.
constexpr int further_libraries = 23;

// A label whose markup is `open` + the escaped text + `close`: texts from the catalog and from
// the environment are shown as they are, never read as markup.
GtkWidget* markup_label(const std::string& text, const char* open, const char* close) {
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), (open + widgets::escape(text) + close).c_str());
    return label;
}

GtkWidget* about_line(GtkWidget* box, const std::string& text, const char* open = "",
                      const char* close = "", bool dim = false) {
    GtkWidget* label = markup_label(text, open, close);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 52);
    if (dim) add_class(label, "dim-text");
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    return label;
}

void about_separator(GtkWidget* box, int top, int bottom) {
    GtkWidget* sep = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_widget_set_margin_top(sep, top);
    gtk_widget_set_margin_bottom(sep, bottom);
    gtk_box_pack_start(GTK_BOX(box), sep, FALSE, FALSE, 0);
}

// A text of the Licences dialog: left-aligned, wrapped, normal or secondary.
void licence_text(GtkWidget* box, const std::string& text, bool secondary) {
    GtkWidget* label = markup_label(
        text, secondary ? "<span size=\"small\">" : "<span size=\"medium\">", "</span>");
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    // A wrapping label is as narrow as its longest word at the least, and the dialog's least
    // height was that of every text wrapped so narrow: taller than many screens.
    gtk_label_set_width_chars(GTK_LABEL(label), 50);
    if (secondary) add_class(label, "dim-text");
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
}

GtkWidget* preview_image(images::Png png) {
    GtkWidget* frame = gtk_frame_new(nullptr);
    if (GdkPixbuf* pixbuf = images::pixbuf_from_png(png.data, png.size)) {
        gtk_container_add(GTK_CONTAINER(frame), gtk_image_new_from_pixbuf(pixbuf));
        g_object_unref(pixbuf);
    }
    return frame;
}

std::string documentation_directory() {
    std::vector<std::string> candidates;
    for (const char* var : {"SNAP", "APPDIR"})
        if (const char* v = std::getenv(var))
            candidates.push_back(std::string(v) + "/usr/share/doc");
    candidates.push_back("/usr/share/doc");
    for (const auto& dir : candidates)
        if (g_file_test(dir.c_str(), G_FILE_TEST_IS_DIR)) return dir;
    return {};
}

struct Notice {
    App* app;
    std::string command;
    GtkWidget* feedback;
};

void copy_command(Notice* n) {
    n->app->copy_to_clipboard(n->command, "status.copied_command");
    gtk_label_set_markup(GTK_LABEL(n->feedback),
                         ("<b>" + widgets::escape(tr("status.copied_command")) + "</b>").c_str());
}

} // namespace

void App::action_about() {
    enum { licences_response = 1 };
    GtkWidget* dialog = new_dialog("dialog.about", GTK_WINDOW(m_window));
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.licenses"), licences_response);
    GtkWidget* close =
        gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.close"), GTK_RESPONSE_CLOSE);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    set_margins(box, 28, 28, 20, 12);

    if (GdkPixbuf* icon = app_icon(96)) {
        GtkWidget* image = gtk_image_new_from_pixbuf(icon);
        g_object_unref(icon);
        gtk_widget_set_margin_bottom(image, 8);
        gtk_box_pack_start(GTK_BOX(box), image, FALSE, FALSE, 0);
    }
    about_line(box, "Quarvel", "<span size=\"x-large\" weight=\"bold\">", "</span>");
    about_line(box, std::string(tr("f.version")) + " " + entry::version, "<small>", "</small>",
               true);
    if (const char* snap = std::getenv("SNAP_VERSION")) {
        std::string line = std::string("Snap ") + snap;
        if (const char* revision = std::getenv("SNAP_REVISION"))
            line += std::string(" (Revision ") + revision + ")";
        about_line(box, line, "<small>", "</small>", true);
    }
    about_separator(box, 10, 8);
    about_line(box, tr("about.comment"));
    about_separator(box, 6, 6);
    about_line(box, "\u00A9 2026 The Quarvel developers", "<small>", "</small>");
    about_separator(box, 12, 8);
    about_line(box, tr("about.disclaimer_title"), "<small><b>", "</b></small>", true);
    about_line(box, tr("about.disclaimer"), "<span size=\"x-small\">", "</span>", true);

    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box);
    gtk_widget_show_all(dialog);
    // Not the first selectable line, which would show all its text selected.
    gtk_widget_grab_focus(close);
    while (gtk_dialog_run(GTK_DIALOG(dialog)) == licences_response)
        action_licenses(GTK_WINDOW(dialog));
    gtk_widget_destroy(dialog);
}

void App::action_licenses(GtkWindow* parent) {
    GtkWidget* dialog = new_dialog("dialog.licenses", parent);
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.close"), GTK_RESPONSE_CLOSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 620, 560);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    set_margins(box, 18, 18, 14, 10);

    licence_text(box, tr("licenses.intro"), false);
    GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
    for (const auto& l : about::licences())
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, l.component, 1, l.licence, -1);
    GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(list), FALSE);
    const char* titles[] = {tr("col.component"), tr("col.license")};
    for (int c = 0; c < 2; ++c)
        gtk_tree_view_append_column(
            GTK_TREE_VIEW(list), gtk_tree_view_column_new_with_attributes(
                                     titles[c], gtk_cell_renderer_text_new(), "text", c, nullptr));
    atk_object_set_name(gtk_widget_get_accessible(list), tr("dialog.licenses"));
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    // The default size gives the list its room; on a small screen it scrolls.
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroll), 120);
    gtk_container_add(GTK_CONTAINER(scroll), list);
    gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);

    licence_text(box, I18n::trf("licenses.others", further_libraries), true);
    const std::string docs = documentation_directory();
    if (!docs.empty())
        licence_text(box, I18n::trf("licenses.texts_at", draw::left_to_right(docs).c_str()), false);
    licence_text(box, with_address_left_to_right(tr("licenses.texts_online")), false);

    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE,
                       0);
    gtk_widget_show_all(dialog);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

bool App::show_permission_notice(bool automatic) {
    if (automatic && hw::missing_snap_permissions().empty()) return false;
    const char* snap = std::getenv("SNAP_NAME");
    const std::string command = about::permission_command(snap ? snap : "");
    if (command.empty()) return false;

    GtkWidget* dialog = new_dialog("dialog.permissions", GTK_WINDOW(m_window));
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.copy"), GTK_RESPONSE_APPLY);
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.skip"), GTK_RESPONSE_CLOSE);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    set_margins(box, 20, 20, 14, 10);
    GtkWidget* previews = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_halign(previews, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(previews), preview_image(images::sensors_preview(m_dark)), FALSE,
                       FALSE, 0);
    gtk_box_pack_start(GTK_BOX(previews), preview_image(images::disks_preview(m_dark)), FALSE,
                       FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), previews, FALSE, FALSE, 0);

    auto text = [&](const char* key, bool dim) {
        GtkWidget* label = gtk_label_new(tr(key));
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(label), 64);
        if (dim) add_class(label, "dim-text");
        gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
        return label;
    };
    text("msg.permissions_intro", false);

    GtkWidget* command_label = markup_label(command, "<tt>", "</tt>");
    gtk_label_set_line_wrap(GTK_LABEL(command_label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(command_label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(command_label), 64);
    gtk_label_set_width_chars(GTK_LABEL(command_label), 52);
    gtk_label_set_xalign(GTK_LABEL(command_label), 0);
    gtk_widget_set_direction(command_label, GTK_TEXT_DIR_LTR); // a shell command, in any language
    // The block's padding: an event box draws its style's background but has no padding.
    set_margins(command_label, 10, 10, 8, 8);
    GtkWidget* command_box = gtk_event_box_new();
    add_class(command_box, "cmd-block");
    set_margins(command_box, 4, 4, 4, 4);
    gtk_container_add(GTK_CONTAINER(command_box), command_label);
    AtkObject* command_a11y = gtk_widget_get_accessible(command_label);
    atk_object_set_description(command_a11y, tr("dialog.copy"));
    g_signal_connect(command_box, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) {
                         GdkCursor* hand =
                             gdk_cursor_new_from_name(gtk_widget_get_display(w), "pointer");
                         gdk_window_set_cursor(gtk_widget_get_window(w), hand);
                         if (hand) g_object_unref(hand);
                     }),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(box), command_box, FALSE, FALSE, 0);

    text("msg.permissions_after", true);
    text("msg.permissions_skip", true);
    GtkWidget* feedback = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(feedback), 0);
    add_class(feedback, "dim-text");
    gtk_box_pack_start(GTK_BOX(box), feedback, FALSE, FALSE, 0);

    Notice notice{this, command, feedback};
    g_signal_connect(command_box, "button-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer data) -> gboolean {
                         if (e->type != GDK_BUTTON_PRESS || e->button != 1) return FALSE;
                         copy_command(static_cast<Notice*>(data));
                         return TRUE;
                     }),
                     &notice);

    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    add_class(scroll, "dialog-pane");
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroll), 300);
    // As tall as the notice needs, so nothing below the command hides on a usual screen; a
    // small screen scrolls.
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroll), 640);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroll), TRUE);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroll), TRUE);
    gtk_container_add(GTK_CONTAINER(scroll), box);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), scroll, TRUE, TRUE,
                       0);
    gtk_widget_show_all(dialog);
    gtk_adjustment_set_value(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroll)), 0);
    while (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_APPLY)
        copy_command(&notice);
    gtk_widget_destroy(dialog);
    return true;
}
