// The detail pane on the window's right: the table of the chosen node's rows, the live
// panels placed above it as the node asks, the locked preview, and the table's clicks and
// context menu.
#include "gui/app.h"

#include "gui/actions.h"
#include "gui/detail_content.h"
#include "gui/diskview.h"
#include "gui/images.h"
#include "gui/live_area.h"
#include "gui/store_columns.h"
#include "gui/tree_keys.h"
#include "gui/usbview.h"
#include "hw/hardware.h"
#include "i18n.h"
#include "report.h"
#include "settings.h"
#include "theme.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

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

// The disk and USB cards: laid out from the reading side, so mirrored in right-to-left
// languages, with the focus ring of every drawn panel.
void draw_cards(GtkWidget* widget, cairo_t* cr, bool any, const std::function<void(int)>& draw) {
    const int width = gtk_widget_get_allocated_width(widget);
    if (any) {
        cairo_save(cr);
        mirror_for_direction(widget, cr, width);
        draw(width);
        cairo_restore(cr);
    }
    draw_focus_ring(widget, cr);
}

} // namespace

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
    const hw::Node* n = app->m_selected;
    draw_cards(widget, cr, n && !n->disks.empty(), [&](int width) {
        diskview::draw(cr, width, n->disks, app->palette(), app->m_disk_rates.table());
    });
    return FALSE;
}

gboolean App::on_draw_usb(GtkWidget* widget, cairo_t* cr, gpointer self) {
    App* app = static_cast<App*>(self);
    const hw::Node* n = app->m_selected;
    draw_cards(widget, cr, n && !n->usb.empty(),
               [&](int width) { usbview::draw(cr, width, n->usb, app->palette()); });
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
