#include "gui/app.h"

#include "gui/actions.h"
#include "gui/detail_content.h"
#include "gui/diskview.h"
#include "gui/display_session_gtk.h"
#include "gui/display_wait.h"
#include "gui/draw_util.h"
#include "gui/images.h"
#include "gui/startup_theme.h"
#include "gui/store_columns.h"
#include "gui/tools.h"
#include "gui/tree_icons.h"
#include "gui/tree_keys.h"
#include "gui/usbview.h"
#include "gui/widget_util.h"
#include "gui/window_layout.h"
#include "i18n.h"
#include "report.h"
#include "settings.h"
#include "util.h"

#include <glib-unix.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <utility>

namespace {

// The tree's icons are squares of this many pixels (before the screen's scale).
constexpr int tree_icon_size = 20;
// The search field's magnifier: the toolkit's size for icons in entries.
constexpr int search_icon_size = 16;
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

hw::Node* node_at(GtkTreeModel* model, GtkTreeIter* iter) {
    gpointer p = nullptr;
    gtk_tree_model_get(model, iter, TREE_NODE, &p, -1);
    return static_cast<hw::Node*>(p);
}

void insert_node(GtkTreeStore* store, GtkTreeIter* parent, const hw::Node& n,
                 const std::string& filter) {
    if (!filter.empty() && !detail::node_or_child_matches(n, filter)) return;
    std::string markup = "<b>" + widgets::escape(n.title) + "</b>";
    if (!n.summary.empty())
        markup += "\n<span size=\"small\" alpha=\"65%\">" + widgets::escape(n.summary) + "</span>";
    GtkTreeIter it;
    gtk_tree_store_append(store, &it, parent);
    gtk_tree_store_set(store, &it, TREE_MARKUP, markup.c_str(), TREE_NODE, &n, -1);
    for (const auto& c : n.children)
        insert_node(store, &it, *c, filter);
}

// Icons are rendered when a row is first shown, not for every row of the tree: an emoji
// costs a colour glyph's picture decoded twice, and most rows start folded away. They are
// rendered at the screen's scale; on a scaled screen they are handed over as surfaces of that
// scale, or they would show at twice their size.
void set_icon_cell(GtkTreeViewColumn*, GtkCellRenderer* cell, GtkTreeModel* model,
                   GtkTreeIter* iter, gpointer tree_view) {
    const hw::Node* n = node_at(model, iter);
    const int scale = std::max(gtk_widget_get_scale_factor(GTK_WIDGET(tree_view)), 1);
    GdkPixbuf* pixbuf = n ? tree_icons::icon(n->icon, tree_icon_size * scale) : nullptr;
    if (pixbuf && scale > 1) {
        cairo_surface_t* surface = gdk_cairo_surface_create_from_pixbuf(
            pixbuf, scale, gtk_widget_get_window(GTK_WIDGET(tree_view)));
        g_object_set(cell, "surface", surface, nullptr);
        cairo_surface_destroy(surface);
    } else {
        g_object_set(cell, "pixbuf", pixbuf, nullptr);
    }
}

bool find_row(GtkTreeModel* model, GtkTreeIter* parent, const std::string& id, GtkTreeIter* found) {
    GtkTreeIter it;
    if (!gtk_tree_model_iter_children(model, &it, parent)) return false;
    do {
        hw::Node* n = node_at(model, &it);
        if (n && n->id == id) {
            *found = it;
            return true;
        }
        if (find_row(model, &it, id, found)) return true;
    } while (gtk_tree_model_iter_next(model, &it));
    return false;
}

// Ids of the rows the user opened, read while the rows still point into their tree.
std::vector<std::string> expanded_ids(GtkTreeView* view) {
    std::vector<std::string> ids;
    gtk_tree_view_map_expanded_rows(
        view,
        [](GtkTreeView* v, GtkTreePath* path, gpointer out) {
            GtkTreeModel* model = gtk_tree_view_get_model(v);
            GtkTreeIter it;
            const hw::Node* n =
                gtk_tree_model_get_iter(model, &it, path) ? node_at(model, &it) : nullptr;
            if (n) static_cast<std::vector<std::string>*>(out)->push_back(n->id);
        },
        &ids);
    return ids;
}

void expand_ids(GtkTreeView* view, const std::vector<std::string>& ids) {
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    for (const auto& id : ids) {
        GtkTreeIter it;
        if (!find_row(model, nullptr, id, &it)) continue;
        GtkTreePath* path = gtk_tree_model_get_path(model, &it);
        gtk_tree_view_expand_to_path(view, path);
        gtk_tree_path_free(path);
    }
}

GtkWidget* new_panel_scroll() {
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_widget_set_no_show_all(scroll, TRUE);
    // The panel inside takes the focus: a stop on the frame around it would say nothing.
    gtk_widget_set_can_focus(scroll, FALSE);
    return scroll;
}

// Shows a widget marked "no show all" together with its children.
void show_with_children(GtkWidget* w) {
    gtk_widget_set_no_show_all(w, FALSE);
    gtk_widget_show_all(w);
    gtk_widget_set_no_show_all(w, TRUE);
}

// Where the panel of a placement goes in the pane, or nowhere.
void place(GtkWidget* scroll, const detail::Placement& p) {
    if (!scroll) return;
    if (!p.shown) {
        gtk_widget_hide(scroll);
        return;
    }
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(scroll));
    if (GTK_IS_VIEWPORT(child)) child = gtk_bin_get_child(GTK_BIN(child));
    if (child) gtk_widget_set_size_request(child, -1, p.height_request);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroll), p.min_content_height);
    gtk_widget_set_vexpand(scroll, p.expand);
    GtkWidget* parent = gtk_widget_get_parent(scroll);
    if (GTK_IS_BOX(parent))
        gtk_box_set_child_packing(GTK_BOX(parent), scroll, p.expand, p.expand, 0, GTK_PACK_START);
    show_with_children(scroll);
    gtk_widget_queue_draw(scroll);
}

