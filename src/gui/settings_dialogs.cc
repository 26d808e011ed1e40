// The settings dialog and the colour dialog, and the saving of the settings. Every change is
// saved and applied at once; the controls get their values before their handlers are connected,
// so opening and closing a dialog changes nothing.
#include "gui/settings_dialogs.h"

#include "entry.h"
#include "gui/app.h"
#include "gui/widget_util.h"
#include "i18n.h"
#include "theme.h"

#include <cerrno>

namespace colors {

std::vector<ColorRow> rows(bool dark) {
    const Palette p = dark ? Palette::dark_() : Palette::light();
    return {
        {"color.background", dark ? &Settings::bg_dark : &Settings::bg_light, p.background},
        {"color.panel", dark ? &Settings::panel_dark : &Settings::panel_light, p.panel},
        {"color.text", dark ? &Settings::text_dark : &Settings::text_light, p.text},
        {"color.accent", dark ? &Settings::accent_dark : &Settings::accent_light, p.accent},
        {"color.dim", dark ? &Settings::dim_dark : &Settings::dim_light, p.dim},
        {"color.search_hit", dark ? &Settings::hit_dark : &Settings::hit_light, p.search_hit},
        {"color.load_low", &Settings::load_low, p.load_low},
        {"color.load_mid", &Settings::load_mid, p.load_mid},
        {"color.load_high", &Settings::load_high, p.load_high},
    };
}

} // namespace colors

namespace {

using widgets::label_for;

GtkWidget* combo(const std::vector<std::pair<std::string, std::string>>& entries,
                 const std::string& active) {
    GtkWidget* box = gtk_combo_box_text_new();
    for (const auto& [id, label] : entries)
        gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(box), id.c_str(), label.c_str());
    gtk_combo_box_set_active_id(GTK_COMBO_BOX(box), active.c_str());
    gtk_widget_set_hexpand(box, TRUE);
    return box;
}

std::string active_id(GtkComboBox* box) {
    const char* id = gtk_combo_box_get_active_id(box);
    return id ? id : "";
}

void attach_row(GtkWidget* grid, int row, const char* label_key, GtkWidget* control) {
    gtk_grid_attach(GTK_GRID(grid), label_for(control, tr(label_key)), 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), control, 1, row, 1, 1);
}

GtkWidget* dim_label(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    widgets::add_class(label, "dim-text");
    return label;
}

// What a colour button edits, kept on the button.
struct Swatch {
    App* app;
    colors::ColorRow row;
};

void show_colour(GtkWidget* button, const std::string& colour) {
    GdkRGBA rgba;
    if (gdk_rgba_parse(&rgba, colour.c_str()))
        gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(button), &rgba);
}

} // namespace

// The change stays applied for this session: undoing it would not help the user, but they must
// learn that the next start will not have it, and why. A message each time, never a dialog.
void App::save_settings() {
    if (SettingsStore::instance().save()) return;
    const int err = errno;
    set_status(I18n::trf("status.settings_not_saved", entry::reason(err).c_str()));
}

