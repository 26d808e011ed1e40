// The process list on a real X server: load bars, kernel threads, filtering and sorting with
// the selection kept, where the window shows it, and ending real processes of the test.
#include "app_inspector.h"
#include "gui/procview.h"
#include "gui_support.h"
#include "i18n.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <linux/sched.h>
#include <map>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using gui_support::process_events;
using gui_support::wait_until;

struct ProcViewInspector {
    static void sample(ProcessView& v) { v.sample(); }
    static void set_source(ProcessView& v, procs::Source s) { v.m_source = std::move(s); }
    static void set_uid(ProcessView& v, unsigned uid) { v.m_uid = uid; }
    static void use_pidfd(ProcessView& v, bool on) { v.m_use_pidfd = on; }
    static GtkTreeView* view(ProcessView& v) { return GTK_TREE_VIEW(v.m_view); }
    static GtkListStore* store(ProcessView& v) { return v.m_store; }
    static GtkTreeIter row(ProcessView& v, int pid) { return v.m_rows.at(pid); }
    static GtkWidget* entry(ProcessView& v) { return v.m_filter_entry; }
    static GtkWidget* only_mine(ProcessView& v) { return v.m_only_mine; }
    static GtkWidget* end_button(ProcessView& v) { return v.m_kill_button; }
    static std::string status(ProcessView& v) { return gtk_label_get_text(GTK_LABEL(v.m_status)); }
};

namespace {

using PI = ProcViewInspector;

// Calls `visit` with each shown row and its PID, in order, until it returns false.
void walk_rows(ProcessView& v, const std::function<bool(GtkTreeModel*, GtkTreeIter*, int)>& visit) {
    GtkTreeModel* m = gtk_tree_view_get_model(PI::view(v));
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok;
         ok = gtk_tree_model_iter_next(m, &it)) {
        int pid = 0;
        gtk_tree_model_get(m, &it, 0, &pid, -1);
        if (!visit(m, &it, pid)) return;
    }
}

std::vector<int> shown_pids(ProcessView& v) {
    std::vector<int> out;
    walk_rows(v, [&](GtkTreeModel*, GtkTreeIter*, int pid) {
        out.push_back(pid);
        return true;
    });
    return out;
}

// As a click does: the cursor and the selection.
void select_pid(ProcessView& v, int pid) {
    walk_rows(v, [&](GtkTreeModel* m, GtkTreeIter* it, int p) {
        if (p != pid) return true;
        GtkTreePath* path = gtk_tree_model_get_path(m, it);
        gtk_tree_view_set_cursor(PI::view(v), path, nullptr, FALSE);
        gtk_tree_path_free(path);
        return false;
    });
}

std::string atk_name(GtkWidget* w) {
    const char* name = atk_object_get_name(gtk_widget_get_accessible(w));
    return name ? name : "";
}

// Answers message dialogs as they open, in turn, and keeps what each one said.
class DialogAnswers {
public:
    struct Seen {
        std::string text, secondary;
        bool markup = true;
    };
    explicit DialogAnswers(std::deque<int> responses, std::function<void()> before_first = {})
        : m_responses(std::move(responses)), m_before_first(std::move(before_first)) {
        m_source = g_timeout_add(20, tick, this);
    }
    ~DialogAnswers() { g_source_remove(m_source); }
    std::vector<Seen> seen;

private:
    static gboolean tick(gpointer self) {
        auto* a = static_cast<DialogAnswers*>(self);
        GList* windows = gtk_window_list_toplevels();
        for (GList* l = windows; l; l = l->next) {
            GtkWidget* w = GTK_WIDGET(l->data);
            if (!GTK_IS_MESSAGE_DIALOG(w) || !gtk_widget_get_mapped(w) ||
                g_object_get_data(G_OBJECT(w), "answered"))
                continue;
            g_object_set_data(G_OBJECT(w), "answered", w);
            gchar *text = nullptr, *secondary = nullptr;
            gboolean markup = FALSE, secondary_markup = FALSE;
            g_object_get(w, "text", &text, "secondary-text", &secondary, "use-markup", &markup,
                         "secondary-use-markup", &secondary_markup, nullptr);
            a->seen.push_back(
                {text ? text : "", secondary ? secondary : "", markup || secondary_markup});
            g_free(text), g_free(secondary);
            if (a->seen.size() == 1 && a->m_before_first) a->m_before_first();
            int response = GTK_RESPONSE_CANCEL;
            if (!a->m_responses.empty()) {
                response = a->m_responses.front();
                a->m_responses.pop_front();
            }
            gtk_dialog_response(GTK_DIALOG(w), response);
        }
        g_list_free(windows);
        return G_SOURCE_CONTINUE;
    }
    std::deque<int> m_responses;
    std::function<void()> m_before_first;
    guint m_source = 0;
};