// True when it changed.
bool set_if_changed(GObject* object, const char* property, int value) {
    int current = 0;
    g_object_get(object, property, &current, nullptr);
    if (current == value) return false;
    g_object_set(object, property, value, nullptr);
    return true;
}

layout::Rect work_area() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return layout::fallback_work_area;
    GdkMonitor* monitor = nullptr;
    if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
        if (GdkDevice* pointer = gdk_seat_get_pointer(seat)) {
            int x = 0, y = 0;
            gdk_device_get_position(pointer, nullptr, &x, &y);
            monitor = gdk_display_get_monitor_at_point(display, x, y);
        }
    }
    monitor = widgets::monitor_or_primary(display, monitor);
    if (!monitor) return layout::fallback_work_area;
    GdkRectangle r;
    gdk_monitor_get_workarea(monitor, &r);
    return {r.x, r.y, r.width, r.height};
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
    m_first_collection =
        std::async(std::launch::async, &App::collect_first, m_collect, tree_icon_size * scale);
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

GtkWidget* App::build_tree_pane() {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);

    m_search = gtk_search_entry_new();
    // Its magnifier is the only icon-theme picture of the first frame, and the theme's first
    // lookup costs more than any widget of that frame: the window puts it in once it is on
    // screen. A blank of the same size holds its place, so the text does not move then.
    GdkPixbuf* blank =
        gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, search_icon_size, search_icon_size);
    gdk_pixbuf_fill(blank, 0);
    gtk_entry_set_icon_from_pixbuf(GTK_ENTRY(m_search), GTK_ENTRY_ICON_PRIMARY, blank);
    g_object_unref(blank);
    widgets::name_search_entry(m_search, tr("ui.search_placeholder"));
    g_signal_connect(m_search, "search-changed", G_CALLBACK(on_search_changed), this);
    gtk_box_pack_start(GTK_BOX(box), m_search, FALSE, FALSE, 2);

    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_min_content_width(GTK_SCROLLED_WINDOW(scroll), 270);

    m_tree_store = gtk_tree_store_new(TREE_COLUMNS, G_TYPE_STRING, G_TYPE_POINTER);
    m_tree_view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(m_tree_store));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(m_tree_view), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(m_tree_view), FALSE);

    // Icon and title share one column: the tree indents its first column only, so an icon
    // column of its own grew to the deepest row's indent and pushed every title, however
    // shallow, that far from its icon.
    GtkTreeViewColumn* column = gtk_tree_view_column_new();
    GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
    g_object_set(icon, "xpad", 3, "ypad", 0, "yalign", 0.5, nullptr);
    gtk_tree_view_column_pack_start(column, icon, FALSE);
    gtk_tree_view_column_set_cell_data_func(column, icon, set_icon_cell, m_tree_view, nullptr);
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    g_object_set(text, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    gtk_tree_view_column_pack_start(column, text, TRUE);
    gtk_tree_view_column_add_attribute(column, text, "markup", TREE_MARKUP);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_expand(column, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(m_tree_view), column);

    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m_tree_view));
    gtk_tree_selection_set_mode(sel, GTK_SELECTION_SINGLE);
    g_signal_connect(sel, "changed", G_CALLBACK(on_tree_selection), this);
    g_signal_connect(m_tree_view, "row-activated", G_CALLBACK(on_tree_row_activated), this);
    g_signal_connect(m_tree_view, "button-press-event", G_CALLBACK(on_tree_press), this);
    tree_keys::attach(m_tree_view);
    atk_object_set_name(gtk_widget_get_accessible(m_tree_view), tr("ui.tree_name"));

    gtk_container_add(GTK_CONTAINER(scroll), m_tree_view);
    gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);
    return box;
}

