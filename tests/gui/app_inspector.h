// Reaches inside the window for the tests; a friend of App.
#pragma once

#include "gui/app.h"

#include <functional>
#include <memory>

struct AppInspector {
    static void start(App& app, std::function<std::unique_ptr<hw::Node>()> collect) {
        app.m_collect = std::move(collect);
        app.start();
    }
    static GtkWidget* window(App& a) { return a.m_window; }
    static GtkWidget* search(App& a) { return a.m_search; }
    static GtkTreeView* tree(App& a) { return GTK_TREE_VIEW(a.m_tree_view); }
    static GtkTreeModel* tree_model(App& a) { return GTK_TREE_MODEL(a.m_tree_store); }
    static GtkTreeModel* detail_model(App& a) { return GTK_TREE_MODEL(a.m_detail_store); }
    static GtkWidget* detail_view(App& a) { return a.m_detail_view; }
    static GtkWidget* detail_scroll(App& a) { return a.m_detail_scroll; }
    static GtkWidget* locked_box(App& a) { return a.m_locked_box; }
    static GtkWidget* disk_scroll(App& a) { return a.m_disk_scroll; }
    static GtkWidget* disk_area(App& a) { return a.m_disk_area; }
    static GtkWidget* usb_scroll(App& a) { return a.m_usb_scroll; }
    static GtkWidget* usb_area(App& a) { return a.m_usb_area; }
    static const DiskRates& disk_rates(App& a) { return a.m_disk_rates; }
    static GtkTreeViewColumn* value_column(App& a) { return a.m_value_column; }
    static GtkWidget* paned(App& a) { return a.m_paned; }
    static GtkWidget* status(App& a) { return a.m_status; }
    static hw::Node* selected(App& a) { return a.m_selected; }
    static const std::string& selected_id(App& a) { return a.m_selected_id; }
    static const std::string& filter(App& a) { return a.m_filter; }
    static bool dark(App& a) { return a.m_dark; }
    static bool& theme_unparsed(App& a) { return a.m_theme_unparsed; }
    static void block_queued_clicks(App& a) { a.block_queued_clicks(); }
    static GtkWidget* menubar(App& a) { return a.m_menubar; }
    // Built with the panels' places when first needed; a test may press it before that.
    static GtkWidget* locked_button(App& a) {
        a.build_panel_places();
        return a.m_locked_btn;
    }
    static GtkTreeViewColumn* source_column(App& a) { return a.m_source_column; }
    static void set_language(App& a, const std::string& code) { a.set_language_setting(code); }
    static void elevate(App& a) { a.action_elevate(); }
    static GtkWidget* elevate_cancel(App& a) { return a.m_elevate_cancel; }
    static void save_report(App& a) { a.action_save_report(); }
    static void save_report_to(App& a, const std::string& path) { a.save_report_to(path); }
    static void open_terminal(App& a) { a.open_terminal(); }
    static void copy_value(App& a) { a.action_copy_value(); }
    static void copy_selection(App& a) { a.action_copy_selection(); }
    static void copy_branch(App& a) { a.action_copy_branch(); }
    static void about(App& a) { a.action_about(); }
    static void settings(App& a) { a.action_settings(); }
    static void colors(App& a) { a.action_colors(); }
    static bool permission_notice(App& a, bool automatic) {
        return a.show_permission_notice(automatic);
    }
    static NetGraphs& net(App& a) { return a.m_net; }
    static SensorGraphs& sensors(App& a) { return a.m_sensors; }
    static GtkWidget* net_scroll(App& a) { return a.m_net_scroll; }
    static GtkWidget* sensor_scroll(App& a) { return a.m_sensor_scroll; }
    static ProcessView& procview(App& a) { return a.m_procview; }
    static GtkWidget* proc_box(App& a) { return a.m_proc_box; }
    static MonitorBar& monitor(App& a) { return a.m_monitor; }
};
