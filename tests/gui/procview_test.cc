// The process list on a real X server: load bars, kernel threads, filtering and sorting with
// the selection kept, where the window shows it, and ending real processes of the test.
#include "../proc_fake.h"
#include "app_inspector.h"
#include "gui/procview.h"
#include "gui_support.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <linux/sched.h>
#include <map>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using gui_support::wait_until;

struct ProcViewInspector {
    static void sample(ProcessView& v) { v.sample(); }
    static void set_source(ProcessView& v, procs::Source s) { v.m_source = std::move(s); }
    static void set_uid(ProcessView& v, unsigned uid) { v.m_uid = uid; }
    static void use_pidfd(ProcessView& v, bool on) { v.m_use_pidfd = on; }
    static void before_signal(ProcessView& v, std::function<void()> f) { v.m_before_signal = f; }
    static GtkTreeView* view(ProcessView& v) { return GTK_TREE_VIEW(v.m_view); }
    static GtkTreeIter row(ProcessView& v, int pid) { return v.m_rows.at(pid); }
    static GtkListStore* store(ProcessView& v) { return v.m_store; }
    static GtkWidget* entry(ProcessView& v) { return v.m_filter_entry; }
    static GtkWidget* only_mine(ProcessView& v) { return v.m_only_mine; }
    static GtkWidget* end_button(ProcessView& v) { return v.m_kill_button; }
    static std::string status(ProcessView& v) { return gtk_label_get_text(GTK_LABEL(v.m_status)); }
};

namespace {

using PI = ProcViewInspector;

// The shown rows' PIDs in order; with `select`, puts the cursor on that PID's row, as a click.
std::vector<int> rows(ProcessView& v, int select = 0) {
    std::vector<int> out;
    GtkTreeModel* m = gtk_tree_view_get_model(PI::view(v));
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok;
         ok = gtk_tree_model_iter_next(m, &it)) {
        int pid = 0;
        gtk_tree_model_get(m, &it, 0, &pid, -1);
        out.push_back(pid);
        if (pid != select) continue;
        GtkTreePath* path = gtk_tree_model_get_path(m, &it);
        gtk_tree_view_set_cursor(PI::view(v), path, nullptr, FALSE);
        gtk_tree_path_free(path);
    }
    return out;
}

// A child of the test that waits to be ended: with its own name, or under a chosen free PID
// as when the kernel hands a PID out again (root only; -1 when not allowed).
// `user`: the child runs as that user (only when the test runs as root).
pid_t start_child(const char* name, pid_t as = 0, uid_t user = 0) {
    pid_t tid = as;
    struct clone_args args {};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<uint64_t>(&tid);
    args.set_tid_size = 1;
    const pid_t pid = as ? static_cast<pid_t>(syscall(SYS_clone3, &args, sizeof args)) : fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (user && setresuid(user, user, user) != 0) _exit(1);
        prctl(PR_SET_PDEATHSIG, SIGKILL); // after the change of user, which clears it
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

// How a child ended: by which signal, or 0 when it still runs (it is then ended here).
int end_signal(pid_t pid, int wait_ms = 3000) {
    int status = 0;
    if (wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, wait_ms))
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return 0;
}

using ProcWindow = gui_support::WindowTest;

class ProcList : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_container_add(GTK_CONTAINER(m_window), m_view.build(Palette::light()));
        gtk_widget_show_all(m_window);
    }
    void TearDown() override { gtk_widget_destroy(m_window); }

    void use(std::map<int, FakeProc>& procs) { PI::set_source(m_view, fake_source(procs)); }

    GtkWidget* m_window = nullptr;
    ProcessView m_view;
};

} // namespace

TEST(ProcBar, DrawnAboveTheThresholdFromTheLineStart) {
    // Alpha at x in the middle row of a 100×20 cell.
    auto alpha = [](double fraction, bool selected, bool rtl, int x) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 20);
        cairo_t* cr = cairo_create(s);
        procview::draw_bar(cr, GdkRectangle{0, 0, 100, 20}, fraction, selected, rtl);
        cairo_destroy(cr);
        const int a =
            cairo_image_surface_get_data(s)[10 * cairo_image_surface_get_stride(s) + 4 * x + 3];
        cairo_surface_destroy(s);
        return a;
    };
    EXPECT_EQ(alpha(0.003, false, false, 3), 0) << "0.3 % stays without a bar";
    EXPECT_GT(alpha(0.005, false, false, 3), 0) << "at least 3 pixels wide";
    EXPECT_GT(alpha(0.5, false, false, 45), 0);
    EXPECT_EQ(alpha(0.5, false, false, 55), 0);
    EXPECT_GT(alpha(2.5, false, false, 96), 0) << "beyond one CPU the cell is full";
    EXPECT_GT(alpha(0.5, false, true, 55), 0) << "right to left it grows from the right";
    EXPECT_EQ(alpha(0.5, false, true, 45), 0);
    EXPECT_LT(alpha(0.5, true, false, 20), alpha(0.5, false, false, 20)) << "fainter selected";
}

