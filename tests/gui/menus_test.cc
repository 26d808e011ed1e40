// The menu bar, its accelerators and language grid, the keyboard, the clipboard, the Tools
// branch with its terminal, and saving the report.
#include "app_inspector.h"
#include "gui/app.h"
#include "gui/menubar.h"
#include "gui/tools.h"
#include "gui_support.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "report.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/resource.h>

using gui_support::answer_dialogs;
using gui_support::clipboard;
using gui_support::press_key;
using gui_support::process_events;
using gui_support::read_file;
using gui_support::respond;
using gui_support::sample_machine;
using gui_support::set_clipboard;
using gui_support::wait_until;
using gui_support::write_script;

namespace {

using I = AppInspector;

std::vector<GtkWidget*> children(GtkWidget* shell) {
    std::vector<GtkWidget*> out;
    GList* list = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList* l = list; l; l = l->next)
        out.push_back(GTK_WIDGET(l->data));
    g_list_free(list);
    return out;
}

std::string label_of(GtkWidget* item) {
    if (GTK_IS_SEPARATOR_MENU_ITEM(item)) return "-";
    const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
    return label ? label : "";
}

// The items of a menu as "label" texts, separators as "-".
std::vector<std::string> labels(GtkWidget* shell) {
    std::vector<std::string> out;
    for (GtkWidget* item : children(shell))
        out.push_back(label_of(item));
    return out;
}

GtkWidget* submenu(GtkWidget* shell, const char* key) {
    for (GtkWidget* item : children(shell))
        if (label_of(item) == tr(key)) return gtk_menu_item_get_submenu(GTK_MENU_ITEM(item));
    return nullptr;
}

GtkWidget* item(GtkWidget* shell, const std::string& label) {
    for (GtkWidget* it : children(shell))
        if (label_of(it) == label) return it;
    ADD_FAILURE() << "no menu item " << label;
    return nullptr;
}

std::string status(App& app) {
    return gtk_label_get_text(GTK_LABEL(I::status(app)));
}

// Selects the row at `indices` of the detail table and moves the focus there.
void select_detail_row(App& app, std::vector<int> indices) {
    GtkTreePath* path = gtk_tree_path_new_from_indicesv(indices.data(), indices.size());
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(I::detail_view(app)), path, nullptr, FALSE);
    gtk_tree_path_free(path);
    gtk_widget_grab_focus(I::detail_view(app));
}

// The header's second line carries the time of writing.
std::string without_time(const std::string& report) {
    auto lines = util::split(report, '\n');
    if (lines.size() > 1) lines[1] = "Created: <time>";
    return util::join(lines, "\n");
}

class Menus : public ::testing::Test {
protected:
    void SetUp() override {
        SettingsStore::instance().mutable_get() = Settings{};
        std::filesystem::remove_all(config_dir());
        char dir[] = "/tmp/quarvel-menus-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_tmp = dir;
        m_path = g_getenv("PATH");
    }
    void TearDown() override {
        m_app.reset();
        process_events();
        SettingsStore::instance().mutable_get() = Settings{};
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
        gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR);
        g_setenv("PATH", m_path.c_str(), TRUE);
        g_unsetenv("TERMINAL");
        hw::RootData::instance() = {};
        std::filesystem::remove_all(m_tmp);
    }
    static std::string config_dir() {
        return std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quarvel";
    }
    App& open(std::function<std::unique_ptr<hw::Node>()> collect = nullptr) {
        m_app = std::make_unique<App>();
        I::start(
            *m_app, collect ? std::move(collect) : [this] {
                ++m_collections;
                return sample_machine();
            });
        EXPECT_TRUE(wait_until([&] { return gtk_widget_get_mapped(I::window(*m_app)); }));
        process_events(50);
        return *m_app;
    }
    std::unique_ptr<App> m_app;
    int m_collections = 0;
    std::string m_tmp, m_path;
};

} // namespace

