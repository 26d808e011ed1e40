// The process list of the Tools branch: a filter bar, a sortable list with load bars, a status
// line, and ending the selected process. It samples once a second while it is shown.
#pragma once

#include "live/processes.h"
#include "theme.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

// The load bar behind the text of the CPU and memory cells. `cell` is the cell's area;
// nothing is drawn for a fraction of 0.004 or less, so idle processes stay plain.
namespace procview {
void draw_bar(cairo_t* cr, const GdkRectangle& cell, double fraction, bool selected, bool rtl);
}

class ProcessView {
public:
    ProcessView();
    ~ProcessView();
    ProcessView(const ProcessView&) = delete;
    ProcessView& operator=(const ProcessView&) = delete;

    GtkWidget* build(const Palette& palette);
    void start();
    void stop();
    bool running() const { return m_timer != 0; }
    void retranslate();
    void set_palette(const Palette& palette);
    int selected_pid() const;
    void kill_selected();

private:
    friend struct ProcViewInspector; // the window tests look inside

    using Proc = procs::Proc;

    // A collation key and the text it was made from.
    struct Collated {
        std::string text, key;
    };

    void sample();
    void apply_row(GtkTreeIter* it, const Proc& p);
    void update_status();
    void refilter();
    // Unselects the row that the list chose itself after the row of `selected` went away.
    void drop_stray_selection(int selected);
    void sort_rows();
    void show_sort_indicator();
    // Asks, then signals the process that `id` named when the user chose it.
    void end_process(const procs::Identity& id, const std::string& name, const std::string& cmd);
    // False with the reason in `failure` (possibly empty) when no signal was delivered.
    bool signal_own(const procs::Identity& id, int pidfd, std::string& failure);
    bool signal_elevated(const procs::Identity& id, std::string& failure);
    void show_failure(const std::string& detail);
    GtkWindow* parent_window() const;
    uint64_t total_memory();

    static gboolean on_tick(gpointer self);
    static gboolean row_visible(GtkTreeModel* model, GtkTreeIter* it, gpointer self);
    static void on_search_changed(GtkSearchEntry* entry, gpointer self);
    static void on_stop_search(GtkSearchEntry* entry, gpointer self);
    static void on_only_mine(GtkToggleButton* button, gpointer self);
    static void on_header_clicked(GtkTreeViewColumn* col, gpointer self);
    static void on_selection_changed(GtkTreeSelection* sel, gpointer self);
    static gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static void on_box_destroy(GtkWidget* widget, gpointer self);

    GtkWidget* m_box = nullptr;
    GtkWidget* m_view = nullptr;
    GtkWidget* m_filter_entry = nullptr;
    GtkWidget* m_only_mine = nullptr;
    GtkWidget* m_kill_button = nullptr;
    GtkWidget* m_status = nullptr;
    GtkTreeViewColumn* m_user_column = nullptr;
    GtkTreeViewColumn* m_memory_column = nullptr;
    GtkTreeViewColumn* m_command_column = nullptr;

    GtkListStore* m_store = nullptr;
    GtkTreeModel* m_filter = nullptr;

    Palette m_palette;
    guint m_timer = 0;
    std::map<int, GtkTreeIter> m_rows;
    std::map<int, Proc> m_procs;
    std::vector<int> m_order; // the store's rows, as PIDs in their order
    int m_sort_column = 2;    // a store column: CPU
    GtkSortType m_sort_order = GTK_SORT_DESCENDING;
    std::unordered_map<int, Collated> m_collated; // by PID, for sorting by user or command
    std::string m_needle;
    bool m_mine_only = false;

    unsigned m_uid = 0;
    int64_t m_last_us = 0;
    long m_clk_tck = 100;
    long m_page_size = 0;
    uint64_t m_pass = 0;
    uint64_t m_mem_total = 0;
    bool m_mem_total_read = false;

    // Seams the tests replace: where processes are read, how uids get their names, whether
    // the kernel's process descriptors are used, and what happens between the last check and
    // the signal (where a PID can change hands).
    procs::Source m_source;
    std::function<std::string(unsigned)> m_user_name;
    bool m_use_pidfd = true;
    std::function<void()> m_before_signal;
};
