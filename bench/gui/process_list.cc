// How the process list keeps up with many processes: 5,000 made-up processes (no /proc
// reading, so only the list's own work is timed) are sampled into the list sorted by CPU,
// then passes in which a share of them change their CPU time re-sort the rows in place; each
// figure includes drawing the window afterwards. Needs an X server (DISPLAY), e.g. Xvfb.
//
// usage: build/bench_gui_process_list [PROCESSES] [PASSES]   (default 5000 and 10)
//
// Compare figures within one run: the machine is shared.
#include "gui/procview.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

// The benchmark's own way inside the view (the tests have theirs).
struct ProcViewInspector {
    static void set_source(ProcessView& v, procs::Source s) { v.m_source = std::move(s); }
    static void sample(ProcessView& v) { v.sample(); }
    static GtkWidget* view(ProcessView& v) { return v.m_view; }
};

namespace {

struct Fake {
    std::map<int, uint64_t> ticks;
};

std::string stat_line(int pid, uint64_t ticks) {
    return std::to_string(pid) + " (worker-" + std::to_string(pid) + ") S 1 1 1 0 -1 0 0 0 0 0 " +
           std::to_string(ticks) + " 0 0 0 20 0 1 0 " + std::to_string(1000 + pid) + " 1000000 " +
           std::to_string(pid % 997) + " 0 0 0 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0";
}

double ms_since(gint64 t0) {
    return static_cast<double>(g_get_monotonic_time() - t0) / 1000.0;
}

// Samples, then lets the window lay out and draw what changed.
double timed_pass(ProcessView& view) {
    const gint64 t0 = g_get_monotonic_time();
    ProcViewInspector::sample(view);
    while (gtk_events_pending())
        gtk_main_iteration();
    gdk_display_sync(gdk_display_get_default());
    return ms_since(t0);
}

void print(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("  %-44s min %7.1f  median %7.1f  max %7.1f ms\n", what, v.front(), v[v.size() / 2],
                v.back());
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int passes = argc > 2 ? std::max(std::atoi(argv[2]), 1) : 10;
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "bench_gui_process_list: needs an X server (DISPLAY)\n");
        return 1;
    }
    Fake fake;
    for (int pid = 1; pid <= count; ++pid)
        fake.ticks[pid] = 0;
    procs::Source source;
    source.list = [&] {
        std::vector<int> pids;
        for (const auto& entry : fake.ticks)
            pids.push_back(entry.first);
        return pids;
    };
    source.read = [&](int pid, const char* file) -> std::string {
        const std::string f = file;
        if (f == "stat") return stat_line(pid, fake.ticks[pid]);
        if (f == "status") return "Name:\tx\nUid:\t" + std::to_string(1000 + pid % 3) + "\t0\n";
        return std::string("/usr/bin/worker\0--id\0", 21) + std::to_string(pid);
    };

    ProcessView view;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1000, 700);
    gtk_container_add(GTK_CONTAINER(window), view.build(Palette::light()));
    ProcViewInspector::set_source(view, source);
    gtk_widget_show_all(window);
    while (gtk_events_pending())
        gtk_main_iteration();

    std::printf("process_list: %d processes, sorted by CPU\n", count);
    print("first sample (every row inserted)", {timed_pass(view)});

    std::mt19937 rng(7);
    for (int share : {1, 10, 50, 100}) {
        std::vector<double> times;
        for (int i = 0; i < passes; ++i) {
            for (auto& entry : fake.ticks)
                if (static_cast<int>(rng() % 100) < share) entry.second += 1 + rng() % 50;
            times.push_back(timed_pass(view));
        }
        const std::string what = "pass, " + std::to_string(share) + " % of processes busy";
        print(what.c_str(), times);
    }

    // The user clicks another column's header and back.
    GtkTreeView* tree = GTK_TREE_VIEW(ProcViewInspector::view(view));
    std::vector<double> resorts;
    for (int i = 0; i < passes; ++i) {
        for (int column : {4, 2}) {
            const gint64 t0 = g_get_monotonic_time();
            gtk_tree_view_column_clicked(gtk_tree_view_get_column(tree, column));
            while (gtk_events_pending())
                gtk_main_iteration();
            resorts.push_back(ms_since(t0));
        }
    }
    print("re-sort by command / by CPU", resorts);
    gtk_widget_destroy(window);
    return 0;
}
