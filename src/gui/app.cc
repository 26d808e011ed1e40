#include "gui/app.h"

#include "gui/display_session_gtk.h"
#include "gui/display_wait.h"
#include "gui/images.h"
#include "gui/startup_theme.h"
#include "gui/tools.h"
#include "gui/tree_icons.h"
#include "gui/widget_util.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <glib-unix.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <utility>

namespace {

// A display answers within milliseconds, a remote one over a slow link within a second or two.
constexpr int display_answer_seconds = 10;

// The toolkit removes these from the environment as it starts, and the C library removes a
// variable by moving every later one down a place: a thread reading another variable at that
// moment can step over it. Threads are started before the toolkit (the session bus is reached
// beside its start), so these are moved to the end first, where nothing but variables this
// program adds, and removes again, comes after them.
void keep_removed_variables_last() {
    for (const char* name : {"DESKTOP_STARTUP_ID", "DESKTOP_AUTOSTART_ID"})
        if (const char* value = g_getenv(name)) {
            const std::string kept = value;
            g_unsetenv(name);
            g_setenv(name, kept.c_str(), TRUE);
        }
}

// The scale the window will most likely open at, for what is drawn before it exists; at
// another, those pictures are merely drawn again.
int likely_scale() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
    return monitor ? std::max(gdk_monitor_get_scale_factor(monitor), 1) : 1;
}

} // namespace

App::App() : m_collect(hw::collect_all) {}

App::~App() {
    for (guint source :
         {m_idle_source, m_unblock_source, m_scroll_source, m_terminal_source, m_monitor_tick})
        if (source) g_source_remove(source);
    for (guint source : m_end_sources)
        if (source) g_source_remove(source);
    take_startup_bus(); // a connection made at start and never used is closed here too
    if (m_portal_sub && m_portal_bus)
        g_dbus_connection_signal_unsubscribe(m_portal_bus, m_portal_sub);
    if (m_portal_bus) g_object_unref(m_portal_bus);
    if (m_window) gtk_widget_destroy(m_window);
    if (m_accel) g_object_unref(m_accel);
    if (m_tree_store) g_object_unref(m_tree_store);
    if (m_detail_store) g_object_unref(m_detail_store);
    if (m_css) {
        if (GdkScreen* screen = gdk_screen_get_default())
            gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(m_css));
        g_object_unref(m_css);
    }
}

int App::run(int argc, char** argv) {
    m_started_us = g_get_monotonic_time();
    // The locale is the user's, but numbers are formatted by the program itself and must parse
    // and print with "." whatever the user's locale. Set here, before the first thread starts,
    // not by the toolkit's start beside it: setlocale is not safe beside threads at work.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    gtk_disable_setlocale();
    // Every change to the environment comes before the first thread too: adding a variable may
    // move the whole environment while another thread reads it.
    keep_removed_variables_last();
    // The window draws nothing with OpenGL, yet probing for it loads the whole GL driver stack
    // at start, which costs more than everything else the window does before it appears. The
    // variable is dropped again once read, so programs started from the window keep GL.
    const bool gl_probe_off = !g_getenv("GDK_GL") && g_setenv("GDK_GL", "disable", FALSE);
    const bool theme_deferred = startup_theme::defer();
    begin();
    display_wait::arm(display_answer_seconds, tr("cli.no_display"));
    const bool toolkit_up = gtk_init_check(&argc, &argv);
    display_wait::disarm();
    if (gl_probe_off) g_unsetenv("GDK_GL");
    startup_theme::settle(theme_deferred, toolkit_up);
    m_theme_unparsed = theme_deferred && toolkit_up;
    if (!toolkit_up) {
        std::fprintf(stderr, "%s\n", tr("cli.no_display"));
        return 1;
    }
    gui::register_display_session();
    start();
    gtk_main();
    return 0;
}

App::Collected App::collect_timed(const std::function<std::unique_ptr<hw::Node>()>& collect) {
    const int64_t t0 = g_get_monotonic_time();
    std::unique_ptr<hw::Node> root = collect();
    // Added here, so that its icon is drawn with the others on the first collection's thread:
    // drawn on the main thread, it loaded the emoji font a second time before the first frame.
    if (root) tools::add_branch(*root);
    return {std::move(root), (g_get_monotonic_time() - t0) / 1000.0};
}

// The first collection, then the icons of the rows the first frame shows (the root and its
// children), also beside the toolkit's work: the first emoji loads its font, and each icon
// is a picture decoded and scaled, some 10 ms in all.
App::Collected App::collect_first(const std::function<std::unique_ptr<hw::Node>()>& collect,
                                  int icon_size) {
    Collected c = collect_timed(collect);
    if (c.root) {
        tree_icons::icon(c.root->icon, icon_size);
        for (const auto& child : c.root->children)
            tree_icons::icon(child->icon, icon_size);
    }
    return c;
}