GtkWidget* App::build_detail_pane() {
    m_detail_store =
        gtk_tree_store_new(DETAIL_COLUMNS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT,
                           G_TYPE_BOOLEAN, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN);
    m_detail_view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(m_detail_store));
    GtkTreeView* view = GTK_TREE_VIEW(m_detail_view);
    gtk_tree_view_set_enable_search(view, FALSE);
    gtk_tree_view_set_grid_lines(view, GTK_TREE_VIEW_GRID_LINES_NONE);
    gtk_tree_view_set_enable_tree_lines(view, FALSE);
    gtk_tree_view_set_level_indentation(view, 6);
    g_signal_connect(m_detail_view, "size-allocate", G_CALLBACK(on_detail_size_allocate), this);
    g_signal_connect(m_detail_view, "button-press-event", G_CALLBACK(on_detail_click), this);
    g_signal_connect(m_detail_view, "popup-menu", G_CALLBACK(on_detail_popup_menu), this);
    g_signal_connect(m_detail_view, "row-activated", G_CALLBACK(on_detail_row_activated), this);
    tree_keys::attach(m_detail_view);
    atk_object_set_name(gtk_widget_get_accessible(m_detail_view), tr("ui.details_name"));

    m_name_renderer = gtk_cell_renderer_text_new();
    g_object_set(m_name_renderer, "ypad", 3, "yalign", 0.0, "wrap-mode", PANGO_WRAP_WORD_CHAR,
                 "wrap-width", 220, nullptr);
    m_name_column = gtk_tree_view_column_new_with_attributes(
        tr("ui.col_property"), m_name_renderer, "text", COL_NAME, "weight", COL_WEIGHT,
        "cell-background", COL_BACKGROUND, "foreground", COL_FOREGROUND, nullptr);
    gtk_tree_view_column_set_resizable(m_name_column, TRUE);
    gtk_tree_view_column_set_sizing(m_name_column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(m_name_column, 250);
    gtk_tree_view_column_set_min_width(m_name_column, 110);
    gtk_tree_view_append_column(view, m_name_column);

    m_value_renderer = gtk_cell_renderer_text_new();
    g_object_set(m_value_renderer, "family", "monospace", "wrap-mode", PANGO_WRAP_WORD_CHAR,
                 "wrap-width", 460, "yalign", 0.0, "ypad", 3, nullptr);
    // Only section rows are bold, and their value is empty: a weight here would load the bold
    // monospace font before the first frame only to measure those empty cells.
    m_value_column = gtk_tree_view_column_new_with_attributes(
        tr("ui.col_value"), m_value_renderer, "text", COL_VALUE, "cell-background", COL_BACKGROUND,
        "foreground", COL_FOREGROUND, nullptr);
    gtk_tree_view_column_set_resizable(m_value_column, TRUE);
    gtk_tree_view_column_set_expand(m_value_column, TRUE);
    gtk_tree_view_column_set_min_width(m_value_column, 140);
    gtk_tree_view_append_column(view, m_value_column);

    GtkCellRenderer* source = gtk_cell_renderer_text_new();
    g_object_set(source, "scale", 0.85, "ypad", 3, "yalign", 0.0, nullptr);
    m_source_column =
        gtk_tree_view_column_new_with_attributes(tr("ui.col_source"), source, "text", COL_SOURCE,
                                                 "cell-background", COL_BACKGROUND, nullptr);
    gtk_tree_view_column_set_resizable(m_source_column, TRUE);
    gtk_tree_view_column_set_visible(m_source_column, SettingsStore::instance().get().show_sources);
    gtk_tree_view_append_column(view, m_source_column);

    m_detail_scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(m_detail_scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_min_content_width(GTK_SCROLLED_WINDOW(m_detail_scroll), 320);
    gtk_container_add(GTK_CONTAINER(m_detail_scroll), m_detail_view);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(box), m_detail_scroll, TRUE, TRUE, 0);
    m_detail_box = box;
    return box;
}

// The live panels' places, built the first time a node needs one (most starts show none, and
// building them was a noticeable part of the window's first frame), then hidden until their
// node is shown. They go above the table, in this order.
void App::build_panel_places() {
    if (m_disk_scroll || !m_detail_box) return;
    m_disk_scroll = new_panel_scroll();
    m_disk_area = gtk_drawing_area_new();
    // Focusable, like the other drawn panels, so a screen reader reaches the cards' words.
    gtk_widget_set_can_focus(m_disk_area, TRUE);
    gtk_container_add(GTK_CONTAINER(m_disk_scroll), m_disk_area);
    g_signal_connect(m_disk_area, "draw", G_CALLBACK(on_draw_disks), this);
    m_disk_rates.set_on_sample([this] { describe_disks(m_selected); });
    m_usb_scroll = new_panel_scroll();
    m_usb_area = gtk_drawing_area_new();
    gtk_widget_set_can_focus(m_usb_area, TRUE);
    gtk_container_add(GTK_CONTAINER(m_usb_scroll), m_usb_area);
    g_signal_connect(m_usb_area, "draw", G_CALLBACK(on_draw_usb), this);
    m_net_scroll = new_panel_scroll();
    gtk_container_add(GTK_CONTAINER(m_net_scroll), m_net.build(palette()));
    m_sensor_scroll = new_panel_scroll();
    gtk_container_add(GTK_CONTAINER(m_sensor_scroll), m_sensors.build(palette()));
    m_locked_box = build_locked_preview();

    int at = 0;
    for (GtkWidget* scroll : {m_disk_scroll, m_usb_scroll, m_net_scroll, m_sensor_scroll}) {
        gtk_box_pack_start(GTK_BOX(m_detail_box), scroll, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(m_detail_box), scroll, at++);
    }
    gtk_box_pack_start(GTK_BOX(m_detail_box), m_locked_box, TRUE, TRUE, 0);
    gtk_box_reorder_child(GTK_BOX(m_detail_box), m_locked_box, at);
}