// A child of the test that waits to be ended, with a name of its own choosing.
pid_t start_child(const char* name) {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        prctl(PR_SET_NAME, name);
        for (;;)
            pause();
    }
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    EXPECT_TRUE(wait_until([&] {
        return util::read_file_raw(stat).find(std::string("(") + name + ")") != std::string::npos;
    }));
    return pid;
}

// A child under a chosen, free PID, as when the kernel hands out a PID again; needs the right
// to choose PIDs (root). -1 when that is not allowed.
pid_t start_child_as(pid_t pid) {
    pid_t tid = pid;
    struct clone_args args {};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<uint64_t>(&tid);
    args.set_tid_size = 1;
    const long got = syscall(SYS_clone3, &args, sizeof args);
    if (got == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;)
            pause();
    }
    return got == pid ? pid : -1;
}

// How a child ended: the signal, or 0 when it is still running.
int end_signal(pid_t pid) {
    int status = 0;
    if (!wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return 0;
    }
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

class ProcList : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(m_window), 900, 500);
        gtk_container_add(GTK_CONTAINER(m_window), m_view.build(Palette::light()));
        gtk_widget_show_all(m_window);
        process_events(20);
    }
    void TearDown() override {
        gtk_widget_destroy(m_window);
        process_events();
    }
    // Processes made of texts, keyed by PID: name, uid, command line and CPU ticks.
    struct Fake {
        std::string name;
        unsigned uid;
        std::string cmdline;
        uint64_t ticks = 0;
    };
    void use_fake(std::map<int, Fake>& procs) {
        procs::Source s;
        s.list = [&procs] {
            std::vector<int> pids;
            for (const auto& p : procs)
                pids.push_back(p.first);
            return pids;
        };
        s.read = [&procs](int pid, const char* file) -> std::string {
            auto p = procs.find(pid);
            if (p == procs.end()) return "";
            const std::string f = file;
            if (f == "status") return "Uid:\t" + std::to_string(p->second.uid) + "\t0\n";
            if (f == "cmdline") return p->second.cmdline;
            return std::to_string(pid) + " (" + p->second.name + ") S 1 1 1 0 -1 0 0 0 0 0 " +
                   std::to_string(p->second.ticks) + " 0 0 0 20 0 1 0 77 1000 25 0\n";
        };
        PI::set_source(m_view, s);
    }

    GtkWidget* m_window = nullptr;
    ProcessView m_view;
};

} // namespace