TEST_F(Menus, StructureMnemonicsAndAccelerators) {
    App& app = open();
    GtkWidget* bar = I::menubar(app);
    EXPECT_EQ(labels(bar), (std::vector<std::string>{tr("menu.file"), tr("menu.view"),
                                                     tr("menu.language"), tr("menu.help")}));
    EXPECT_EQ(labels(submenu(bar, "menu.file")),
              (std::vector<std::string>{tr("menu.refresh"), tr("menu.elevate"), "-",
                                        tr("menu.save_report"), tr("menu.copy_branch"), "-",
                                        tr("menu.quit")}));
    EXPECT_EQ(labels(submenu(bar, "menu.view")),
              (std::vector<std::string>{tr("menu.expand_all"), tr("menu.collapse_all"), "-",
                                        tr("menu.settings"), tr("menu.colors"), tr("menu.theme")}));
    EXPECT_EQ(labels(submenu(bar, "menu.help")),
              (std::vector<std::string>{tr("dialog.licenses"), "-", tr("menu.about")}));

    // Every language keeps each menu's mnemonic letters apart.
    for (const auto& language : I18n::available()) {
        I::set_language(app, language.code); // rebuilds the menus in that language
        GtkWidget* shells[] = {I::menubar(app), submenu(I::menubar(app), "menu.file"),
                               submenu(I::menubar(app), "menu.view"),
                               submenu(I::menubar(app), "menu.help")};
        for (GtkWidget* shell : shells) {
            std::set<guint> seen;
            for (GtkWidget* it : children(shell)) {
                GtkWidget* label = gtk_bin_get_child(GTK_BIN(it));
                if (!GTK_IS_LABEL(label)) continue;
                guint key = gdk_keyval_to_lower(gtk_label_get_mnemonic_keyval(GTK_LABEL(label)));
                if (key == GDK_KEY_VoidSymbol) continue;
                EXPECT_TRUE(seen.insert(key).second)
                    << language.code << ": " << label_of(it) << " repeats a mnemonic";
            }
        }
    }
    I::set_language(app, "en");

    // The accelerators act through the window, as a key press would.
    GtkWidget* window = I::window(app);
    const int before = m_collections;
    press_key(window, GDK_KEY_F5);
    EXPECT_EQ(m_collections, before + 1) << "F5 refreshes";
    ASSERT_TRUE(app.select_node_id("power.BAT1"));
    press_key(window, GDK_KEY_C, GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    EXPECT_NE(clipboard().find("=== BAT1  Battery  [87 %  Discharging] ==="), std::string::npos);
    EXPECT_EQ(status(app), tr("status.copied_branch"));
    answer_dialogs([&] { press_key(window, GDK_KEY_s, GDK_CONTROL_MASK); },
                   {[](GtkWindow* ask) { respond(ask, GTK_RESPONSE_CANCEL); }});

    auto expanded = [&](const char* row) {
        GtkTreePath* path = gtk_tree_path_new_from_string(row);
        bool open = gtk_tree_view_row_expanded(I::tree(app), path);
        gtk_tree_path_free(path);
        return open;
    };
    bar = I::menubar(app);
    gtk_menu_item_activate(GTK_MENU_ITEM(item(submenu(bar, "menu.view"), tr("menu.expand_all"))));
    EXPECT_TRUE(expanded("3:1"));
    gtk_menu_item_activate(GTK_MENU_ITEM(item(submenu(bar, "menu.view"), tr("menu.collapse_all"))));
    EXPECT_FALSE(expanded("3"));

    GtkWidget* themes = submenu(submenu(I::menubar(app), "menu.view"), "menu.theme");
    gtk_menu_item_activate(GTK_MENU_ITEM(item(themes, tr("theme.dark"))));
    EXPECT_TRUE(I::dark(app));
    EXPECT_NE(read_file(SettingsStore::file_path()).find("\"theme\": \"dark\""), std::string::npos);

    press_key(window, GDK_KEY_q, GDK_CONTROL_MASK);
    EXPECT_NE(read_file(SettingsStore::file_path()).find("\"window_width\": 1024"),
              std::string::npos)
        << "Quit records the geometry";
}

TEST_F(Menus, LanguageGridFollowsTheWorkArea) {
    const struct { int height, rows, columns; } cases[] = {{329, 8, 6}, {500, 13, 4}, {900, 16, 3}};
    for (const auto& c : cases) {
        ASSERT_EQ(menus::language_rows(c.height), c.rows) << c.height;
        EXPECT_EQ(menus::language_cell(44, c.rows).column + 1, c.columns) << c.height;
        const menus::Cell first = menus::language_cell(1, c.rows);
        const menus::Cell next_column = menus::language_cell(c.rows, c.rows);
        EXPECT_EQ(first.column * 100 + first.row, 1);
        EXPECT_EQ(next_column.column * 100 + next_column.row, 100);
    }

    // The real menu on the tests' 1080 pixel screen: 16 rows.
    App& app = open();
    GtkWidget* languages = submenu(I::menubar(app), "menu.language");
    auto items = children(languages);
    ASSERT_EQ(items.size(), I18n::available().size() + 1);
    int left = -1, top = -1;
    gtk_container_child_get(GTK_CONTAINER(languages), items[16], "left-attach", &left, "top-attach",
                            &top, nullptr);
    EXPECT_EQ(left * 100 + top, 100);
}

TEST_F(Menus, ChoosingALanguageRebuildsTheMenusAndRefreshes) {
    App& app = open();
    GtkWidget* languages = submenu(I::menubar(app), "menu.language");
    const int before = m_collections;
    gtk_menu_item_activate(GTK_MENU_ITEM(item(languages, tr("language.auto"))));
    EXPECT_EQ(m_collections, before) << "the language in use: nothing happens";
    EXPECT_FALSE(std::filesystem::exists(SettingsStore::file_path()));

    gtk_menu_item_activate(GTK_MENU_ITEM(item(languages, "Deutsch")));
    EXPECT_EQ(m_collections, before + 1);
    EXPECT_EQ(SettingsStore::instance().get().language, "de");
    EXPECT_EQ(labels(I::menubar(app))[0], "_Datei");
    EXPECT_EQ(gtk_tree_view_column_get_title(I::value_column(app)), std::string("Wert"));

    gtk_menu_item_activate(GTK_MENU_ITEM(item(submenu(I::menubar(app), "menu.language"),
                                              "\u0627\u0644\u0639\u0631\u0628\u064A\u0629")));
    EXPECT_EQ(gtk_widget_get_direction(GTK_WIDGET(I::tree(app))), GTK_TEXT_DIR_RTL);
    // The language menu as it opens, right to left.
    GtkWidget* bar = I::menubar(app);
    gtk_menu_shell_select_item(GTK_MENU_SHELL(bar), children(bar)[2]);
    process_events(200);
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, 1920, 1080);
    std::filesystem::create_directories(QUARVEL_ARTIFACT_DIR);
    gdk_pixbuf_save(shot, QUARVEL_ARTIFACT_DIR "/menu-language-ar.png", "png", nullptr, nullptr);
    g_object_unref(shot);
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(bar));
    EXPECT_EQ(m_collections, before + 2);
}