GtkWidget* App::build_locked_preview() {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_widget_set_halign(box, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(box, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_top(box, 20);
    gtk_widget_set_margin_bottom(box, 20);
    gtk_widget_set_no_show_all(box, TRUE);

    m_locked_area = gtk_drawing_area_new();
    gtk_widget_set_size_request(m_locked_area, 336, 130);
    g_signal_connect(m_locked_area, "draw", G_CALLBACK(on_draw_locked), this);
    gtk_box_pack_start(GTK_BOX(box), m_locked_area, FALSE, FALSE, 0);

    m_locked_hint = gtk_label_new(tr("msg.preview_locked"));
    gtk_label_set_line_wrap(GTK_LABEL(m_locked_hint), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(m_locked_hint), 54);
    gtk_label_set_width_chars(GTK_LABEL(m_locked_hint), 40);
    gtk_label_set_justify(GTK_LABEL(m_locked_hint), GTK_JUSTIFY_CENTER);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_locked_hint), "dim-text");
    gtk_box_pack_start(GTK_BOX(box), m_locked_hint, FALSE, FALSE, 0);

    m_locked_btn = gtk_button_new_with_label(tr("dialog.unlock"));
    // The preview is locked by a permission the confined package lacks, which administrator
    // rights cannot grant: the notice says how to connect it. Should the preview ever show
    // outside the package, the button reads with administrator rights instead.
    g_signal_connect_swapped(m_locked_btn, "clicked", G_CALLBACK(+[](App* app) {
                                 if (!app->show_permission_notice(false)) app->action_elevate();
                             }),
                             this);
    gtk_widget_set_halign(m_locked_btn, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(box), m_locked_btn, FALSE, FALSE, 0);
    return box;
}

gboolean App::on_draw_locked(GtkWidget* widget, cairo_t* cr, gpointer self) {
    App* app = static_cast<App*>(self);
    if (!app->m_locked_png) return FALSE;
    GdkPixbuf* pixbuf = images::pixbuf_from_png(app->m_locked_png, app->m_locked_png_size);
    if (!pixbuf) return FALSE;
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int x = (gtk_widget_get_allocated_width(widget) - w) / 2;
    const int y = (gtk_widget_get_allocated_height(widget) - h) / 2;
    gdk_cairo_set_source_pixbuf(cr, pixbuf, x, y);
    cairo_paint_with_alpha(cr, 0.38);
    g_object_unref(pixbuf);

    cairo_set_source_rgba(cr, 0.85, 0.3, 0.3, 0.65);
    cairo_set_line_width(cr, 3);
    cairo_move_to(cr, x + 6, y + 6);
    cairo_line_to(cr, x + w - 6, y + h - 6);
    cairo_move_to(cr, x + w - 6, y + 6);
    cairo_line_to(cr, x + 6, y + h - 6);
    cairo_stroke(cr);

    Rgb dim{0.5, 0.5, 0.5};
    hex_to_rgb(app->palette().dim, dim);
    cairo_set_source_rgba(cr, dim.r, dim.g, dim.b, 0.5);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
    cairo_stroke(cr);
    return FALSE;
}

// ---- Collecting and the tree ----------------------------------------------------------------

void App::refresh() {
    Collected collected;
    if (m_first_collection.valid()) {
        m_first_collection.wait();
        gui::register_display_session(); // also when the collection failed
        collected = m_first_collection.get();
    } else {
        collected = collect_timed(m_collect);
        m_monitor.rescan(); // it looked at the machine when it was built, for the first one
    }
    std::unique_ptr<hw::Node> fresh = std::move(collected.root);
    // The panel on show follows the machine like the tree: what came appears, what left goes.
    if (m_net.running()) m_net.rescan();
    if (m_sensors.running()) m_sensors.rescan();
    // The branches the user opened stay open, and the table read down to some row shows that
    // row again. With a search every branch is open anyway.
    const std::vector<std::string> expanded = m_filter.empty() && m_tree_view
                                                  ? expanded_ids(GTK_TREE_VIEW(m_tree_view))
                                                  : std::vector<std::string>{};
    const std::string shown = m_selected ? m_selected->id : std::string();
    GtkTreePath* table_top = nullptr;
    if (m_detail_view && gtk_widget_get_visible(m_detail_scroll))
        gtk_tree_view_get_visible_range(GTK_TREE_VIEW(m_detail_view), &table_top, nullptr);
    m_selected = nullptr;
    // The old tree goes only once the new one exists and no row points into it any more: the
    // tree view reads a row's node to draw its icon, also while rows are being removed.
    std::unique_ptr<hw::Node> old = std::exchange(m_root, std::move(fresh));
    fill_tree();
    old.reset();
    expand_ids(GTK_TREE_VIEW(m_tree_view), expanded);

    std::string target =
        m_selected_id.empty() ? SettingsStore::instance().get().start_view : m_selected_id;
    // A device that is gone leaves the user at its nearest branch still there, not at the top.
    if (!target.empty() && !select_node_id(target) && target == m_selected_id && m_filter.empty())
        for (const auto& id : m_selected_trail)
            if (select_node_id(id)) break;
    if (!m_selected) {
        // A search that hides the remembered node must not make the first visible row the
        // user's new place.
        const std::string remembered = m_selected_id;
        GtkTreeIter first;
        if (gtk_tree_model_get_iter_first(GTK_TREE_MODEL(m_tree_store), &first)) {
            GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(m_tree_store), &first);
            gtk_tree_view_set_cursor(GTK_TREE_VIEW(m_tree_view), path, nullptr, FALSE);
            gtk_tree_path_free(path);
        }
        if (!m_filter.empty() && !remembered.empty()) m_selected_id = remembered;
        if (!m_selected) fill_details(nullptr); // nothing matches: no stale rows or panels
    }
    if (table_top) {
        GtkTreeIter row;
        if (m_selected && m_selected->id == shown &&
            gtk_tree_model_get_iter(GTK_TREE_MODEL(m_detail_store), &row, table_top))
            gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(m_detail_view), table_top, nullptr, TRUE, 0,
                                         0);
        gtk_tree_path_free(table_top);
    }

    set_status(I18n::trf("status.collected", util::fmt_double(collected.ms, 0).c_str()));
}