TEST(ProcBar, DrawnAboveTheThresholdFromTheLineStart) {
    // Alpha of the pixel at x in the middle row of a 100×20 cell.
    auto alpha_at = [](double fraction, bool selected, bool rtl, int x) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 20);
        cairo_t* cr = cairo_create(s);
        procview::draw_bar(cr, GdkRectangle{0, 0, 100, 20}, fraction, selected, rtl);
        cairo_destroy(cr);
        cairo_surface_flush(s);
        const unsigned char* px =
            cairo_image_surface_get_data(s) + 10 * cairo_image_surface_get_stride(s) + 4 * x;
        const int a = px[3];
        cairo_surface_destroy(s);
        return a;
    };
    EXPECT_EQ(alpha_at(0.003, false, false, 3), 0) << "0.3 % stays without a bar";
    EXPECT_GT(alpha_at(0.005, false, false, 3), 0) << "the bar is at least 3 pixels wide";
    EXPECT_GT(alpha_at(0.5, false, false, 45), 0);
    EXPECT_EQ(alpha_at(0.5, false, false, 55), 0);
    EXPECT_GT(alpha_at(2.5, false, false, 96), 0) << "more than one CPU fills the cell";
    EXPECT_GT(alpha_at(0.5, false, true, 55), 0) << "right to left it grows from the right";
    EXPECT_EQ(alpha_at(0.5, false, true, 45), 0);
    EXPECT_LT(alpha_at(0.5, true, false, 20), alpha_at(0.5, false, false, 20))
        << "fainter on the selection colour";
}

TEST_F(ProcList, CellsFormatSharesAndDimKernelThreads) {
    std::map<int, Fake> procs{{2, {"kthreadd", 0, ""}}, {100, {"vim", 1000, "vim notes"}}};
    use_fake(procs);
    PI::sample(m_view);
    GtkTreeView* view = PI::view(m_view);
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    auto cell_of = [&](int column, int pid) {
        GtkTreeIter child = PI::row(m_view, pid), it;
        gtk_tree_model_filter_convert_child_iter_to_iter(GTK_TREE_MODEL_FILTER(model), &it, &child);
        GtkTreeViewColumn* col = gtk_tree_view_get_column(view, column);
        gtk_tree_view_column_cell_set_cell_data(col, model, &it, FALSE, FALSE);
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(col));
        GObject* cell = G_OBJECT(cells->data);
        g_list_free(cells);
        return cell;
    };

    GtkTreeIter vim = PI::row(m_view, 100);
    gtk_list_store_set(PI::store(m_view), &vim, 2, 0.3, -1);
    util::set_number_format(",", ".");
    gchar* text = nullptr;
    double fraction = 0;
    g_object_get(cell_of(2, 100), "text", &text, "fraction", &fraction, nullptr);
    util::set_number_format(".", ",");
    EXPECT_STREQ(text, "0,3");
    EXPECT_DOUBLE_EQ(fraction, 0.003);
    g_free(text);

    for (const Palette& palette : {Palette::light(), Palette::dark_()}) {
        m_view.set_palette(palette);
        GdkRGBA dim{}, *fg = nullptr;
        gdk_rgba_parse(&dim, palette.dim.c_str());
        PangoStyle style = PANGO_STYLE_NORMAL;
        gboolean colored = FALSE;
        g_object_get(cell_of(4, 2), "text", &text, "style", &style, "foreground-rgba", &fg,
                     "foreground-set", &colored, nullptr);
        EXPECT_STREQ(text, "[kthreadd]");
        EXPECT_EQ(style, PANGO_STYLE_ITALIC);
        EXPECT_TRUE(colored && fg && gdk_rgba_equal(fg, &dim)) << palette.dim;
        g_free(text), gdk_rgba_free(fg);
        g_object_get(cell_of(4, 100), "style", &style, "foreground-set", &colored, nullptr);
        EXPECT_EQ(style, PANGO_STYLE_NORMAL);
        EXPECT_FALSE(colored);
    }
}

