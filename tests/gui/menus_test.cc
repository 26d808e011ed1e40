// The menu bar, its accelerators and language grid, the keyboard, the clipboard, the Tools
// branch with its terminal, and saving the report.
#include "app_inspector.h"
#include "entry.h"
#include "gui/draw_util.h"
#include "gui/menubar.h"
#include "gui/tools.h"
#include "gui_support.h"
#include "i18n.h"
#include "redact.h"
#include "report.h"
#include "settings.h"
#include "util.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/resource.h>

using namespace gui_support;

namespace {

using I = AppInspector;
using Menus = WindowTest;

std::string label_of(GtkWidget* item) {
    const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
    return GTK_IS_SEPARATOR_MENU_ITEM(item) ? "-" : label ? label : "";
}

std::vector<std::string> labels(GtkWidget* shell) {
    std::vector<std::string> out;
    for (GtkWidget* it : widgets_of(shell, GTK_TYPE_MENU_ITEM))
        out.push_back(label_of(it));
    return out;
}

GtkWidget* item(GtkWidget* shell, const std::string& label) {
    for (GtkWidget* it : widgets_of(shell, GTK_TYPE_MENU_ITEM))
        if (label_of(it) == label) return it;
    ADD_FAILURE() << "no menu item " << label;
    return nullptr;
}

GtkWidget* submenu(GtkWidget* shell, const char* key) {
    return gtk_menu_item_get_submenu(GTK_MENU_ITEM(item(shell, tr(key))));
}

void activate(GtkWidget* shell, const std::string& label) {
    gtk_menu_item_activate(GTK_MENU_ITEM(item(shell, label)));
}

// Selects the row at `indices` of the detail table and moves the focus there.
void select_detail_row(App& app, std::vector<int> indices) {
    GtkTreePath* path = gtk_tree_path_new_from_indicesv(indices.data(), indices.size());
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(I::detail_view(app)), path, nullptr, FALSE);
    gtk_tree_path_free(path);
    gtk_widget_grab_focus(I::detail_view(app));
}

bool expanded(App& app, const char* row) {
    GtkTreePath* path = gtk_tree_path_new_from_string(row);
    const bool open = gtk_tree_view_row_expanded(I::tree(app), path);
    gtk_tree_path_free(path);
    return open;
}

} // namespace