TEST_F(Menus, KeyboardFocusesCopiesAndClears) {
    App& app = open();
    GtkWidget* window = I::window(app);
    GtkWidget* tree = GTK_WIDGET(I::tree(app));
    gtk_widget_grab_focus(tree);
    press_key(window, GDK_KEY_F, GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window)), tree) << "Ctrl+Shift+F is no shortcut";
    press_key(window, GDK_KEY_F, GDK_CONTROL_MASK | GDK_LOCK_MASK); // Caps Lock on
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window)), I::search(app));

    gtk_entry_set_text(GTK_ENTRY(I::search(app)), "bios");
    press_key(window, GDK_KEY_Escape);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(I::search(app))), "");

    ASSERT_TRUE(app.select_node_id("cpu"));
    set_clipboard("before");
    gtk_widget_grab_focus(tree);
    press_key(window, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(clipboard(), "before") << "Ctrl+C in the tree copies nothing";
    select_detail_row(app, {0, 1});
    press_key(window, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(clipboard(), "Vendor\tAuthenticAMD");

    // The table's context menu from the keyboard.
    press_key(window, GDK_KEY_F10, GDK_SHIFT_MASK);
    GList* menus = gtk_menu_get_for_attach_widget(I::detail_view(app));
    ASSERT_NE(menus, nullptr);
    GtkWidget* menu = GTK_WIDGET(g_list_last(menus)->data);
    EXPECT_EQ(labels(menu),
              (std::vector<std::string>{tr("menu.copy_value"), tr("menu.copy_row"),
                                        tr("menu.copy_source"), "-", tr("menu.copy_branch")}));
    gtk_menu_item_activate(GTK_MENU_ITEM(children(menu)[0]));
    EXPECT_EQ(clipboard(), "AuthenticAMD");
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
}

TEST_F(Menus, EveryCopyActionPutsItsText) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("system"));
    const struct {
        std::vector<int> row;
        void (*action)(App&);
        const char* expected; // null: nothing is copied
    } cases[] = {
        {{0, 0}, I::copy_value, "Framework"},
        {{0, 0}, I::copy_selection, "Vendor\tFramework"},
        {{0, 2}, I::copy_value, nullptr}, // locked: the hint is no value
        {{0, 2}, I::copy_selection, "Serial number"},
        {{0}, I::copy_selection, "Machine"},
    };
    for (const auto& c : cases) {
        set_clipboard("before");
        app.set_status("");
        select_detail_row(app, c.row);
        c.action(app);
        EXPECT_EQ(clipboard(), c.expected ? c.expected : "before");
        EXPECT_EQ(status(app), c.expected ? tr("status.copied") : "");
    }
    I::copy_branch(app);
    const std::string branch = clipboard();
    EXPECT_EQ(without_time(branch),
              without_time(report::node_to_text(*sample_machine()->find("system"))));
}