void App::fill_tree() {
    m_building = true;
    gtk_tree_store_clear(m_tree_store);
    if (m_root)
        for (const auto& child : m_root->children)
            insert_node(m_tree_store, nullptr, *child, m_filter);
    m_building = false;
    if (!m_filter.empty()) gtk_tree_view_expand_all(GTK_TREE_VIEW(m_tree_view));
}

bool App::select_node_id(const std::string& id) {
    GtkTreeModel* model = GTK_TREE_MODEL(m_tree_store);
    GtkTreeIter it;
    if (!find_row(model, nullptr, id, &it)) return false;
    GtkTreePath* path = gtk_tree_model_get_path(model, &it);
    // Only the way to the row opens; the row itself keeps its children folded.
    if (gtk_tree_path_get_depth(path) > 1) {
        GtkTreePath* parent = gtk_tree_path_copy(path);
        gtk_tree_path_up(parent);
        gtk_tree_view_expand_to_path(GTK_TREE_VIEW(m_tree_view), parent);
        gtk_tree_path_free(parent);
    }
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(m_tree_view), path, nullptr, FALSE);
    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(m_tree_view), path, nullptr, FALSE, 0, 0);
    gtk_tree_path_free(path);
    // While the view still measures its rows (after a refill or a new style sheet) it keeps its
    // old top row and the scroll above is lost; once it has measured them, scroll again.
    if (!m_scroll_source)
        m_scroll_source = g_idle_add_full(
            G_PRIORITY_LOW,
            [](gpointer self) -> gboolean {
                App* app = static_cast<App*>(self);
                app->m_scroll_source = 0;
                GtkTreePath* cursor = nullptr;
                if (app->m_tree_view)
                    gtk_tree_view_get_cursor(GTK_TREE_VIEW(app->m_tree_view), &cursor, nullptr);
                if (cursor) {
                    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(app->m_tree_view), cursor, nullptr,
                                                 FALSE, 0, 0);
                    gtk_tree_path_free(cursor);
                }
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
    return true;
}

void App::on_tree_selection(GtkTreeSelection* sel, gpointer self) {
    App* app = static_cast<App*>(self);
    if (app->m_building) return;
    GtkTreeModel* model = nullptr;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(sel, &model, &it)) return;
    hw::Node* n = node_at(model, &it);
    if (!n) return;
    app->m_selected = n;
    app->m_selected_id = n->id;
    app->m_selected_trail.clear();
    for (GtkTreeIter child = it, parent; gtk_tree_model_iter_parent(model, &parent, &child);
         child = parent)
        if (const hw::Node* p = node_at(model, &parent)) app->m_selected_trail.push_back(p->id);
    app->fill_details(n);
    // A title and a summary from the machine, each in its own script: isolated, so that in a
    // right-to-left language "56.0 °C" does not fall apart around the dash.
    app->set_status(draw::in_reading_order({n->title, n->summary}, "  \u2014  "));
}

void App::on_search_changed(GtkSearchEntry* entry, gpointer self) {
    App* app = static_cast<App*>(self);
    app->m_filter = util::fold_case(gtk_entry_get_text(GTK_ENTRY(entry)));
    app->fill_tree();
    // The user's place stays selected while it is visible, and comes back when the search no
    // longer hides it.
    if (app->m_selected_id.empty() || !app->select_node_id(app->m_selected_id))
        app->fill_details(app->m_selected);
}

void App::set_status(const std::string& text) {
    if (m_status) gtk_label_set_text(GTK_LABEL(m_status), text.c_str());
}

// ---- The detail pane ------------------------------------------------------------------------

void App::fill_details(hw::Node* n) {
    if (!m_detail_store || !m_detail_view) return;
    gtk_tree_store_clear(m_detail_store);
    apply_detail_plan(n);
    if (n) fill_detail_rows(*n);
}