// What needs no toolkit and is best under way while it starts: the settings, then the session
// bus and the desktop's colour preference, which the first theme waits for. Connecting takes
// about as long as the toolkit's start.
void App::begin() {
    m_begun = true;
    SettingsStore::instance().load();
    start_session_bus();
}

void App::start() {
    if (!m_begun) begin(); // the window tests start the toolkit themselves
    apply_language(SettingsStore::instance().get().language);
    // Reading the machine takes about as long as the toolkit takes to load the theme and
    // build the window, and needs neither: both go on at once, and refresh() takes the
    // result. The collection is in the language just set. Until then this thread touches
    // nothing it writes (the monitor bar's first sample, which reads what a collection as
    // root learns, comes after); the toolkit, which only this thread may ask, describes the
    // monitors for it here.
    gui::hold_display_session();
    const int scale = likely_scale();
    m_first_collection = std::async(std::launch::async, &App::collect_first, m_collect,
                                    tree_icons::row_size * scale);
    probe_system_theme_hint();
    apply_theme();
    watch_system_theme();
    build_window();
    refresh();
    m_monitor.sample();
    apply_geometry();
    // The bar's logo and panels are drawn ahead while the window is shown; a maximized
    // window's width is known only once it is.
    int width = 0;
    if (!SettingsStore::instance().get().window_maximized)
        gtk_window_get_default_size(GTK_WINDOW(m_window), &width, nullptr);
    m_monitor.prepare_first_frame(scale, width);
    gtk_widget_show_all(m_window);
    // The keys go to the tree, not to the first drawn panel the toolkit would pick.
    if (m_tree_view) gtk_widget_grab_focus(m_tree_view);

    const Settings& s = SettingsStore::instance().get();
    if (!running_on_wayland() && s.window_x >= 0 && s.window_y >= 0)
        gtk_window_move(GTK_WINDOW(m_window), s.window_x, s.window_y);
    if (s.window_maximized) gtk_window_maximize(GTK_WINDOW(m_window));
    m_idle_source = g_idle_add(on_idle_after_show, this);
    // Killed outright, the window left the elevation tool behind, pkexec's password dialog
    // still open for a program that was gone; the user's place and size were lost as well.
    int at = 0;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        m_end_sources[at++] = g_unix_signal_add(sig, on_end_signal, this);
}

// The tool is ended and every open dialog answered as if closed, so that no nested wait
// keeps the process on; then the window closes as Quit closes it.
gboolean App::on_end_signal(gpointer self) {
    App* app = static_cast<App*>(self);
    app->m_ending = true;
    app->stop_elevation();
    // Held while answered: an answer may close another of them.
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next)
        g_object_ref(w->data);
    for (GList* w = windows; w; w = w->next)
        if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
            gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_DELETE_EVENT);
    g_list_free_full(windows, g_object_unref);
    app->quit();
    return G_SOURCE_CONTINUE;
}

gboolean App::on_idle_after_show(gpointer self) {
    App* app = static_cast<App*>(self);
    app->m_idle_source = 0;
    // The window's icon is the logo's picture, decoded beside the first frame, not before it.
    if (GdkPixbuf* icon = app->m_monitor.logo_pixbuf())
        gtk_window_set_icon(GTK_WINDOW(app->m_window), icon);
    gtk_entry_set_icon_from_icon_name(GTK_ENTRY(app->m_search), GTK_ENTRY_ICON_PRIMARY,
                                      "edit-find-symbolic");
    // Only now do the panes have their real sizes, which the panels are sized from.
    app->fill_details(app->m_selected);
    app->show_permission_notice(true);
    return G_SOURCE_REMOVE;
}

// ---- Building -------------------------------------------------------------------------------