TEST_F(ProcList, CellsFormatSharesAndDimKernelThreads) {
    std::map<int, FakeProc> procs{{2, {"kthreadd", 0, ""}},
                                  {100, {"vim", 1000, "vim notes"}},
                                  {101, {"sleep", 0, "[kworker/0:1]"}}};
    procs[2].kernel = true;
    use(procs);
    PI::sample(m_view);
    GtkTreeView* view = PI::view(m_view);
    auto cell = [&](int column, int pid) {
        GtkTreeModel* model = gtk_tree_view_get_model(view);
        GtkTreeIter child = PI::row(m_view, pid), it;
        gtk_tree_model_filter_convert_child_iter_to_iter(GTK_TREE_MODEL_FILTER(model), &it, &child);
        GtkTreeViewColumn* col = gtk_tree_view_get_column(view, column);
        gtk_tree_view_column_cell_set_cell_data(col, model, &it, FALSE, FALSE);
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(col));
        GObject* c = G_OBJECT(cells->data);
        g_list_free(cells);
        return c;
    };
    GtkTreeIter vim = PI::row(m_view, 100);
    gtk_list_store_set(PI::store(m_view), &vim, 2, 0.3, -1);
    util::set_number_format(",", ".");
    gchar* text = nullptr;
    double fraction = 0;
    g_object_get(cell(2, 100), "text", &text, "fraction", &fraction, nullptr);
    util::set_number_format(".", ",");
    EXPECT_STREQ(text, "0,3");
    EXPECT_DOUBLE_EQ(fraction, 0.003);
    g_free(text);

    // Built with the light palette; the dim colour follows a new one.
    const Palette dark = Palette::dark_();
    m_view.set_palette(dark);
    GdkRGBA dim{}, *fg = nullptr;
    gdk_rgba_parse(&dim, dark.dim.c_str());
    PangoStyle style = PANGO_STYLE_NORMAL;
    gboolean colored = FALSE;
    g_object_get(cell(4, 2), "text", &text, "style", &style, "foreground-rgba", &fg,
                 "foreground-set", &colored, nullptr);
    EXPECT_STREQ(text, "[kthreadd]");
    EXPECT_EQ(style, PANGO_STYLE_ITALIC);
    EXPECT_TRUE(colored && fg && gdk_rgba_equal(fg, &dim));
    g_free(text), gdk_rgba_free(fg);
    // A program named like a kernel thread is shown as the program it is.
    for (int pid : {100, 101}) {
        g_object_get(cell(4, pid), "style", &style, "foreground-set", &colored, nullptr);
        EXPECT_TRUE(style == PANGO_STYLE_NORMAL && !colored) << pid;
    }
}

TEST_F(ProcList, StatusCountsInTheLanguagesDigitGroups) {
    std::map<int, FakeProc> procs;
    for (int pid = 1; pid <= 1200; ++pid)
        procs[pid] = {"sh", 1000, "sh"};
    use(procs);
    PI::sample(m_view);
    EXPECT_EQ(PI::status(m_view), "1,200 of 1,200 processes");
}