TEST_F(ProcList, FilterAndSortKeepTheSelectedRow) {
    std::map<int, Fake> procs{{10, {"bash", 1000, "/bin/bash"}},
                              {11, {"sshd", 0, "sshd: /usr/sbin/sshd"}},
                              {12, {"GeckoMain", 1000, "/usr/lib/firefox/firefox"}}};
    use_fake(procs);
    PI::set_uid(m_view, 1000);
    PI::sample(m_view);
    EXPECT_EQ(shown_pids(m_view), (std::vector<int>{10, 11, 12})) << "idle: by PID";
    EXPECT_FALSE(gtk_widget_get_sensitive(PI::end_button(m_view)));
    select_pid(m_view, 11);
    EXPECT_TRUE(gtk_widget_get_sensitive(PI::end_button(m_view)));

    // Busiest first; the selection follows its process, not its place.
    process_events(20);
    procs[12].ticks = 100, procs[11].ticks = 50;
    PI::sample(m_view);
    EXPECT_EQ(shown_pids(m_view), (std::vector<int>{12, 11, 10}));
    EXPECT_EQ(m_view.selected_pid(), 11);

    gtk_entry_set_text(GTK_ENTRY(PI::entry(m_view)), "FIREFOX");
    EXPECT_TRUE(wait_until([&] { return PI::status(m_view) == "1 of 3 processes"; }));
    EXPECT_EQ(shown_pids(m_view), std::vector<int>{12});
    gtk_entry_set_text(GTK_ENTRY(PI::entry(m_view)), "");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(PI::only_mine(m_view)), TRUE);
    EXPECT_TRUE(wait_until([&] { return PI::status(m_view) == "2 of 3 processes"; }));
    EXPECT_EQ(shown_pids(m_view), (std::vector<int>{12, 10}));
    EXPECT_FALSE(gtk_widget_get_sensitive(PI::end_button(m_view))) << "its row is hidden";

    GtkTreeViewColumn* pid_column = gtk_tree_view_get_column(PI::view(m_view), 0);
    gtk_tree_view_column_clicked(pid_column);
    EXPECT_EQ(shown_pids(m_view), (std::vector<int>{10, 12}));
    gtk_tree_view_column_clicked(pid_column);
    EXPECT_EQ(shown_pids(m_view), (std::vector<int>{12, 10}));
    EXPECT_EQ(gtk_tree_view_column_get_sort_order(pid_column), GTK_SORT_DESCENDING);

    // When the chosen process ends, nothing is chosen in its place.
    select_pid(m_view, 10);
    procs.erase(10);
    PI::sample(m_view);
    EXPECT_EQ(PI::status(m_view), "1 of 2 processes");
    EXPECT_EQ(m_view.selected_pid(), 0);

    // Buttons are named by their labels; the entry and the list need names of their own.
    EXPECT_EQ(atk_name(PI::entry(m_view)), "Filter processes…");
    EXPECT_EQ(atk_name(GTK_WIDGET(PI::view(m_view))), "Processes");
}

// Ending a child of the test: the names in the dialog are the process's own text, never a
// format or markup, and the signal reaches it with and without process descriptors.
TEST_F(ProcList, EndsOwnProcessAfterAsking) {
    for (bool pidfd : {true, false}) {
        PI::use_pidfd(m_view, pidfd);
        const pid_t child = start_child("a) %s %n <b>");
        PI::sample(m_view);
        select_pid(m_view, child);
        ASSERT_EQ(m_view.selected_pid(), child);
        DialogAnswers answers({GTK_RESPONSE_ACCEPT});
        m_view.kill_selected();
        EXPECT_EQ(end_signal(child), SIGTERM) << "pidfd " << pidfd;
        ASSERT_EQ(answers.seen.size(), 1u) << "no error afterwards";
        EXPECT_EQ(answers.seen[0].text,
                  "End \u201c\u2068a) %s %n <b>\u2069\u201d (PID " + std::to_string(child) + ")?");
        EXPECT_FALSE(answers.seen[0].secondary.empty()) << "the command line";
        EXPECT_FALSE(answers.seen[0].markup);
    }
}