TEST_F(Menus, StructureMnemonicsAndAccelerators) {
    App& app = open();
    EXPECT_EQ(labels(submenu(I::menubar(app), "menu.file")),
              (std::vector<std::string>{tr("menu.refresh"), tr("menu.elevate"), "-",
                                        tr("menu.save_report"), tr("menu.copy_branch"), "-",
                                        tr("menu.quit")}));
    // Every language keeps each menu's mnemonic letters apart.
    for (const auto& language : I18n::available()) {
        I::set_language(app, language.code); // rebuilds the menus in that language
        GtkWidget* bar = I::menubar(app);
        for (GtkWidget* shell : {bar, submenu(bar, "menu.file"), submenu(bar, "menu.view"),
                                 submenu(bar, "menu.help")}) {
            std::set<guint> seen;
            for (GtkWidget* it : widgets_of(shell, GTK_TYPE_MENU_ITEM)) {
                GtkWidget* label = gtk_bin_get_child(GTK_BIN(it));
                guint key = GTK_IS_LABEL(label) ? gtk_label_get_mnemonic_keyval(GTK_LABEL(label))
                                                : GDK_KEY_VoidSymbol;
                EXPECT_TRUE(key == GDK_KEY_VoidSymbol ||
                            seen.insert(gdk_keyval_to_lower(key)).second)
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
    EXPECT_EQ(status(), tr("status.copied_branch"));
    answer_dialogs([&] { press_key(window, GDK_KEY_s, GDK_CONTROL_MASK); },
                   {[](GtkWindow* ask) { respond(ask, GTK_RESPONSE_CANCEL); }});

    GtkWidget* view = submenu(I::menubar(app), "menu.view");
    activate(view, tr("menu.expand_all"));
    EXPECT_TRUE(expanded(app, "3:1"));
    activate(view, tr("menu.collapse_all"));
    EXPECT_FALSE(expanded(app, "3"));
    activate(submenu(view, "menu.theme"), tr("theme.dark"));
    EXPECT_TRUE(I::dark(app));
    EXPECT_EQ(SettingsStore::instance().get().theme, "dark");

    press_key(window, GDK_KEY_q, GDK_CONTROL_MASK);
    EXPECT_NE(read_whole_file(SettingsStore::file_path()).find("\"window_width\": 1024"),
              std::string::npos)
        << "Quit records the geometry";
}

TEST_F(Menus, LanguageGridFollowsTheWorkAreaAndAChoiceRebuildsTheMenus) {
    const struct { int height, rows, columns; } cases[] = {{329, 8, 6}, {500, 13, 4}, {900, 16, 3}};
    for (const auto& c : cases) {
        ASSERT_EQ(menus::language_rows(c.height), c.rows) << c.height;
        EXPECT_EQ(menus::language_cell(44, c.rows).column + 1, c.columns) << c.height;
        EXPECT_EQ(menus::language_cell(c.rows, c.rows).column, 1) << "a new column";
        EXPECT_EQ(menus::language_cell(c.rows - 1, c.rows).row, c.rows - 1);
    }
    App& app = open();
    auto open_languages = [&] {
        GtkWidget* menu = submenu(I::menubar(app), "menu.language");
        gtk_widget_show(menu); // as opening the menu does: its items are made then
        return menu;
    };
    GtkWidget* languages = open_languages();
    int left = -1, top = -1; // on the tests' 1080 pixel screen: 16 rows
    gtk_container_child_get(GTK_CONTAINER(languages), widgets_of(languages, GTK_TYPE_MENU_ITEM)[16],
                            "left-attach", &left, "top-attach", &top, nullptr);
    EXPECT_EQ(left * 100 + top, 100);
    // Given less room than its words need, as on a screen narrower than the grid, an item
    // shortens them rather than drawing over the next column.
    GtkWidget* first = widgets_of(languages, GTK_TYPE_MENU_ITEM)[0];
    int width = 0, height = 0;
    gtk_widget_get_preferred_width(first, nullptr, &width);
    gtk_widget_get_preferred_height(first, nullptr, &height);
    GtkAllocation narrow{0, 0, width / 2, height};
    gtk_widget_size_allocate(first, &narrow);
    EXPECT_TRUE(pango_layout_is_ellipsized(
        gtk_label_get_layout(GTK_LABEL(gtk_bin_get_child(GTK_BIN(first))))));

    activate(languages, tr("language.auto"));
    EXPECT_EQ(m_collections, 1) << "the language in use: nothing happens";
    EXPECT_FALSE(std::filesystem::exists(SettingsStore::file_path()));
    activate(languages, "Deutsch");
    EXPECT_EQ(m_collections, 2) << "titles are translated when collected";
    EXPECT_EQ(SettingsStore::instance().get().language, "de");
    EXPECT_EQ(labels(I::menubar(app))[0], "_Datei");
    EXPECT_STREQ(gtk_tree_view_column_get_title(I::value_column(app)), "Wert");
    activate(open_languages(), "\u0627\u0644\u0639\u0631\u0628\u064A\u0629");
    EXPECT_EQ(gtk_widget_get_direction(GTK_WIDGET(I::tree(app))), GTK_TEXT_DIR_RTL);
    save_screenshot(I::window(app), "window-ar.png");
}

// A change that cannot be kept stays applied and says why, in the language just chosen: the
// refresh of a language change must not hide it.
TEST_F(Menus, AChangeThatCannotBeSavedStaysAppliedAndSaysWhy) {
    App& app = open();
    std::filesystem::create_directories(SettingsStore::file_path()); // a folder in its place
    auto not_saved = [] {
        return I18n::trf("status.settings_not_saved", entry::reason(EISDIR).c_str());
    };
    activate(submenu(submenu(I::menubar(app), "menu.view"), "menu.theme"), tr("theme.dark"));
    EXPECT_TRUE(I::dark(app));
    EXPECT_EQ(status(), not_saved());
    GtkWidget* languages = submenu(I::menubar(app), "menu.language");
    gtk_widget_show(languages);
    activate(languages, "\u0627\u0644\u0639\u0631\u0628\u064A\u0629");
    EXPECT_EQ(status(), not_saved()) << "in Arabic, over the refresh's count";
    EXPECT_TRUE(std::filesystem::is_directory(SettingsStore::file_path()));
    save_screenshot(I::window(app), "window-settings-not-saved-ar.png");
}

TEST_F(Menus, KeyboardFocusesCopiesAndClears) {
    App& app = open();
    GtkWidget* window = I::window(app);
    GtkWidget* tree = GTK_WIDGET(I::tree(app));
    auto focus = [&] { return gtk_window_get_focus(GTK_WINDOW(window)); };
    gtk_widget_grab_focus(tree);
    press_key(window, GDK_KEY_F, GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    EXPECT_EQ(focus(), tree) << "Ctrl+Shift+F is no shortcut";
    press_key(window, GDK_KEY_F, GDK_CONTROL_MASK | GDK_LOCK_MASK); // Caps Lock on
    EXPECT_EQ(focus(), I::search(app));
    gtk_entry_set_text(GTK_ENTRY(I::search(app)), "bios");
    press_key(window, GDK_KEY_Escape);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(I::search(app))), "");
    EXPECT_EQ(focus(), I::search(app)) << "the first Escape only empties the search";
    press_key(window, GDK_KEY_Escape);
    EXPECT_EQ(focus(), tree);

    ASSERT_TRUE(app.select_node_id("cpu"));
    set_clipboard("before");
    gtk_widget_grab_focus(tree);
    press_key(window, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(clipboard(), "before") << "Ctrl+C in the tree copies nothing";
    select_detail_row(app, {0, 1});
    press_key(window, GDK_KEY_c, GDK_CONTROL_MASK);
    EXPECT_EQ(clipboard(), "Vendor\tAuthenticAMD");

    // The table's context menu, from the keyboard.
    press_key(window, GDK_KEY_F10, GDK_SHIFT_MASK);
    GList* menus = gtk_menu_get_for_attach_widget(I::detail_view(app));
    ASSERT_NE(menus, nullptr);
    GtkWidget* menu = GTK_WIDGET(g_list_last(menus)->data);
    EXPECT_EQ(labels(menu),
              (std::vector<std::string>{tr("menu.copy_value"), tr("menu.copy_row"),
                                        tr("menu.copy_source"), "-", tr("menu.copy_branch")}));
    activate(menu, tr("menu.copy_value"));
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
        EXPECT_EQ(status(), c.expected ? tr("status.copied") : "");
    }
    I::copy_branch(app);
    EXPECT_EQ(testing_support::mask_time(clipboard()),
              testing_support::mask_time(report::node_to_text(*sample_machine()->find("system"))));
}

TEST_F(Menus, ToolsBranchAndTheTerminal) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("tools.terminal"));
    EXPECT_EQ(tools::terminal_candidates("").front(), "x-terminal-emulator");
    EXPECT_EQ(tools::terminal_candidates("mine").front(), "mine");
    EXPECT_EQ(tools::terminal_candidates("mine").back(), "xterm");

    // A TERMINAL that does not exist falls through to the list.
    g_setenv("PATH", m_tmp.c_str(), TRUE);
    g_setenv("TERMINAL", "no-such-terminal", TRUE);
    const std::string started = m_tmp + "/started";
    write_script(m_tmp + "/xterm", "/bin/pwd >> '" + started + "'");
    auto starts = [&] { return util::split_ws(read_whole_file(started)).size(); };
    process_events(100); // the rows get their heights
    GtkTreePath* row = nullptr;
    gtk_tree_view_get_cursor(I::tree(app), &row, nullptr);
    // A double click: press, press, double press, all within the double-click time.
    press_row(I::tree(app), row, GDK_BUTTON_PRESS, 40, 1000);
    process_events(30);
    press_row(I::tree(app), row, GDK_BUTTON_PRESS, 40, 1100);
    press_row(I::tree(app), row, GDK_2BUTTON_PRESS, 40, 1100);
    ASSERT_TRUE(wait_until([&] { return starts() == 1; }));
    process_events(300);
    EXPECT_EQ(starts(), 1u) << "one terminal for one double click";
    EXPECT_EQ(util::trim(read_whole_file(started)), g_get_home_dir());
    EXPECT_EQ(status(), I18n::trf("tools.terminal_started", "xterm"));
    gtk_tree_view_row_activated(I::tree(app), row, nullptr); // Enter
    EXPECT_TRUE(wait_until([&] { return starts() == 2; }));
    gtk_tree_path_free(row);

    std::filesystem::remove(m_tmp + "/xterm");
    answer_dialogs([&] { I::open_terminal(app); }, {[](GtkWindow* d) {
                       EXPECT_NE(texts(GTK_WIDGET(d)).find(tr("tools.no_terminal")),
                                 std::string::npos);
                       save_screenshot(GTK_WIDGET(d), "dialog-no-terminal.png");
                       respond(d, GTK_RESPONSE_CLOSE);
                   }});
}

