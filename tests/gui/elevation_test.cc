// Reading the protected facts through fake pkexec and sudo programs on the search path: what
// each outcome says, which tool runs after which, and the rows it unlocks.
#include "app_inspector.h"
#include "gui_support.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "smbios_encoder.h"
#include "test_support.h"
#include "util.h"

#include <csignal>
#include <filesystem>
#include <fstream>

using namespace gui_support;

namespace {

using I = AppInspector;

class Elevation : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        g_setenv("PATH", m_tmp.c_str(), TRUE); // the fakes only: never the machine's own tools
        hw::RootData facts;                    // as the elevated copy prints them
        facts.product_serial = "SN|4711";
        facts.memory = {{"DIMM A", "BANK 0", 16ull << 30, "DDR5", "SODIMM", "5600 MT/s",
                         "5600 MT/s", "Samsung", "M425R2GA3BB0", "0x1", "", "1", "64 bit", "64 bit",
                         "1.1 V"},
                        {"DIMM B", "BANK 1", 0, "", "", "", "", "", "", "", "", "", "", "", ""}};
        std::ofstream(m_tmp + "/exchange.txt") << facts.serialize();
        m_facts = "/bin/cat '" + m_tmp + "/exchange.txt'";
    }
    // A fake tool that notes its arguments, then runs `body`; null: the tool is missing.
    void fake(const char* name, const char* body) {
        const std::string path = m_tmp + "/" + name;
        std::filesystem::remove(path);
        std::filesystem::remove(path + ".args");
        if (body) write_script(path, "printf '%s\\n' \"$*\" > '" + path + ".args'\n" + body);
    }
    std::string args_of(const char* name) { return read_whole_file(m_tmp + "/" + name + ".args"); }
    std::string m_facts;
};

} // namespace

TEST_F(Elevation, EachOutcomeSaysWhatHappenedAndACancelStopsThere) {
    App& app = open();
    const char* facts = m_facts.c_str();
    const std::string failed = tr("status.elevate_failed");
    const std::string unreadable = failed + ": " + tr("status.elevate_unreadable");
    const std::string killed = m_facts + "\nkill -KILL $$";
    const struct {
        const char* pkexec; // null: not installed
        const char* sudo;
        std::string status;
        bool sudo_runs;
    } cases[] = {
        {facts, facts, tr("status.elevated"), false},
        {"exit 126", facts, tr("status.elevate_cancelled"), false},
        {"echo 'Error executing command as another user: Not authorized' >&2\nexit 127", facts,
         failed + ": Error executing command as another user: Not authorized", false},
        {"echo 'boom\n  again' >&2\nexit 1", facts, failed + ": boom again", false},
        // The helper ran and could not read the table: its own error, no second tool.
        {"printf 'V 1\\nE SMBIOS table not readable\\nD product_serial|\\n'\nexit 1", facts,
         failed + ": SMBIOS table not readable", false},
        // Stopped after printing: what it printed may be cut short.
        {killed.c_str(), facts, failed + ": " + I18n::trf("status.elevate_signal", 9, "SIGKILL"),
         false},
        {"kill -SEGV $$", facts, failed + ": " + I18n::trf("status.elevate_signal", 11, "SIGSEGV"),
         false},
        {"exit 1", facts, tr("status.elevated"), true}, // silent: sudo is tried
        {"exit 0", nullptr, unreadable, false},
        {"echo '<html>not the answer</html>'", facts, tr("status.elevated"), true},
        // Endless output is cut off, not read into memory until the system gives out.
        {"exec /usr/bin/yes 'V 1'", facts, unreadable, false},
        {nullptr, "echo 'sudo: a password is required' >&2\nexit 1",
         failed + ": sudo: a password is required", true},
        {nullptr, nullptr, tr("status.elevate_unavailable"), false},
    };
    // The elevated copy is this very program, asked for the protected facts only.
    gchar* self = g_file_read_link("/proc/self/exe", nullptr);
    const std::string copy = std::string(self) + " --root-collect\n";
    g_free(self);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pkexec ? c.pkexec : "no pkexec");
        hw::RootData::instance() = {};
        fake("pkexec", c.pkexec);
        fake("sudo", c.sudo);
        I::elevate(app);
        EXPECT_EQ(status(), c.status);
        const bool read = c.status == tr("status.elevated");
        EXPECT_EQ(hw::RootData::instance().product_serial, read ? "SN|4711" : "");
        EXPECT_EQ(args_of("pkexec"), c.pkexec ? copy : "");
        EXPECT_EQ(args_of("sudo"), c.sudo_runs ? "-n " + copy : "");
    }
}