TEST_F(ProcList, FilterAndSortKeepTheSelectedRow) {
    std::map<int, FakeProc> procs{{10, {"bash", 1000, "/bin/bash"}},
                                  {11, {"sshd", 0, "sshd: /usr/sbin/sshd"}},
                                  {12, {"GeckoMain", 1000, "/usr/lib/firefox/firefox"}}};
    use(procs);
    PI::set_uid(m_view, 1000);
    PI::sample(m_view);
    EXPECT_EQ(rows(m_view, 11), (std::vector<int>{10, 11, 12})) << "idle: by PID";
    EXPECT_TRUE(gtk_widget_get_sensitive(PI::end_button(m_view)));

    // Busiest first; the selection follows its process, not its place.
    procs[12].ticks = 100, procs[11].ticks = 50;
    g_usleep(static_cast<gulong>(procs::min_interval_s * 1e6) + 1000);
    PI::sample(m_view);
    EXPECT_EQ(rows(m_view), (std::vector<int>{12, 11, 10}));
    EXPECT_EQ(m_view.selected_pid(), 11);

    gtk_entry_set_text(GTK_ENTRY(PI::entry(m_view)), "FIREFOX");
    EXPECT_TRUE(wait_until([&] { return PI::status(m_view) == "1 of 3 processes"; }));
    EXPECT_EQ(rows(m_view), std::vector<int>{12});
    gtk_entry_set_text(GTK_ENTRY(PI::entry(m_view)), "");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(PI::only_mine(m_view)), TRUE);
    EXPECT_TRUE(wait_until([&] { return PI::status(m_view) == "2 of 3 processes"; }));
    EXPECT_EQ(rows(m_view), (std::vector<int>{12, 10}));
    EXPECT_FALSE(gtk_widget_get_sensitive(PI::end_button(m_view))) << "its row is hidden";

    GtkTreeViewColumn* pid_column = gtk_tree_view_get_column(PI::view(m_view), 0);
    gtk_tree_view_column_clicked(pid_column);
    EXPECT_EQ(rows(m_view), (std::vector<int>{10, 12}));
    gtk_tree_view_column_clicked(pid_column);
    EXPECT_EQ(rows(m_view, 10), (std::vector<int>{12, 10}));

    // When the chosen process ends, nothing is chosen in its place.
    procs.erase(10);
    PI::sample(m_view);
    EXPECT_EQ(PI::status(m_view), "1 of 2 processes");
    EXPECT_EQ(m_view.selected_pid(), 0);

    // A captured tree's PIDs are another machine's: nothing here may be signalled for them.
    setenv("QUARVEL_SYSROOT", "/nonexistent", 1);
    rows(m_view, 12);
    EXPECT_FALSE(gtk_widget_get_sensitive(PI::end_button(m_view)));
    unsetenv("QUARVEL_SYSROOT");

    // Buttons are named by their labels; the entry and the list need names of their own.
    AtkObject* entry = gtk_widget_get_accessible(PI::entry(m_view));
    AtkObject* list = gtk_widget_get_accessible(GTK_WIDGET(PI::view(m_view)));
    EXPECT_STREQ(atk_object_get_name(entry), "Filter processes…");
    EXPECT_STREQ(atk_object_get_name(list), "Processes");
    // The icon that empties the entry comes with its text, and again after it was emptied; it
    // is read by words, not by the icon's file name.
    for (const char* text : {"x", "", "y"})
        gtk_entry_set_text(GTK_ENTRY(PI::entry(m_view)), text);
    std::vector<std::string> icons;
    for (int i = 0; i < atk_object_get_n_accessible_children(entry); ++i) {
        AtkObject* icon = atk_object_ref_accessible_child(entry, i);
        if (atk_object_get_role(icon) == ATK_ROLE_ICON && ATK_IS_ACTION(icon) &&
            atk_action_get_n_actions(ATK_ACTION(icon)) > 0)
            icons.push_back(atk_object_get_name(icon) ? atk_object_get_name(icon) : "");
        g_object_unref(icon);
    }
    EXPECT_EQ(icons, std::vector<std::string>{"Clear search"});
}

