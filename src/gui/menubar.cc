// The menu bar: its items, accelerators, the theme items and the language grid.
#include "gui/menubar.h"

#include "gui/app.h"
#include "gui/widget_util.h"
#include "i18n.h"
#include "settings.h"

#include <cstdlib>

namespace menus {

int language_rows(int height) {
    if (height <= 329) return 8;
    if (height >= 600) return 16;
    return (height - 90) / 30;
}

Cell language_cell(int index, int rows) {
    if (rows < 1) return {0, index};
    return {index / rows, index % rows};
}

} // namespace menus

namespace {

struct Command {
    App* app;
    void (*run)(App&);
};

GtkWidget* add_item(GtkWidget* menu, const char* key, App* app, void (*run)(App&),
                    GtkAccelGroup* accel = nullptr, guint keyval = 0,
                    GdkModifierType mods = GdkModifierType(0)) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(tr(key));
    g_signal_connect_data(
        item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
            auto* c = static_cast<Command*>(data);
            c->run(*c->app);
        }),
        new Command{app, run}, [](gpointer data, GClosure*) { delete static_cast<Command*>(data); },
        GConnectFlags(0));
    if (accel && keyval)
        gtk_widget_add_accelerator(item, "activate", accel, keyval, mods, GTK_ACCEL_VISIBLE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

void add_separator(GtkWidget* menu) {
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
}

GtkWidget* add_submenu(GtkWidget* shell, const char* key) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(tr(key));
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
    return menu;
}

struct Choice {
    App* app;
    void (*choose)(App&, const std::string&);
    std::string key;
};

// A radio item for the setting value `key`, active when it is `current`. It is made active
// before its handler is connected, so building the menu changes nothing.
GtkWidget* add_radio(GSList** group, const std::string& label, const std::string& key,
                     const std::string& current, App* app,
                     void (*choose)(App&, const std::string&)) {
    GtkWidget* item = gtk_radio_menu_item_new_with_label(*group, label.c_str());
    *group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(item));
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), key == current);
    g_signal_connect_data(
        item, "toggled", G_CALLBACK(+[](GtkCheckMenuItem* it, gpointer data) {
            auto* c = static_cast<Choice*>(data);
            if (gtk_check_menu_item_get_active(it)) c->choose(*c->app, c->key);
        }),
        new Choice{app, choose, key},
        [](gpointer data, GClosure*) { delete static_cast<Choice*>(data); }, GConnectFlags(0));
    return item;
}

// The work area of the monitor that shows the window, for the language grid.
int work_area_height(GtkWidget* window) {
    GdkDisplay* display = gdk_display_get_default();
    GdkWindow* w = window ? gtk_widget_get_window(window) : nullptr;
    GdkMonitor* monitor = widgets::monitor_or_primary(
        display, display && w ? gdk_display_get_monitor_at_window(display, w) : nullptr);
    if (!monitor) return menus::fallback_work_height;
    GdkRectangle r;
    gdk_monitor_get_workarea(monitor, &r);
    return r.height;
}

} // namespace

