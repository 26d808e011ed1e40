// The window: tree pane, detail pane, status line, search, selection, geometry, language and
// theme. One App exists, for the whole run of the window.
#pragma once

#include "gui/disk_rates.h"
#include "gui/monitor_bar.h"
#include "gui/netview.h"
#include "gui/procview.h"
#include "gui/sensorview.h"
#include "hw/hardware.h"
#include "report.h"
#include "theme.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class App {
public:
    App();
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // The window path: toolkit, settings, language, theme, window, main loop. Returns the
    // exit code once the window is closed.
    int run(int argc, char** argv);

    void refresh();
    void fill_details(hw::Node* n);
    bool select_node_id(const std::string& id);
    void set_status(const std::string& text);
    void apply_language(const std::string& code);
    void apply_theme();
    Palette palette() const;
    void remember_geometry();
    // Puts `text` on the clipboard and says so in the status line.
    void copy_to_clipboard(const std::string& text, const char* status_key);

    static bool running_on_wayland();
    static GdkPixbuf* app_icon(int size);

private:
    friend struct AppInspector; // the window tests look inside

    // What of the start sequence goes on while the toolkit starts, then everything after the
    // toolkit is up, up to the main loop.
    void begin();
    void start();
    void build_window();
    // The panes and the window's place: tree_pane.cc, detail_pane.cc, window_geometry.cc.
    GtkWidget* build_tree_pane();
    GtkWidget* build_detail_pane();
    GtkWidget* build_locked_preview();
    void build_panel_places();
    void fill_tree();
    void apply_geometry();
    void apply_detail_plan(hw::Node* n);
    void fill_detail_rows(const hw::Node& n);
    GtkWidget* process_box();
    void describe_disks(const hw::Node* n);

    GDBusConnection* session_bus();
    void start_session_bus();
    void take_startup_bus();
    std::optional<uint32_t> ask_color_scheme();
    bool resolve_dark();
    void probe_system_theme_hint();
    void watch_system_theme();

    // Mouse presses that queued up while the window was blocked are dropped until the main
    // loop has caught up with them.
    void block_queued_clicks();
    void show_detail_menu(GdkEventButton* event, const std::string& name, const std::string& value,
                          const std::string& source);
    void action_copy_value();

    // Menus and actions: menubar.cc, actions.cc, tools.cc, about_dialogs.cc,
    // settings_dialogs.cc, elevation.cc.
    GtkWidget* build_menubar();
    void rebuild_menubar();
    void fill_language_menu(GtkWidget* menu);
    void set_language_setting(const std::string& code);
    void set_theme_setting(const std::string& key);
    // Keeps the settings for the next start; a failure is told in the status line.
    void save_settings();
    void quit();
    void action_copy_selection();
    void action_copy_branch();
    void action_save_report();
    void save_report_to(const std::string& path, const report::Options& options = {});
    void open_terminal();
    void action_about();
    void action_licenses(GtkWindow* parent);
    // False when not shown: outside the confined package, or with nothing missing when
    // `automatic`.
    bool show_permission_notice(bool automatic);
    void action_settings();
    void action_colors();
    void action_elevate();
    // The Cancel button or Escape while the elevation tool runs: ends the tool.
    void stop_elevation();
    static gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean on_tree_press(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static gboolean on_detail_popup_menu(GtkWidget* widget, gpointer self);
    static void on_detail_row_activated(GtkTreeView* view, GtkTreePath* path,
                                        GtkTreeViewColumn* column, gpointer self);

    static void on_tree_selection(GtkTreeSelection* sel, gpointer self);
    static void on_search_changed(GtkSearchEntry* entry, gpointer self);
    static void on_tree_row_activated(GtkTreeView* view, GtkTreePath* path,
                                      GtkTreeViewColumn* column, gpointer self);
    static void on_detail_size_allocate(GtkWidget* widget, GdkRectangle* alloc, gpointer self);
    static gboolean on_detail_click(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static gboolean on_draw_locked(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean on_draw_disks(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean on_draw_usb(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean on_window_state(GtkWidget* widget, GdkEventWindowState* event, gpointer self);
    static gboolean on_configure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
    static void on_destroy(GtkWidget* widget, gpointer self);
    static gboolean on_delete(GtkWidget* widget, GdkEvent* event, gpointer self);
    static gboolean on_first_draw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean on_idle_after_show(gpointer self);
    // SIGTERM, SIGHUP or SIGINT: the window ends as if closed (see App::start).
    static gboolean on_end_signal(gpointer self);
    static void on_portal_setting_changed(GDBusConnection* connection, const gchar* sender,
                                          const gchar* path, const gchar* interface,
                                          const gchar* signal, GVariant* parameters, gpointer self);

    // Widgets (owned by the toolkit once packed).
    GtkWidget* m_window = nullptr;
    GtkWidget* m_vbox = nullptr; // menu bar, monitor bar, divided area, status line
    GtkWidget* m_menubar = nullptr;
    GtkWidget* m_paned = nullptr;
    GtkWidget* m_search = nullptr;
    GtkWidget* m_tree_view = nullptr;
    GtkWidget* m_detail_view = nullptr;
    GtkWidget* m_detail_scroll = nullptr;
    GtkWidget* m_status = nullptr;
    GtkWidget* m_elevate_cancel = nullptr; // beside the status line while the tool runs
    GtkWidget* m_disk_scroll = nullptr;
    GtkWidget* m_disk_area = nullptr;
    GtkWidget* m_usb_scroll = nullptr;
    GtkWidget* m_usb_area = nullptr;
    GtkWidget* m_net_scroll = nullptr;
    GtkWidget* m_sensor_scroll = nullptr;
    GtkWidget* m_proc_box = nullptr;   // built when first shown (process_box)
    GtkWidget* m_detail_box = nullptr; // the panels and the table, one of them shown
    GtkWidget* m_locked_box = nullptr;
    GtkWidget* m_locked_area = nullptr;
    GtkWidget* m_locked_hint = nullptr;
    GtkWidget* m_locked_btn = nullptr;
    GtkCellRenderer* m_name_renderer = nullptr;
    GtkCellRenderer* m_value_renderer = nullptr;
    GtkTreeViewColumn* m_name_column = nullptr;
    GtkTreeViewColumn* m_value_column = nullptr;
    GtkTreeViewColumn* m_source_column = nullptr;
    GtkTreeStore* m_tree_store = nullptr;
    GtkTreeStore* m_detail_store = nullptr;
    GtkCssProvider* m_css = nullptr;
    GtkAccelGroup* m_accel = nullptr; // the menu bar's accelerators, replaced with it

    MonitorBar m_monitor;
    guint m_monitor_tick = 0;
    NetGraphs m_net;
    SensorGraphs m_sensors;

    const unsigned char* m_locked_png = nullptr;
    size_t m_locked_png_size = 0;

    DiskRates m_disk_rates;
    ProcessView m_procview;

    std::unique_ptr<hw::Node> m_root;
    std::function<std::unique_ptr<hw::Node>()> m_collect;
    // The first collection, made on a thread of its own while the window is being built.
    struct Collected {
        std::unique_ptr<hw::Node> root;
        double ms = 0;
    };
    std::future<Collected> m_first_collection;
    static Collected collect_timed(const std::function<std::unique_ptr<hw::Node>()>& collect);
    static Collected collect_first(const std::function<std::unique_ptr<hw::Node>()>& collect,
                                   int icon_size);
    hw::Node* m_selected = nullptr;
    std::string m_selected_id;
    // Ids of the selected row's ancestors, nearest first: where the user is put when the
    // selected device is gone after a refresh.
    std::vector<std::string> m_selected_trail;
    std::string m_filter;

    bool m_dark = false;
    bool m_startup_dark_hint = false;
    // The toolkit's settings were made with the empty startup theme: the first theme applied
    // parses the desktop's, whichever variant it sets.
    bool m_theme_unparsed = false;
    bool m_begun = false; // begin() has run: the settings are loaded and the bus asked
    bool m_maximized = false;
    // Iconified: the process list reads every process each second for nobody to see.
    bool m_iconified = false;
    bool m_fitted_to_frame = false; // the least size allows for the window manager's frame
    bool m_building = false;
    bool m_clicks_blocked = false;
    bool m_elevating = false;
    bool m_ending = false;                    // asked by a signal to end: nothing new may open
    GCancellable* m_elevation_stop = nullptr; // while elevating
    guint32 m_terminal_press_time = 0; // a double click on the terminal row opens one terminal
    guint m_terminal_source = 0;       // opens it once the press has selected the row
    guint m_portal_sub = 0;
    guint m_end_sources[3] = {}; // SIGTERM, SIGHUP, SIGINT
    guint m_idle_source = 0;     // the one-shot fill after the window is shown
    guint m_unblock_source = 0;  // ends block_queued_clicks
    guint m_scroll_source = 0;   // brings the selected row into view once its rows are measured
    GDBusConnection* m_portal_bus = nullptr; // the session bus once connected
    bool m_portal_bus_tried = false;
    // The session bus and the desktop's colour scheme, connected to and asked on a thread of
    // their own while the toolkit loads its theme; taken by the first that needs either.
    struct StartupBus {
        GDBusConnection* bus = nullptr;
        bool asked = false;
        std::optional<uint32_t> color_scheme;
    };
    std::future<StartupBus> m_startup_bus;
    std::optional<std::optional<uint32_t>> m_startup_color_scheme; // asked and not yet used
    int64_t m_started_us = 0; // for the optional start-up timing
};