TEST_F(Menus, ToolsBranchAndTheTerminal) {
    SettingsStore::instance().mutable_get().start_view = "tools";
    App& app = open();
    EXPECT_EQ(I::selected_id(app), "tools") << "a stored start view of the window's own branch";
    GtkTreeModel* model = I::tree_model(app);
    GtkTreeIter tools, terminal, processes;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(model, &tools, nullptr, 8));
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(model, &terminal, &tools, 0));
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(model, &processes, &tools, 1));
    EXPECT_EQ(gtk_tree_model_iter_n_children(model, &tools), 2);
    ASSERT_TRUE(app.select_node_id("tools.processes"));
    ASSERT_TRUE(app.select_node_id("tools.terminal"));

    EXPECT_EQ(tools::terminal_candidates("").front(), "x-terminal-emulator");
    EXPECT_EQ(tools::terminal_candidates("mine").front(), "mine");
    EXPECT_EQ(tools::terminal_candidates("mine").back(), "xterm");
    // A TERMINAL that does not exist falls through to the list.
    g_setenv("PATH", m_tmp.c_str(), TRUE);
    g_setenv("TERMINAL", "no-such-terminal", TRUE);
    const std::string started = m_tmp + "/started";
    write_script(m_tmp + "/xterm", "/bin/pwd >> '" + started + "'");

    GtkTreeView* view = I::tree(app);
    process_events(100); // the rows get their heights
    GtkTreePath* row = gtk_tree_model_get_path(model, &terminal);
    auto click = [&](GdkEventType type, guint32 time) {
        gui_support::press_row(view, row, type, 40, time);
    };
    auto starts = [&] {
        auto lines = util::split(util::trim(read_file(started)), '\n');
        return lines.size() == 1 && lines[0].empty() ? 0u : lines.size();
    };
    // A double click: press, press, double press, all within the double-click time.
    click(GDK_BUTTON_PRESS, 1000);
    process_events(30);
    click(GDK_BUTTON_PRESS, 1100);
    click(GDK_2BUTTON_PRESS, 1100);
    ASSERT_TRUE(wait_until([&] { return starts() == 1; }));
    process_events(300);
    EXPECT_EQ(starts(), 1u) << "one terminal for one double click";
    EXPECT_EQ(util::trim(read_file(started)), g_get_home_dir());
    EXPECT_EQ(status(app), I18n::trf("tools.terminal_started", "xterm"));
    gtk_tree_view_row_activated(view, row, nullptr); // Enter
    EXPECT_TRUE(wait_until([&] { return starts() == 2; }));
    gtk_tree_path_free(row);

    std::filesystem::remove(m_tmp + "/xterm");
    answer_dialogs([&] { I::open_terminal(app); }, {[](GtkWindow* d) {
                       EXPECT_NE(gui_support::texts(GTK_WIDGET(d)).find(tr("tools.no_terminal")),
                                 std::string::npos);
                       gui_support::save_screenshot(GTK_WIDGET(d), "dialog-no-terminal.png");
                       respond(d, GTK_RESPONSE_CLOSE);
                   }});
}