TEST_F(Menus, SaveReportWritesTheReportTextAndKeepsTheOldFileOnFailure) {
    g_setenv("QUARVEL_SYSROOT", testing_support::fixture("laptop-intel").c_str(), TRUE);
    App& app = open(hw::collect_all);
    const std::string target = m_tmp + "/QuarvelReport.txt";
    answer_dialogs([&] { I::save_report(app); },
                   {[](GtkWindow* ask) {
                        save_screenshot(GTK_WIDGET(ask), "dialog-save-question.png");
                        respond(ask, 1); // without administrator rights
                    },
                    [&](GtkWindow* chooser) {
                        GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
                        gchar* name = gtk_file_chooser_get_current_name(fc);
                        EXPECT_STREQ(name, "QuarvelReport.txt");
                        g_free(name);
                        gtk_file_chooser_set_current_folder(fc, m_tmp.c_str());
                        process_events(200);
                        save_screenshot(GTK_WIDGET(chooser), "dialog-save-chooser.png");
                        respond(chooser, GTK_RESPONSE_ACCEPT);
                    }});
    EXPECT_EQ(status(), I18n::trf("status.saved", draw::left_to_right(target).c_str()));
    // The very text of --report over the same machine.
    gchar* out = nullptr;
    const gchar* argv[] = {QUARVEL_BINARY, "--report", nullptr};
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr,
                             nullptr, &out, nullptr, nullptr, nullptr));
    EXPECT_EQ(testing_support::mask_time(read_whole_file(target)), testing_support::mask_time(out));
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
    EXPECT_EQ(status(), I18n::trf("status.save_failed", draw::left_to_right(target).c_str(),
                                  entry::reason(EFBIG).c_str()));
    EXPECT_EQ(read_whole_file(target), "old report");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_tmp), {}), 1)
        << "no half-written file is left behind";
}