// Ending children of the test. Names reach the dialog as text, never as a format or markup;
// another user's process goes through the elevation tool (a stand-in that runs the command
// and notes it); a process that ended, even one whose PID was taken over, is reported and
// nothing else is signalled.
TEST_F(ProcList, EndingAProcess) {
    const testing_support::TempDir dir;
    const std::string noted = dir.path() + "/args";
    gui_support::write_script(dir.path() + "/pkexec",
                              "echo \"$1 $2\" > '" + noted + "'\nexec \"$@\"");
    const testing_support::ScopedEnv path("PATH", dir.path() + ":" + std::getenv("PATH"));

    enum class Ends { no, before_asking, while_asking, pid_taken, before_signal };
    const struct {
        const char* what;
        bool own, pidfd; // own: signalled by the window itself
        Ends ends;
        bool admin = false; // the window runs as root, the process as another user
    } cases[] = {{"own", true, true, Ends::no},
                 {"another user's, as the administrator", true, true, Ends::no, true},
                 {"own, without descriptors", true, false, Ends::no},
                 {"another user's", false, false, Ends::no},
                 {"ended before asking", true, true, Ends::before_asking},
                 {"ended while asking", true, true, Ends::while_asking},
                 {"PID taken over", true, true, Ends::pid_taken},
                 {"PID taken over, without descriptors", true, false, Ends::pid_taken},
                 {"PID taken over after the last check", true, true, Ends::before_signal}};
    for (const auto& c : cases) {
        std::filesystem::remove(noted);
        PI::use_pidfd(m_view, c.pidfd);
        if (c.admin && geteuid() != 0) {
            std::printf("  (%s: needs root, not checked)\n", c.what);
            continue;
        }
        PI::set_uid(m_view, c.admin ? 0 : c.own ? getuid() : getuid() + 1);
        const pid_t child = start_child("a) %s %n <b>", 0, c.admin ? 65534 : 0);
        PI::sample(m_view);
        rows(m_view, child);
        pid_t successor = 0;
        std::function<void()> end_child = [&] {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            if (c.ends >= Ends::pid_taken) successor = start_child("successor", child);
        };
        if (c.ends == Ends::before_asking) end_child();
        // Each message dialog in turn: its texts are kept, then it is answered.
        std::vector<std::pair<std::string, std::string>> seen; // text, secondary text
        bool markup = false;
        auto answer = [&](int response, std::function<void()> meanwhile = nullptr) {
            return [&, response, meanwhile](GtkWindow* d) {
                gchar *text = nullptr, *secondary = nullptr;
                gboolean m1 = FALSE, m2 = FALSE;
                g_object_get(d, "text", &text, "secondary-text", &secondary, "use-markup", &m1,
                             "secondary-use-markup", &m2, nullptr);
                seen.emplace_back(text ? text : "", secondary ? secondary : "");
                // Screen readers read the box by this name, in the window's language.
                EXPECT_STREQ(gtk_window_get_title(d), "End process") << c.what;
                EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(GTK_WIDGET(d))),
                             "End process")
                    << c.what;
                markup = markup || m1 || m2;
                g_free(text), g_free(secondary);
                if (meanwhile) meanwhile();
                gui_support::respond(d, response);
            };
        };
        std::vector<gui_support::DialogStep> steps;
        const bool during = c.ends == Ends::while_asking || c.ends == Ends::pid_taken;
        if (c.ends != Ends::before_asking)
            steps.push_back(answer(GTK_RESPONSE_ACCEPT, during ? end_child : nullptr));
        if (c.ends != Ends::no) steps.push_back(answer(GTK_RESPONSE_CLOSE));
        if (c.ends == Ends::before_signal) PI::before_signal(m_view, end_child);
        gui_support::answer_dialogs([&] { m_view.kill_selected(); }, steps);
        PI::before_signal(m_view, nullptr);

        EXPECT_FALSE(markup) << c.what;
        if (c.ends == Ends::no) {
            EXPECT_EQ(end_signal(child), SIGTERM) << c.what;
            ASSERT_EQ(seen.size(), 1u) << c.what << ": asked, no error";
            EXPECT_EQ(seen[0].first, "End \u201c\u2068a) %s %n <b>\u2069\u201d (PID " +
                                         std::to_string(child) + ")?");
            EXPECT_FALSE(seen[0].second.empty()) << "the command line";
            std::string line;
            std::getline(std::ifstream(noted), line);
            EXPECT_EQ(line, c.own ? "" : "/bin/sh -c") << c.what;
            continue;
        }
        ASSERT_EQ(seen.size(), c.ends == Ends::before_asking ? 1u : 2u) << c.what;
        EXPECT_EQ(seen.back().first, "The process could not be ended.") << c.what;
        EXPECT_EQ(seen.back().second, "The process has already ended.") << c.what;
        if (successor > 0)
            EXPECT_EQ(end_signal(successor, 200), 0) << c.what << ": the new process lives on";
        else if (c.ends >= Ends::pid_taken)
            std::printf("  (%s: the test may not choose PIDs, not checked)\n", c.what);
    }
}