TEST_F(Menus, SaveReportWritesTheReportTextAndKeepsTheOldFileOnFailure) {
    const std::string machine = std::string(QUARVEL_FIXTURES) + "/laptop-intel";
    g_setenv("QUARVEL_SYSROOT", machine.c_str(), TRUE);
    App& app = open(hw::collect_all);
    const std::string target = m_tmp + "/QuarvelReport.txt";
    answer_dialogs([&] { I::save_report(app); },
                   {[](GtkWindow* ask) {
                        gui_support::save_screenshot(GTK_WIDGET(ask), "dialog-save-question.png");
                        respond(ask, 1); // without administrator rights
                    },
                    [&](GtkWindow* chooser) {
                        ASSERT_TRUE(GTK_IS_FILE_CHOOSER(chooser));
                        GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
                        gchar* name = gtk_file_chooser_get_current_name(fc);
                        EXPECT_STREQ(name, "QuarvelReport.txt");
                        g_free(name);
                        GSList* filters = gtk_file_chooser_list_filters(fc);
                        EXPECT_EQ(g_slist_length(filters), 2u);
                        g_slist_free(filters);
                        gtk_file_chooser_set_current_folder(fc, m_tmp.c_str());
                        wait_until([&] {
                            gchar* f = gtk_file_chooser_get_current_folder(fc);
                            bool there = f && m_tmp == f;
                            g_free(f);
                            return there;
                        });
                        gui_support::save_screenshot(GTK_WIDGET(chooser),
                                                     "dialog-save-chooser.png");
                        respond(chooser, GTK_RESPONSE_ACCEPT);
                    }});
    EXPECT_EQ(status(app), I18n::trf("status.saved", target.c_str()));

    // The very text of --report over the same machine.
    gchar* out = nullptr;
    const gchar* argv[] = {QUARVEL_BINARY, "--report", nullptr};
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr,
                             nullptr, &out, nullptr, nullptr, nullptr));
    EXPECT_EQ(without_time(read_file(target)), without_time(out));
    g_free(out);

    // The disk fills up while writing: the old report stays, and the status says so.
    std::ofstream(target) << "old report";
    struct rlimit old_limit {};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    struct rlimit small = {64, old_limit.rlim_max};
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    I::save_report_to(app, target);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(status(app), I18n::trf("status.save_failed", target.c_str()));
    EXPECT_EQ(read_file(target), "old report");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_tmp), {}), 1)
        << "no half-written file is left behind";
    g_unsetenv("QUARVEL_SYSROOT");
}