void App::action_settings() {
    const Settings& s = SettingsStore::instance().get();
    GtkWidget* dialog = widgets::new_dialog("dialog.settings", GTK_WINDOW(m_window));
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.close"), GTK_RESPONSE_CLOSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 420, -1);
    GtkWidget* grid = widgets::new_grid(10, 14, 18, 14);

    std::vector<std::pair<std::string, std::string>> languages = {{"auto", tr("language.auto")}};
    for (const auto& l : I18n::available())
        languages.emplace_back(l.code, l.native_name);
    GtkWidget* language = combo(languages, s.language);
    attach_row(grid, 0, "settings.language", language);
    g_signal_connect(language, "changed", G_CALLBACK(+[](GtkComboBox* box, gpointer self) {
                         static_cast<App*>(self)->set_language_setting(active_id(box));
                     }),
                     this);

    GtkWidget* theme = combo(
        {{"dark", tr("theme.dark")}, {"light", tr("theme.light")}, {"auto", tr("theme.auto")}},
        s.theme);
    attach_row(grid, 1, "settings.theme", theme);
    g_signal_connect(theme, "changed", G_CALLBACK(+[](GtkComboBox* box, gpointer self) {
                         App* app = static_cast<App*>(self);
                         app->set_theme_setting(active_id(box));
                         app->rebuild_menubar(); // the theme's radio items follow
                     }),
                     this);

    GtkWidget* start = combo({{"", tr("tree.system")},
                              {"storage", tr("tree.storage")},
                              {"network", tr("tree.network")},
                              {"sensors", tr("tree.sensors")},
                              {"tools", tr("tree.tools")}},
                             s.start_view);
    attach_row(grid, 2, "settings.start_view", start);
    g_signal_connect(start, "changed", G_CALLBACK(+[](GtkComboBox* box, gpointer self) {
                         SettingsStore::instance().mutable_get().start_view = active_id(box);
                         static_cast<App*>(self)->save_settings();
                     }),
                     this);

    GtkWidget* colours = gtk_button_new_with_mnemonic(tr("settings.colors_button"));
    attach_row(grid, 3, "settings.colors", colours);
    g_signal_connect_swapped(colours, "clicked",
                             G_CALLBACK(+[](App* app) { app->action_colors(); }), this);

    gtk_grid_attach(GTK_GRID(grid), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), 0, 4, 2, 1);

    GtkWidget* sources = gtk_check_button_new_with_mnemonic(tr("menu.show_sources"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(sources), s.show_sources);
    gtk_grid_attach(GTK_GRID(grid), sources, 0, 5, 2, 1);
    g_signal_connect(sources, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer self) {
                         App* app = static_cast<App*>(self);
                         const bool on = gtk_toggle_button_get_active(b);
                         SettingsStore::instance().mutable_get().show_sources = on;
                         gtk_tree_view_column_set_visible(app->m_source_column, on);
                         app->save_settings();
                     }),
                     this);

    GtkWidget* loops = gtk_check_button_new_with_mnemonic(tr("menu.show_loops"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(loops), s.show_loop_devices);
    gtk_grid_attach(GTK_GRID(grid), loops, 0, 6, 2, 1);
    // The storage branch reads this setting while it is collected.
    g_signal_connect(loops, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer self) {
                         SettingsStore::instance().mutable_get().show_loop_devices =
                             gtk_toggle_button_get_active(b);
                         static_cast<App*>(self)->refresh();
                         static_cast<App*>(self)->save_settings(); // after the refresh's status
                     }),
                     this);

    GtkWidget* hint = dim_label(tr("settings.hint"));
    gtk_label_set_line_wrap(GTK_LABEL(hint), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(hint), 46);
    gtk_widget_set_margin_top(hint, 8);
    gtk_grid_attach(GTK_GRID(grid), hint, 0, 7, 2, 1);

    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
    gtk_widget_show_all(dialog);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

void App::action_colors() {
    enum { reset_response = 1 };
    GtkWidget* dialog = widgets::new_dialog("dialog.colors", GTK_WINDOW(m_window));
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.reset"), reset_response);
    gtk_dialog_add_button(GTK_DIALOG(dialog), tr("dialog.close"), GTK_RESPONSE_CLOSE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 460, -1);
    GtkWidget* grid = widgets::new_grid(6, 12, 14, 12);

    gtk_grid_attach(GTK_GRID(grid), dim_label(tr(m_dark ? "color.head_dark" : "color.head_light")),
                    0, 0, 2, 1);
    const std::vector<colors::ColorRow> rows = colors::rows(m_dark);
    std::vector<GtkWidget*> buttons;
    int grid_row = 1;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i == colors::first_load_row) {
            GtkWidget* head = dim_label(tr("color.head_load"));
            gtk_widget_set_margin_top(head, 10);
            gtk_grid_attach(GTK_GRID(grid), head, 0, grid_row++, 2, 1);
        }
        GtkWidget* button = gtk_color_button_new();
        widgets::add_class(button, "color-swatch");
        const std::string& current = SettingsStore::instance().get().*rows[i].member;
        show_colour(button, current.empty() ? rows[i].fallback : current);
        GtkWidget* label = label_for(button, tr(rows[i].label_key));
        gtk_widget_set_hexpand(label, TRUE);
        gtk_grid_attach(GTK_GRID(grid), label, 0, grid_row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), button, 1, grid_row++, 1, 1);
        g_object_set_data_full(G_OBJECT(button), "swatch", new Swatch{this, rows[i]},
                               [](gpointer p) { delete static_cast<Swatch*>(p); });
        g_signal_connect(button, "color-set", G_CALLBACK(+[](GtkColorButton* b, gpointer) {
                             auto* swatch =
                                 static_cast<Swatch*>(g_object_get_data(G_OBJECT(b), "swatch"));
                             GdkRGBA c;
                             gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(b), &c);
                             SettingsStore::instance().mutable_get().*swatch->row.member =
                                 rgb_to_hex({c.red, c.green, c.blue});
                             swatch->app->apply_theme();
                             swatch->app->save_settings();
                         }),
                         nullptr);
        buttons.push_back(button);
    }

    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
    gtk_widget_show_all(dialog);
    while (gtk_dialog_run(GTK_DIALOG(dialog)) == reset_response) {
        SettingsStore::instance().mutable_get().reset_colors();
        apply_theme();
        save_settings();
        for (size_t i = 0; i < buttons.size(); ++i)
            show_colour(buttons[i], rows[i].fallback);
    }
    gtk_widget_destroy(dialog);
}