// The Tools branch the window adds on every refresh: each of its rows shows the list and
// samples it, also as the stored start view; any other node stops it.
TEST_F(ProcWindow, ShownAndSampledOnlyForTheToolsNodes) {
    SettingsStore::instance().mutable_get().start_view = "tools";
    App& app = open();
    ProcessView& view = AppInspector::procview(app);
    auto expect_list = [&](const std::string& id) {
        EXPECT_EQ(AppInspector::selected_id(app), id);
        EXPECT_TRUE(view.running()) << id;
        EXPECT_TRUE(gtk_widget_get_visible(AppInspector::proc_box(app))) << id;
        EXPECT_FALSE(gtk_widget_get_visible(AppInspector::detail_scroll(app))) << id;
        EXPECT_FALSE(rows(view).empty()) << id;
    };
    expect_list("tools");
    for (const char* id : {"tools.processes", "tools.terminal"}) {
        ASSERT_TRUE(app.select_node_id(id));
        expect_list(id);
    }
    ASSERT_TRUE(app.select_node_id("system"));
    EXPECT_FALSE(view.running());
    EXPECT_FALSE(gtk_widget_get_visible(AppInspector::proc_box(app)));
}

// Minimised, the list is not read; restored, it is read again only if it is what the window
// shows.
TEST_F(ProcWindow, NotSampledWhileIconified) {
    SettingsStore::instance().mutable_get().start_view = "tools";
    App& app = open();
    ProcessView& view = AppInspector::procview(app);
    auto iconify = [&](bool on) {
        GdkEventWindowState event{};
        event.type = GDK_WINDOW_STATE;
        event.window = gtk_widget_get_window(AppInspector::window(app));
        event.changed_mask = GDK_WINDOW_STATE_ICONIFIED;
        event.new_window_state = on ? GDK_WINDOW_STATE_ICONIFIED : GdkWindowState{};
        gboolean handled = FALSE;
        g_signal_emit_by_name(AppInspector::window(app), "window-state-event", &event, &handled);
    };
    ASSERT_TRUE(view.running());
    iconify(true);
    EXPECT_FALSE(view.running());
    ASSERT_TRUE(app.select_node_id("tools.processes"));
    EXPECT_FALSE(view.running()) << "a node chosen while minimised";
    iconify(false);
    EXPECT_TRUE(view.running());
    ASSERT_TRUE(app.select_node_id("system"));
    iconify(true);
    iconify(false);
    EXPECT_FALSE(view.running()) << "restored over a node without the list";
}

// Escape in the filter: the first press empties it and shows every process again, the next
// goes back to the list.
TEST_F(ProcWindow, EscapeEmptiesTheFilterThenLeavesIt) {
    SettingsStore::instance().mutable_get().start_view = "tools";
    App& app = open();
    ProcessView& view = AppInspector::procview(app);
    GtkWidget* window = AppInspector::window(app);
    GtkWidget* entry = PI::entry(view);
    gtk_widget_grab_focus(entry);
    gtk_entry_set_text(GTK_ENTRY(entry), "no process is called this");
    ASSERT_TRUE(wait_until([&] { return rows(view).empty(); }));
    gui_support::press_key(window, GDK_KEY_Escape);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "");
    EXPECT_TRUE(wait_until([&] { return !rows(view).empty(); }));
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window)), entry);
    gui_support::press_key(window, GDK_KEY_Escape);
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window)), GTK_WIDGET(PI::view(view)));
}

// In French the bar above the list shows its words whole in a window of the usual size; at 1.5
// times the text size it shortens them rather than widening the window past an 800-pixel screen.
TEST_F(ProcWindow, BarFitsASmallScreenAtLargeText) {
    Settings& s = SettingsStore::instance().mutable_get();
    s.start_view = "tools", s.language = "fr", s.window_width = 1024, s.window_height = 768;
    App& app = open();
    ProcessView& view = AppInspector::procview(app);
    for (GtkWidget* button : {PI::only_mine(view), PI::end_button(view)}) {
        GtkLabel* label = GTK_LABEL(gtk_bin_get_child(GTK_BIN(button)));
        EXPECT_FALSE(pango_layout_is_ellipsized(gtk_label_get_layout(label)))
            << gtk_label_get_text(label);
    }
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-xft-dpi", 144 * 1024, nullptr);
    gui_support::process_events(50);
    int least = 0;
    gtk_widget_get_preferred_width(AppInspector::window(app), &least, nullptr);
    gtk_settings_reset_property(settings, "gtk-xft-dpi");
    EXPECT_LE(least, 800);
}