TEST_F(Elevation, ALockedRowAndTheUnlockButtonUnlockTheRows) {
    // A captured machine whose table only an administrator could read where it was taken:
    // here it is read from the capture, not through a tool that would read this machine's.
    using namespace smbios_encoder;
    smbios_encoder::Device17 a, b;
    a.locator = "DIMM A", a.size = 16384, b.locator = "DIMM B", b.handle = 0x1101;
    testing_support::TempDir machine;
    // A fixture machine's copy: the identifier databases the process keeps are the fixture's,
    // as for the tests that follow.
    std::filesystem::copy(testing_support::fixture("laptop-intel"), machine.path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks);
    machine.write("/sys/firmware/dmi/tables/DMI",
                  array16({}) + device17(a) + device17(b) + end_of_table());
    g_setenv("QUARVEL_SYSROOT", machine.path().c_str(), TRUE);
    fake("pkexec", m_facts.c_str());
    App& app = open(hw::collect_all);
    ASSERT_TRUE(app.select_node_id("memory"));
    process_events(100);
    // The memory modules wait for administrator rights: one click on their row reads them.
    GtkTreeModel* rows = I::detail_model(app);
    GtkTreeIter section, row;
    ASSERT_TRUE(gtk_tree_model_iter_children(rows, &section, nullptr));
    ASSERT_TRUE(gtk_tree_model_iter_children(rows, &row, &section));
    gboolean locked = FALSE;
    gtk_tree_model_get(rows, &row, 7, &locked, -1);
    ASSERT_TRUE(locked);
    GtkTreePath* path = gtk_tree_model_get_path(rows, &row);
    EXPECT_TRUE(press_row(GTK_TREE_VIEW(I::detail_view(app)), path, GDK_BUTTON_PRESS, 400));
    gtk_tree_path_free(path);
    EXPECT_EQ(status(), tr("status.elevated"));
    EXPECT_EQ(args_of("pkexec"), "");
    const hw::Node* memory = I::selected(app);
    ASSERT_EQ(memory->id, "memory") << "the place is kept across the new collection";
    ASSERT_EQ(memory->children.size(), 2u);
    EXPECT_EQ(memory->children[0]->title, "DIMM A");
    for (const auto& s : memory->sections)
        for (const auto& item : s.items)
            EXPECT_FALSE(item.needs_root) << item.name;

    // Outside the confined package the preview's Unlock button reads them just the same.
    hw::RootData::instance() = {};
    app.refresh();
    ASSERT_EQ(I::selected(app)->children.size(), 0u);
    gtk_button_clicked(GTK_BUTTON(I::locked_button(app)));
    EXPECT_EQ(status(), tr("status.elevated"));
    EXPECT_EQ(I::selected(app)->children.size(), 2u);
}