void App::apply_detail_plan(hw::Node* n) {
    detail::Input in;
    in.node = n;
    in.filter_empty = m_filter.empty();
    if (in.filter_empty) {
        for (const auto& p : hw::missing_snap_permissions())
            if (p == "hardware-observe") in.missing_hardware_observe = true;
    }
    in.paned_height = gtk_widget_get_allocated_height(m_paned);
    in.table_width = gtk_widget_get_allocated_width(m_detail_view);

    // The live panels join here: each supplies its height and is started and stopped by the
    // same plan. A height is asked for only when the node shows the panel, so that is where the
    // panels' places are built and a live panel starts; a fresh start finds its interfaces or
    // channels before they are counted.
    detail::Panels panels;
    panels.disks_height = [this, n] {
        build_panel_places();
        return static_cast<int>(std::ceil(diskview::height_for(n->disks, 600)));
    };
    panels.usb_height = [this, n](int width) {
        build_panel_places();
        return static_cast<int>(std::ceil(usbview::height_for(n->usb, width)));
    };
    panels.net_height = [this] {
        build_panel_places();
        if (!m_net.running()) m_net.start();
        return m_net.needed_height();
    };
    panels.sensors_height = [this](int width) {
        build_panel_places();
        if (!m_sensors.running()) m_sensors.start();
        return m_sensors.needed_height(width);
    };
    panels.process_view = true;
    const detail::Plan plan = detail::plan(in, panels);
    if (!plan.net.shown) m_net.stop();
    if (!plan.sensors.shown) m_sensors.stop();

    bool dark = palette().dark;
    switch (plan.preview) {
    case detail::Preview::sensors: {
        images::Png png = images::sensors_preview(dark);
        m_locked_png = png.data, m_locked_png_size = png.size;
        break;
    }
    case detail::Preview::disks: {
        images::Png png = images::disks_preview(dark);
        m_locked_png = png.data, m_locked_png_size = png.size;
        break;
    }
    case detail::Preview::none:
        m_locked_png = nullptr, m_locked_png_size = 0;
        break;
    }
    if (m_locked_png) {
        build_panel_places();
        show_with_children(m_locked_box);
        gtk_widget_queue_draw(m_locked_area);
    } else if (m_locked_box) {
        gtk_widget_hide(m_locked_box);
    }
    place(m_disk_scroll, plan.disks);
    if (plan.disks.shown) {
        std::vector<std::string> devices;
        for (const auto& d : n->disks)
            devices.push_back(d.device);
        m_disk_rates.set_devices(devices);
        m_disk_rates.set_redraw_target(m_disk_area);
        m_disk_rates.start();
        describe_disks(n);
    } else {
        m_disk_rates.stop();
    }
    place(m_usb_scroll, plan.usb);
    if (plan.usb.shown) set_accessible(m_usb_area, tr("tree.usb"), usbview::describe(n->usb));
    place(m_net_scroll, plan.net);
    place(m_sensor_scroll, plan.sensors);
    if (plan.process_view) {
        GtkWidget* processes = process_box();
        if (!m_procview.running() && !m_iconified) m_procview.start();
        show_with_children(processes);
    } else {
        m_procview.stop();
        if (m_proc_box) gtk_widget_hide(m_proc_box);
    }
    gtk_widget_set_visible(m_detail_scroll, plan.table);
}

// The process list, built the first time a Tools row is shown: most runs never show it, and
// building it was a noticeable part of the window's first frame. It goes where the table is.
GtkWidget* App::process_box() {
    if (!m_proc_box) {
        m_proc_box = m_procview.build(palette());
        gtk_widget_set_no_show_all(m_proc_box, TRUE);
        gtk_box_pack_start(GTK_BOX(m_detail_box), m_proc_box, TRUE, TRUE, 0);
        int table_at = 0;
        gtk_container_child_get(GTK_CONTAINER(m_detail_box), m_detail_scroll, "position", &table_at,
                                nullptr);
        gtk_box_reorder_child(GTK_BOX(m_detail_box), m_proc_box, table_at);
    }
    return m_proc_box;
}

void App::describe_disks(const hw::Node* n) {
    if (n && !n->disks.empty())
        set_accessible(m_disk_area, tr("tree.storage"),
                       diskview::describe(n->disks, m_disk_rates.table()));
}

gboolean App::on_draw_disks(GtkWidget* widget, cairo_t* cr, gpointer self) {
    App* app = static_cast<App*>(self);
    const int width = gtk_widget_get_allocated_width(widget);
    if (app->m_selected && !app->m_selected->disks.empty()) {
        cairo_save(cr);
        mirror_for_direction(widget, cr, width);
        diskview::draw(cr, width, app->m_selected->disks, app->palette(),
                       app->m_disk_rates.table());
        cairo_restore(cr);
    }
    draw_focus_ring(widget, cr);
    return FALSE;
}

gboolean App::on_draw_usb(GtkWidget* widget, cairo_t* cr, gpointer self) {
    App* app = static_cast<App*>(self);
    const int width = gtk_widget_get_allocated_width(widget);
    if (app->m_selected && !app->m_selected->usb.empty()) {
        cairo_save(cr);
        mirror_for_direction(widget, cr, width);
        usbview::draw(cr, width, app->m_selected->usb, app->palette());
        cairo_restore(cr);
    }
    draw_focus_ring(widget, cr);
    return FALSE;
}

void App::fill_detail_rows(const hw::Node& n) {
    for (const auto& section : detail::rows_for(n, m_filter, palette())) {
        GtkTreeIter head;
        const detail::Row& h = section.header;
        gtk_tree_store_insert_with_values(
            m_detail_store, &head, nullptr, -1, COL_NAME, h.name.c_str(), COL_VALUE, "", COL_SOURCE,
            "", COL_WEIGHT, h.weight, COL_SECTION, TRUE, COL_BACKGROUND,
            h.background ? h.background->c_str() : nullptr, COL_FOREGROUND, h.foreground.c_str(),
            COL_LOCKED, FALSE, -1);
        for (const auto& r : section.items) {
            GtkTreeIter it;
            gtk_tree_store_insert_with_values(
                m_detail_store, &it, &head, -1, COL_NAME, r.name.c_str(), COL_VALUE,
                r.value.c_str(), COL_SOURCE, r.source.c_str(), COL_WEIGHT, r.weight, COL_SECTION,
                FALSE, COL_BACKGROUND, r.background ? r.background->c_str() : nullptr,
                COL_FOREGROUND, r.foreground.c_str(), COL_LOCKED, r.locked, -1);
        }
    }
    gtk_tree_view_expand_all(GTK_TREE_VIEW(m_detail_view));
}