// The process the user chose ends before or while the dialog asks; its PID may even be taken
// over by a new process, which must then be left alone.
TEST_F(ProcList, ReportsAProcessThatEndedMeanwhile) {
    const struct {
        const char* what;
        bool while_asking, pid_taken, pidfd;
    } cases[] = {{"before asking", false, false, true},
                 {"while asking", true, false, true},
                 {"PID taken over, with a descriptor", true, true, true},
                 {"PID taken over, without one", true, true, false}};
    for (const auto& c : cases) {
        PI::use_pidfd(m_view, c.pidfd);
        const pid_t child = start_child("short-lived");
        PI::sample(m_view);
        select_pid(m_view, child);
        pid_t successor = -1;
        auto end_child = [&] {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            if (c.pid_taken) successor = start_child_as(child);
        };
        if (!c.while_asking) end_child();
        DialogAnswers answers({GTK_RESPONSE_ACCEPT, GTK_RESPONSE_CLOSE},
                              c.while_asking ? std::function<void()>(end_child) : nullptr);
        m_view.kill_selected();
        ASSERT_EQ(answers.seen.size(), c.while_asking ? 2u : 1u) << c.what;
        EXPECT_EQ(answers.seen.back().text, "The process could not be ended.") << c.what;
        EXPECT_EQ(answers.seen.back().secondary, "The process has already ended.") << c.what;
        if (c.pid_taken && successor < 0)
            std::printf("  (%s: this test may not choose PIDs, not checked)\n", c.what);
        if (successor > 0) {
            EXPECT_EQ(kill(successor, 0), 0) << c.what << ": the new process must live on";
            kill(successor, SIGKILL);
            waitpid(successor, nullptr, 0);
        }
    }
}

// Another user's process goes through the elevation tool, here a stand-in that runs the
// command it is given and notes it.
TEST_F(ProcList, EndsAnotherUsersProcessThroughTheElevationTool) {
    char dir[] = "/tmp/quarvel-pkexec-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string tool = std::string(dir) + "/pkexec", noted = std::string(dir) + "/args";
    std::ofstream(tool) << "#!/bin/sh\necho \"$1 $2\" > '" << noted << "'\nexec \"$@\"\n";
    chmod(tool.c_str(), 0755);
    const std::string old_path = std::getenv("PATH");
    setenv("PATH", (std::string(dir) + ":" + old_path).c_str(), 1);

    const pid_t child = start_child("theirs");
    PI::set_uid(m_view, getuid() + 1);
    PI::sample(m_view);
    select_pid(m_view, child);
    DialogAnswers answers({GTK_RESPONSE_ACCEPT});
    m_view.kill_selected();
    EXPECT_EQ(end_signal(child), SIGTERM);
    EXPECT_EQ(answers.seen.size(), 1u);
    std::ifstream in(noted);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "/bin/sh -c");

    setenv("PATH", old_path.c_str(), 1);
    std::filesystem::remove_all(dir);
}

TEST(ProcWindow, ShownAndSampledOnlyForTheToolsNodes) {
    App app;
    AppInspector::start(app, [] {
        auto root = gui_support::sample_machine();
        hw::Node* tools = root->add_child("tools", "Tools", "\U0001F527");
        tools->add_child("tools.processes", "Processes", "\u25B6");
        return root;
    });
    ASSERT_TRUE(wait_until([&] { return gtk_widget_get_mapped(AppInspector::window(app)); }));
    ProcessView& view = AppInspector::procview(app);
    ASSERT_TRUE(app.select_node_id("tools.processes"));
    EXPECT_TRUE(view.running());
    EXPECT_TRUE(gtk_widget_get_visible(AppInspector::proc_box(app)));
    EXPECT_FALSE(gtk_widget_get_visible(AppInspector::detail_scroll(app)));
    EXPECT_TRUE(wait_until([&] { return !shown_pids(view).empty(); }));
    ASSERT_TRUE(app.select_node_id("system"));
    EXPECT_FALSE(view.running());
    EXPECT_FALSE(gtk_widget_get_visible(AppInspector::proc_box(app)));
}