// A report saved for sharing: the chooser's redaction choice and a .json name give the JSON
// form with placeholders, and none of the machine's serial numbers.
TEST_F(Menus, SaveReportRedactedAsJson) {
    g_setenv("QUARVEL_SYSROOT", testing_support::fixture("laptop-usb-battery").c_str(), TRUE);
    App& app = open(hw::collect_all);
    std::vector<std::string> serials;
    std::function<void(const hw::Node&)> walk = [&](const hw::Node& n) {
        for (const auto& s : n.sections)
            for (const auto& i : s.items)
                if (i.name == tr("f.serial") && !redact::is_bus_address(i.value))
                    serials.push_back(i.value);
        for (const auto& c : n.children)
            walk(*c);
    };
    walk(*hw::collect_all());
    ASSERT_FALSE(serials.empty());

    const std::string target = m_tmp + "/report.json";
    answer_dialogs([&] { I::save_report(app); },
                   {[](GtkWindow* ask) { respond(ask, 1); },
                    [&](GtkWindow* chooser) {
                        GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
                        gtk_file_chooser_set_current_folder(fc, m_tmp.c_str());
                        gtk_file_chooser_set_current_name(fc, "report.json");
                        gtk_file_chooser_set_choice(fc, "redact", "true");
                        respond(chooser, GTK_RESPONSE_ACCEPT);
                    }});
    EXPECT_EQ(status(), I18n::trf("status.saved", draw::left_to_right(target).c_str()));
    const std::string saved = read_whole_file(target);
    const auto doc = nlohmann::json::parse(saved, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << saved.substr(0, 200);
    EXPECT_EQ(doc["redacted"], true);
    std::set<std::string> values; // of the serial number rows
    std::function<void(const nlohmann::json&)> collect = [&](const nlohmann::json& n) {
        for (const auto& s : n["sections"])
            for (const auto& row : s["rows"])
                if (row["name"] == tr("f.serial")) values.insert(row["value"].get<std::string>());
        for (const auto& c : n["children"])
            collect(c);
    };
    collect(doc["root"]);
    EXPECT_TRUE(values.count("<serial-1>"));
    for (const auto& serial : serials)
        EXPECT_FALSE(values.count(serial)) << serial;
}