void App::on_detail_size_allocate(GtkWidget* widget, GdkRectangle*, gpointer self) {
    App* app = static_cast<App*>(self);
    // The expanding value column grows to fit its widest text, so its own width alone would
    // keep a long value wider than the pane and cut it off at the right edge; wrap at what is
    // actually visible.
    int column_width = gtk_tree_view_column_get_width(app->m_value_column);
    GtkWidget* viewport = app->m_detail_scroll ? app->m_detail_scroll : widget;
    // Measured as what the other columns leave, which holds in both text directions.
    int visible = gtk_widget_get_allocated_width(viewport) -
                  gtk_tree_view_column_get_width(app->m_name_column);
    if (gtk_tree_view_column_get_visible(app->m_source_column))
        visible -= gtk_tree_view_column_get_width(app->m_source_column);
    if (visible > 0) column_width = std::min(column_width, visible);
    const bool value_wrap = set_if_changed(G_OBJECT(app->m_value_renderer), "wrap-width",
                                           std::max(column_width - 16, 120));
    // Before the first allocation the name column is narrow: names measured then took two
    // lines, and kept the height after the column had its width.
    const bool name_wrap =
        set_if_changed(G_OBJECT(app->m_name_renderer), "wrap-width",
                       std::max(gtk_tree_view_column_get_width(app->m_name_column) - 14, 90));
    if (value_wrap || name_wrap) {
        // Rows keep the heights measured with the old wrap widths until told otherwise.
        gtk_tree_view_columns_autosize(GTK_TREE_VIEW(widget));
        gtk_widget_queue_resize(widget);
    }
}

gboolean App::on_detail_click(GtkWidget* widget, GdkEventButton* event, gpointer self) {
    App* app = static_cast<App*>(self);
    if (event->type != GDK_BUTTON_PRESS && event->type != GDK_2BUTTON_PRESS &&
        event->type != GDK_3BUTTON_PRESS)
        return FALSE;
    GtkTreeView* view = GTK_TREE_VIEW(widget);
    GtkTreePath* path = nullptr;
    bool on_row =
        gtk_tree_view_get_path_at_pos(view, static_cast<int>(event->x), static_cast<int>(event->y),
                                      &path, nullptr, nullptr, nullptr);
    std::string name, value, source;
    gboolean locked = FALSE;
    if (on_row) {
        GtkTreeIter it;
        GtkTreeModel* model = GTK_TREE_MODEL(app->m_detail_store);
        if (gtk_tree_model_get_iter(model, &it, path)) {
            gchar *n = nullptr, *v = nullptr, *s = nullptr;
            gtk_tree_model_get(model, &it, COL_NAME, &n, COL_VALUE, &v, COL_SOURCE, &s, COL_LOCKED,
                               &locked, -1);
            name = n ? n : "", value = v ? v : "", source = s ? s : "";
            g_free(n), g_free(v), g_free(s);
        }
    }
    detail::PressKind kind = event->type == GDK_2BUTTON_PRESS   ? detail::PressKind::double_
                             : event->type == GDK_3BUTTON_PRESS ? detail::PressKind::triple
                                                                : detail::PressKind::single;
    detail::Click action =
        detail::classify_click(event->button, kind, on_row, locked, app->m_clicks_blocked);
    gboolean consumed = TRUE;
    switch (action) {
    case detail::Click::context_menu:
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
        if (!locked)
            app->show_detail_menu(event, name, value, source);
        else
            app->show_detail_menu(event, name, "", source);
        break;
    case detail::Click::copy_value:
        app->action_copy_value();
        break;
    case detail::Click::elevate:
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
        app->action_elevate();
        break;
    case detail::Click::swallow:
        break;
    case detail::Click::pass:
        consumed = FALSE;
        break;
    }
    if (path) gtk_tree_path_free(path);
    return consumed;
}

void App::block_queued_clicks() {
    m_clicks_blocked = true;
    if (m_unblock_source) return;
    // Idle sources run only once the pending input events have been dispatched.
    m_unblock_source = g_idle_add(
        [](gpointer self) -> gboolean {
            App* app = static_cast<App*>(self);
            app->m_clicks_blocked = false;
            app->m_unblock_source = 0;
            return G_SOURCE_REMOVE;
        },
        this);
}

