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
    static void block_queued_clicks(App& a) { a.block_queued_clicks(); }
    static NetGraphs& net(App& a) { return a.m_net; }
    static SensorGraphs& sensors(App& a) { return a.m_sensors; }
    static GtkWidget* net_scroll(App& a) { return a.m_net_scroll; }
    static GtkWidget* sensor_scroll(App& a) { return a.m_sensor_scroll; }
    static ProcessView& procview(App& a) { return a.m_procview; }
    static GtkWidget* proc_box(App& a) { return a.m_proc_box; }
};