void App::build_window() {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_window), "Quarvel");
    g_signal_connect(m_window, "destroy", G_CALLBACK(on_destroy), this);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(on_delete), this);
    g_signal_connect(m_window, "window-state-event", G_CALLBACK(on_window_state), this);
    g_signal_connect(m_window, "configure-event", G_CALLBACK(on_configure), this);
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(on_key_press), this);
    if (std::getenv("QUARVEL_REPORT_FIRST_DRAW"))
        g_signal_connect_after(m_window, "draw", G_CALLBACK(on_first_draw), this);

    // The menu bar (position 0) and the monitor bar (position 1) are packed above the
    // divided area when they are built.
    m_vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(m_window), m_vbox);
    rebuild_menubar();
    gtk_box_pack_start(GTK_BOX(m_vbox), m_monitor.build(palette()), FALSE, FALSE, 0);
    m_monitor_tick = g_timeout_add(1000, MonitorBar::on_tick, &m_monitor);

    m_paned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_paned_pack1(GTK_PANED(m_paned), build_tree_pane(), FALSE, FALSE);
    gtk_paned_pack2(GTK_PANED(m_paned), build_detail_pane(), TRUE, FALSE);
    gtk_box_pack_start(GTK_BOX(m_vbox), m_paned, TRUE, TRUE, 0);

    m_status = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(m_status), 0);
    gtk_label_set_ellipsize(GTK_LABEL(m_status), PANGO_ELLIPSIZE_END);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_status), "statusbar");
    // So that a screen reader finds it by its role and reads it out on request.
    atk_object_set_role(gtk_widget_get_accessible(m_status), ATK_ROLE_STATUSBAR);
    GtkWidget* status_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(status_row), m_status, TRUE, TRUE, 0);
    m_elevate_cancel = gtk_button_new_with_label(tr("dialog.cancel"));
    gtk_widget_set_no_show_all(m_elevate_cancel, TRUE);
    g_signal_connect_swapped(m_elevate_cancel, "clicked",
                             G_CALLBACK(+[](App* app) { app->stop_elevation(); }), this);
    gtk_box_pack_end(GTK_BOX(status_row), m_elevate_cancel, FALSE, FALSE, 0);
    // The line is as tall as its button also while the button is hidden: the panes above
    // would otherwise shrink and grow back as the elevated copy starts and ends.
    widgets::keep_height_of_button(m_status, "dialog.cancel");
    gtk_box_pack_start(GTK_BOX(m_vbox), status_row, FALSE, FALSE, 0);
}

void App::set_status(const std::string& text) {
    if (m_status) gtk_label_set_text(GTK_LABEL(m_status), text.c_str());
}

void App::on_destroy(GtkWidget*, gpointer self) {
    App* app = static_cast<App*>(self);
    // Everything below the window goes with it; nothing may reach those widgets any more.
    app->m_disk_rates.stop();
    app->m_disk_rates.set_redraw_target(nullptr);
    app->m_window = app->m_vbox = app->m_menubar = app->m_paned = nullptr;
    app->m_search = app->m_tree_view = app->m_detail_view = app->m_detail_scroll = nullptr;
    app->m_status = app->m_disk_scroll = app->m_disk_area = app->m_usb_scroll = nullptr;
    app->m_usb_area = app->m_net_scroll = app->m_sensor_scroll = app->m_proc_box = nullptr;
    app->m_detail_box = app->m_elevate_cancel = nullptr;
    app->m_locked_box = app->m_locked_area = app->m_locked_hint = app->m_locked_btn = nullptr;
    if (gtk_main_level() > 0) gtk_main_quit();
}

gboolean App::on_delete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<App*>(self)->remember_geometry();
    return FALSE;
}

gboolean App::on_first_draw(GtkWidget* widget, cairo_t*, gpointer self) {
    App* app = static_cast<App*>(self);
    g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(on_first_draw), self);
    // Processor time as well as wall time: on a busy machine only the former is comparable.
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                          (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    std::fprintf(stderr,
                 "quarvel: first draw %.1f ms after the window path started, %.1f ms of "
                 "processor time since the program started\n",
                 (g_get_monotonic_time() - app->m_started_us) / 1000.0, cpu_ms);
    std::fprintf(stderr, "quarvel: first draw at realtime %lld us\n",
                 static_cast<long long>(g_get_real_time()));
    return FALSE;
}

// ---- Language and icon ----------------------------------------------------------------------

void App::apply_language(const std::string& code) {
    I18n::instance().set_language(code);
    util::set_number_format(tr("num.decimal"), tr("num.group"));
    gtk_widget_set_default_direction(I18n::instance().is_rtl() ? GTK_TEXT_DIR_RTL
                                                               : GTK_TEXT_DIR_LTR);
    m_procview.retranslate();
    if (!m_window) return;
    // What was built in the old language and is not rebuilt with the menus.
    widgets::name_search_entry(m_search, tr("ui.search_placeholder"));
    atk_object_set_name(gtk_widget_get_accessible(m_tree_view), tr("ui.tree_name"));
    atk_object_set_name(gtk_widget_get_accessible(m_detail_view), tr("ui.details_name"));
    gtk_tree_view_column_set_title(m_name_column, tr("ui.col_property"));
    gtk_tree_view_column_set_title(m_value_column, tr("ui.col_value"));
    gtk_tree_view_column_set_title(m_source_column, tr("ui.col_source"));
    if (m_locked_box) {
        gtk_label_set_text(GTK_LABEL(m_locked_hint), tr("msg.preview_locked"));
        gtk_button_set_label(GTK_BUTTON(m_locked_btn), tr("dialog.unlock"));
    }
}

GdkPixbuf* App::app_icon(int size) {
    GdkPixbuf* icon = images::app_icon_pixbuf();
    if (!icon || size < 1) return icon;
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(icon, size, size, GDK_INTERP_BILINEAR);
    g_object_unref(icon);
    return scaled;
}
