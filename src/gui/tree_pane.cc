// The hardware tree on the window's left: its search field and rows, filling it from a
// collection, and the user's place in it across refreshes and searches.
#include "gui/app.h"

#include "gui/detail_content.h"
#include "gui/display_session_gtk.h"
#include "gui/draw_util.h"
#include "gui/store_columns.h"
#include "gui/tree_icons.h"
#include "gui/tree_keys.h"
#include "gui/widget_util.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <algorithm>
#include <utility>

namespace {

// The search field's magnifier: the toolkit's size for icons in entries.
constexpr int search_icon_size = 16;

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
    GdkPixbuf* pixbuf = n ? tree_icons::icon(n->icon, tree_icons::row_size * scale) : nullptr;
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

} // namespace

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