void App::show_detail_menu(GdkEventButton* event, const std::string& name, const std::string& value,
                           const std::string& source) {
    GtkWidget* menu = gtk_menu_new();
    if (!value.empty()) add_copy_item(menu, tr("menu.copy_value"), value, this);
    add_copy_item(menu, tr("menu.copy_row"), value.empty() ? name : name + "\t" + value, this);
    if (!source.empty()) add_copy_item(menu, tr("menu.copy_source"), source, this);
    if (m_selected) {
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
        add_copy_item(menu, tr("menu.copy_branch"), report::node_to_text(*m_selected), this);
    }
    gtk_widget_show_all(menu);
    // The menu destroys itself once closed; it may be told it closed more than once.
    g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, gpointer) {
                         g_idle_add(
                             [](gpointer w) -> gboolean {
                                 gtk_widget_destroy(GTK_WIDGET(w));
                                 g_object_unref(w);
                                 return G_SOURCE_REMOVE;
                             },
                             g_object_ref(shell));
                     }),
                     nullptr);
    gtk_menu_attach_to_widget(GTK_MENU(menu), m_detail_view, nullptr);
    if (event) {
        gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent*>(event));
        return;
    }
    // From the keyboard: below the row under the cursor.
    GtkTreeView* view = GTK_TREE_VIEW(m_detail_view);
    GtkTreePath* cursor = nullptr;
    gtk_tree_view_get_cursor(view, &cursor, nullptr);
    GdkRectangle row{};
    if (cursor) gtk_tree_view_get_cell_area(view, cursor, m_name_column, &row);
    if (cursor) gtk_tree_path_free(cursor);
    gtk_menu_popup_at_rect(GTK_MENU(menu), gtk_tree_view_get_bin_window(view), &row,
                           GDK_GRAVITY_SOUTH_WEST, GDK_GRAVITY_NORTH_WEST, nullptr);
}

// ---- Geometry -------------------------------------------------------------------------------

bool App::running_on_wayland() {
    GdkDisplay* display = gdk_display_get_default();
    return display && g_str_has_prefix(G_OBJECT_TYPE_NAME(display), "GdkWayland");
}

void App::apply_geometry() {
    const Settings& s = SettingsStore::instance().get();
    layout::Placement p = layout::place_window(s, work_area());
    GdkGeometry hints{};
    hints.min_width = p.min_width;
    hints.min_height = p.min_height;
    gtk_window_set_geometry_hints(GTK_WINDOW(m_window), nullptr, &hints, GDK_HINT_MIN_SIZE);
    gtk_window_set_default_size(GTK_WINDOW(m_window), p.width, p.height);
    if (p.move) gtk_window_move(GTK_WINDOW(m_window), p.x, p.y);
    gtk_paned_set_position(GTK_PANED(m_paned), layout::divider_position(s.paned_position, p.width));
}

void App::remember_geometry() {
    if (!m_window) return;
    Settings& s = SettingsStore::instance().mutable_get();
    s.window_maximized = m_maximized;
    if (!m_maximized) {
        int w = 0, h = 0;
        gtk_window_get_size(GTK_WINDOW(m_window), &w, &h);
        if (w > 0 && h > 0) s.window_width = w, s.window_height = h;
        if (!running_on_wayland()) {
            int x = -1, y = -1;
            gtk_window_get_position(GTK_WINDOW(m_window), &x, &y);
            if (x >= 0 && y >= 0) s.window_x = x, s.window_y = y;
        }
    }
    s.paned_position = gtk_paned_get_position(GTK_PANED(m_paned));
    // The window is closing: its status line would go with it, and a size not kept is all the
    // user loses. Closing goes on.
    SettingsStore::instance().save();
}

gboolean App::on_window_state(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    App* app = static_cast<App*>(self);
    if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED)
        app->m_maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
        app->m_iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        // A window left minimised for days would read all of /proc every second, thousands
        // of files on a busy machine. Back on screen, the list is read at once; the shares
        // follow a second later, as when the list is first opened.
        if (app->m_iconified)
            app->m_procview.stop();
        else if (app->m_proc_box && gtk_widget_get_visible(app->m_proc_box))
            app->m_procview.start();
    }
    return FALSE;
}

// The frame is known only once the window manager has put it around the window, after the
// window was sized: the least size and the size are then made to leave room for it, once.
gboolean App::on_configure(GtkWidget* widget, GdkEventConfigure*, gpointer self) {
    App* app = static_cast<App*>(self);
    GdkWindow* gdk_window = gtk_widget_get_window(widget);
    if (app->m_fitted_to_frame || !gdk_window) return FALSE;
    // A window started maximized has its first configure before its state's event: fitted
    // then, its maximized size would become the size it goes back to.
    if (gdk_window_get_state(gdk_window) &
        (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN))
        return FALSE;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdk_window, &frame);
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
    const layout::Rect extra{0, 0, frame.width - width, frame.height - height};
    if (extra.width <= 0 && extra.height <= 0) return FALSE; // no frame, or not yet
    app->m_fitted_to_frame = true;
    const layout::FrameFit fit = layout::fit_frame(work_area(), extra, width, height, frame.y);
    GdkGeometry hints{};
    hints.min_width = fit.min_width;
    hints.min_height = fit.min_height;
    gtk_window_set_geometry_hints(GTK_WINDOW(widget), nullptr, &hints, GDK_HINT_MIN_SIZE);
    if (fit.width != width || fit.height != height)
        gtk_window_resize(GTK_WINDOW(widget), fit.width, fit.height);
    if (fit.top != frame.y) gtk_window_move(GTK_WINDOW(widget), frame.x, fit.top);
    return FALSE;
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