// A password dialog nobody answers, or a tool that hangs: the Cancel button beside the status
// line, or Escape, ends the wait and the tool, tries no other tool, and leaves no process and
// no pipe behind; the window answers again.
TEST_F(Elevation, TheUserCanGiveUpOnAToolThatNeverAnswers) {
    const std::string pid_file = m_tmp + "/pid";
    fake("pkexec", ("echo $$ > '" + pid_file + "'\nexec /bin/sleep 60").c_str());
    fake("sudo", m_facts.c_str());
    App& app = open();
    GtkWidget* cancel = I::elevate_cancel(app);
    EXPECT_FALSE(gtk_widget_get_visible(cancel));
    // The status line keeps its height when its button comes: the panes above stay put.
    auto line_height = [&] {
        int height = 0;
        gtk_widget_get_preferred_height(gtk_widget_get_parent(cancel), &height, nullptr);
        return height;
    };
    const int hidden_height = line_height();
    // Only pipes: the window's other threads open and close files of their own meanwhile.
    auto open_pipes = [] {
        int n = 0;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code gone;
            n += std::filesystem::read_symlink(fd.path(), gone).string().starts_with("pipe:");
        }
        return n;
    };
    const int pipes = open_pipes();
    const std::function<void()> ways[] = {
        [&] { click(cancel); },
        [&] { press_key(I::window(app), GDK_KEY_Escape); },
    };
    for (const auto& give_up : ways) {
        std::filesystem::remove(pid_file);
        bool shown = false;
        later([&] {
            wait_until([&] { return std::filesystem::exists(pid_file); });
            shown = gtk_widget_get_visible(cancel) && status() == tr("status.elevating") &&
                    line_height() == hidden_height;
            give_up();
        });
        const gint64 start = g_get_monotonic_time();
        I::elevate(app);
        EXPECT_LT(g_get_monotonic_time() - start, 20 * G_USEC_PER_SEC);
        EXPECT_TRUE(shown);
        EXPECT_EQ(status(), tr("status.elevate_cancelled"));
        EXPECT_FALSE(gtk_widget_get_visible(cancel));
        EXPECT_EQ(args_of("sudo"), "");
        const std::string tool = "/proc/" + util::trim(read_whole_file(pid_file));
        EXPECT_TRUE(wait_until([&] { return !std::filesystem::exists(tool); }, 10000))
            << "the tool is ended and reaped";
        EXPECT_TRUE(wait_until([&] { return open_pipes() == pipes; })) << open_pipes() << " pipes";
    }
    // Nothing holds the window any more: the next elevation runs.
    fake("pkexec", m_facts.c_str());
    I::elevate(app);
    EXPECT_EQ(status(), tr("status.elevated"));
}

// The window closed while the tool asked for the password: the tool is ended, no other tool is
// tried and the report is not asked for; the process does not wait on without a window.
TEST_F(Elevation, SaveReportEndsWhenTheWindowClosesWhileTheToolAsks) {
    fake("pkexec", "exec /bin/sleep 60");
    fake("sudo", m_facts.c_str());
    App& app = open();
    const gint64 start = g_get_monotonic_time();
    answer_dialogs([&] { I::save_report(app); }, {[&](GtkWindow* ask) {
                       respond(ask, 2); // with administrator rights
                       later([&] { gtk_widget_destroy(I::window(app)); });
                   }});
    EXPECT_EQ(I::window(app), nullptr);
    EXPECT_LT(g_get_monotonic_time() - start, 20 * G_USEC_PER_SEC);
    EXPECT_EQ(args_of("sudo"), "");
}

// Ended by a signal (the session closing, kill, Ctrl+C) while the tool asks: the tool ends with
// the window, where it was left behind with its password dialog open, and no file dialog opens
// after it; a dialog open then is answered as if closed, so no wait keeps the process on.
TEST_F(Elevation, ASignalToEndEndsTheToolAndTheOpenDialogs) {
    const std::string pid_file = m_tmp + "/pid";
    fake("pkexec", ("echo $$ > '" + pid_file + "'\nexec /bin/sleep 60").c_str());
    fake("sudo", m_facts.c_str());
    App& app = open();
    struct sigaction handling {};
    sigaction(SIGTERM, nullptr, &handling);
    ASSERT_NE(handling.sa_handler, SIG_DFL) << "the signal would end the tests";
    hw::RootData::instance() = {};
    answer_dialogs([&] { I::save_report(app); }, {[&](GtkWindow* ask) {
                       respond(ask, 2); // with administrator rights
                       later([&] {
                           wait_until([&] { return std::filesystem::exists(pid_file); });
                           raise(SIGTERM);
                       });
                   }});
    EXPECT_EQ(status(), tr("status.elevate_cancelled"));
    EXPECT_EQ(args_of("sudo"), "");
    const std::string tool = "/proc/" + util::trim(read_whole_file(pid_file));
    EXPECT_TRUE(wait_until([&] { return !std::filesystem::exists(tool); }, 10000));
    answer_dialogs([&] { I::settings(app); }, {[&](GtkWindow*) { later([] { raise(SIGTERM); }); }});
}