GtkWidget* App::build_menubar() {
    if (m_accel) {
        gtk_window_remove_accel_group(GTK_WINDOW(m_window), m_accel);
        g_object_unref(m_accel);
    }
    m_accel = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(m_window), m_accel);
    const auto ctrl = GDK_CONTROL_MASK;
    const auto ctrl_shift = GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    const Settings& s = SettingsStore::instance().get();
    GtkWidget* bar = gtk_menu_bar_new();

    GtkWidget* file = add_submenu(bar, "menu.file");
    add_item(
        file, "menu.refresh", this, [](App& a) { a.refresh(); }, m_accel, GDK_KEY_F5);
    add_item(file, "menu.elevate", this, [](App& a) { a.action_elevate(); });
    add_separator(file);
    add_item(
        file, "menu.save_report", this, [](App& a) { a.action_save_report(); }, m_accel, GDK_KEY_s,
        ctrl);
    add_item(
        file, "menu.copy_branch", this, [](App& a) { a.action_copy_branch(); }, m_accel, GDK_KEY_c,
        ctrl_shift);
    add_separator(file);
    add_item(
        file, "menu.quit", this, [](App& a) { a.quit(); }, m_accel, GDK_KEY_q, ctrl);

    GtkWidget* view = add_submenu(bar, "menu.view");
    add_item(view, "menu.expand_all", this,
             [](App& a) { gtk_tree_view_expand_all(GTK_TREE_VIEW(a.m_tree_view)); });
    add_item(view, "menu.collapse_all", this,
             [](App& a) { gtk_tree_view_collapse_all(GTK_TREE_VIEW(a.m_tree_view)); });
    add_separator(view);
    add_item(view, "menu.settings", this, [](App& a) { a.action_settings(); });
    add_item(view, "menu.colors", this, [](App& a) { a.action_colors(); });
    GtkWidget* themes = add_submenu(view, "menu.theme");
    GSList* theme_group = nullptr;
    for (const char* key : {"auto", "light", "dark"}) {
        std::string label_key = std::string("theme.") + key;
        gtk_menu_shell_append(
            GTK_MENU_SHELL(themes),
            add_radio(&theme_group, tr(label_key.c_str()), key, s.theme, this,
                      [](App& a, const std::string& k) { a.set_theme_setting(k); }));
    }

    // The language grid, 45 items whose rows depend on the screen, is built when the menu
    // first opens: building it took a noticeable part of the window's first frame.
    GtkWidget* languages = add_submenu(bar, "menu.language");
    gtk_widget_set_no_show_all(languages, TRUE); // shown, and so built, by opening it
    g_signal_connect(languages, "show", G_CALLBACK(+[](GtkWidget* menu, gpointer self) {
                         static_cast<App*>(self)->fill_language_menu(menu);
                     }),
                     this);

    GtkWidget* help = add_submenu(bar, "menu.help");
    const char* snap = std::getenv("SNAP_NAME");
    if (snap && *snap) {
        add_item(help, "menu.permissions", this, [](App& a) { a.show_permission_notice(false); });
        add_separator(help);
    }
    add_item(help, "dialog.licenses", this,
             [](App& a) { a.action_licenses(GTK_WINDOW(a.m_window)); });
    add_separator(help);
    add_item(help, "menu.about", this, [](App& a) { a.action_about(); });
    return bar;
}

void App::fill_language_menu(GtkWidget* menu) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    const bool built = children != nullptr;
    g_list_free(children);
    if (built) return;
    const auto available = I18n::available();
    const int count = static_cast<int>(available.size());
    const int rows = menus::language_rows(work_area_height(m_window));
    const std::string& current = SettingsStore::instance().get().language;
    GSList* group = nullptr;
    for (int i = 0; i <= count; ++i) {
        const std::string label = i == 0 ? tr("language.auto") : available[i - 1].native_name;
        const std::string key = i == 0 ? "auto" : available[i - 1].code;
        GtkWidget* item =
            add_radio(&group, label, key, current, this,
                      [](App& a, const std::string& k) { a.set_language_setting(k); });
        // The columns are as wide as the widest name; where the screen is narrower than all
        // of them (large text, a small screen), a long name is cut short with "…" rather than
        // drawn over the next column's names.
        widgets::shorten_words_when_narrow(item);
        const menus::Cell c = menus::language_cell(i, rows);
        gtk_menu_attach(GTK_MENU(menu), item, c.column, c.column + 1, c.row, c.row + 1);
        gtk_widget_show(item);
    }
}

void App::rebuild_menubar() {
    if (!m_vbox) return;
    if (m_menubar) gtk_widget_destroy(m_menubar);
    m_menubar = build_menubar();
    gtk_box_pack_start(GTK_BOX(m_vbox), m_menubar, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(m_vbox), m_menubar, 0);
    gtk_widget_show_all(m_menubar);
}

// The collected titles are translated at collection time, so a new language needs a new tree.
void App::set_language_setting(const std::string& code) {
    Settings& s = SettingsStore::instance().mutable_get();
    if (code == s.language) return;
    s.language = code;
    apply_language(code);
    refresh();
    rebuild_menubar();
    save_settings(); // last: the refresh's status line would hide a failure
}

void App::set_theme_setting(const std::string& key) {
    Settings& s = SettingsStore::instance().mutable_get();
    if (key == s.theme) return;
    s.theme = key;
    apply_theme();
    save_settings();
}

void App::quit() {
    remember_geometry();
    if (gtk_main_level() > 0) gtk_main_quit();
}
