// The window on a real X server: the tree, search, selection across refreshes, wrapping,
// geometry, language, the locked preview, clicks, and screenshots of what people see.
#include "app_inspector.h"
#include "gui/app.h"
#include "gui/store_columns.h"
#include "gui/tree_icons.h"
#include "gui_support.h"
#include "hw/display_session.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

using gui_support::press_key;
using gui_support::process_events;
using gui_support::sample_machine;
using gui_support::wait_until;

namespace {

using I = AppInspector;

hw::Node* node_at(GtkTreeModel* m, GtkTreeIter* it) {
    gpointer p = nullptr;
    gtk_tree_model_get(m, it, TREE_NODE, &p, -1);
    return static_cast<hw::Node*>(p);
}

// Node ids of the tree rows, depth first, with the row's depth as a prefix of dots.
std::vector<std::string> tree_rows(App& app, bool only_top = false) {
    std::vector<std::string> out;
    GtkTreeModel* m = I::tree_model(app);
    std::function<void(GtkTreeIter*, int)> walk = [&](GtkTreeIter* parent, int depth) {
        GtkTreeIter it;
        if (!gtk_tree_model_iter_children(m, &it, parent)) return;
        do {
            out.push_back(std::string(depth, '.') + node_at(m, &it)->id);
            if (!only_top) walk(&it, depth + 1);
        } while (gtk_tree_model_iter_next(m, &it));
    };
    walk(nullptr, 0);
    return out;
}

// The background of each of the detail table's rows, in order.
std::vector<std::string> detail_rows(App& app) {
    std::vector<std::string> out;
    GtkTreeModel* m = I::detail_model(app);
    std::function<void(GtkTreeIter*)> walk = [&](GtkTreeIter* parent) {
        GtkTreeIter it;
        if (!gtk_tree_model_iter_children(m, &it, parent)) return;
        do {
            gchar* bg = nullptr;
            gtk_tree_model_get(m, &it, 5, &bg, -1);
            out.push_back(bg ? bg : "");
            g_free(bg);
            walk(&it);
        } while (gtk_tree_model_iter_next(m, &it));
    };
    walk(nullptr);
    return out;
}

std::string selected_row_id(App& app) {
    GtkTreeModel* m = nullptr;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(I::tree(app)), &m, &it))
        return "";
    return node_at(m, &it)->id;
}

std::vector<std::string> expanded_rows(App& app) {
    std::vector<std::string> out;
    auto add = [](GtkTreeView* view, GtkTreePath* path, gpointer ids) {
        GtkTreeIter it;
        gtk_tree_model_get_iter(gtk_tree_view_get_model(view), &it, path);
        static_cast<std::vector<std::string>*>(ids)->push_back(
            node_at(gtk_tree_view_get_model(view), &it)->id);
    };
    gtk_tree_view_map_expanded_rows(I::tree(app), add, &out);
    return out;
}

bool selection_visible(App& app) {
    GtkTreePath *start = nullptr, *end = nullptr, *selected = nullptr;
    gtk_tree_view_get_cursor(I::tree(app), &selected, nullptr);
    bool inside = selected && gtk_tree_view_get_visible_range(I::tree(app), &start, &end) &&
                  gtk_tree_path_compare(start, selected) <= 0 &&
                  gtk_tree_path_compare(selected, end) <= 0;
    for (GtkTreePath* p : {start, end, selected})
        if (p) gtk_tree_path_free(p);
    return inside;
}

void type_search(App& app, const std::string& text) {
    gtk_entry_set_text(GTK_ENTRY(I::search(app)), text.c_str());
    // The entry reports changes after a short delay; wait for the filter to follow.
    wait_until([&] { return I::filter(app) == util::lower(text); });
    process_events();
}

void save_screenshot(App& app, const std::string& name) {
    gui_support::save_screenshot(I::window(app), name);
}

using Window = gui_support::WindowTest;

} // namespace

TEST_F(Window, TreeRowsEscapeTheirTextAndTheProcessorMarkerIsDrawn) {
    App& app = open([] {
        auto m = sample_machine();
        m->find("usb.3-1")->summary = "AT&T <cam>"; // raw, this would break the markup
        return m;
    });
    EXPECT_EQ(selected_row_id(app), "system") << "the first row, without a stored start view";
    EXPECT_TRUE(wait_until([&] { return gtk_window_get_icon(GTK_WINDOW(I::window(app))); }))
        << "the icon comes once the window is shown";
    GtkTreeModel* m = I::tree_model(app);
    GtkTreeIter usb, cam;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(m, &usb, nullptr, 3));
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(m, &cam, &usb, 0));
    gchar* markup = nullptr;
    gtk_tree_model_get(m, &cam, TREE_MARKUP, &markup, -1);
    EXPECT_STREQ(markup, "<b>Laptop Camera</b>\n<span size=\"small\" alpha=\"65%\">"
                         "AT&amp;T &lt;cam&gt;</span>");
    g_free(markup);

    // A top-level title keeps its place beside its icon when rows deep below are opened.
    GtkTreeView* tree = I::tree(app);
    GtkTreeViewColumn* titles =
        gtk_tree_view_get_column(tree, gtk_tree_view_get_n_columns(tree) - 1);
    auto title_x = [&] {
        process_events(100);
        GtkTreePath* first = gtk_tree_path_new_first();
        GdkRectangle cell{};
        gtk_tree_view_get_cell_area(tree, first, titles, &cell);
        gtk_tree_path_free(first);
        return cell.x;
    };
    const int collapsed = title_x();
    gtk_tree_view_expand_all(tree);
    EXPECT_EQ(title_x(), collapsed);

    // A row shows its node's icon, rendered once it is drawn.
    const hw::Node* cam_node = node_at(m, &cam);
    gtk_tree_view_column_cell_set_cell_data(titles, m, &cam, FALSE, FALSE);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(titles));
    GdkPixbuf* shown = nullptr;
    g_object_get(cells->data, "pixbuf", &shown, nullptr);
    g_list_free(cells);
    ASSERT_NE(cam_node, nullptr);
    EXPECT_EQ(shown, tree_icons::icon(cam_node->icon, 20));
    if (shown) g_object_unref(shown);

    // The marker must not be shown as text: a dark die at the centre, a gold pin above it.
    GdkPixbuf* icon = tree_icons::icon(tree_icons::cpu_marker, 20);
    ASSERT_EQ(gdk_pixbuf_get_n_channels(icon), 4);
    const guchar* px = gdk_pixbuf_get_pixels(icon);
    const int stride = gdk_pixbuf_get_rowstride(icon);
    const guchar* die = px + 10 * stride + 40;
    const guchar* pin = px + 3 * stride + 40;
    EXPECT_LT(die[0] + die[1] + die[2], 3 * 0x40);
    EXPECT_GT(pin[3], 200);
    EXPECT_GT(pin[0], pin[2] + 60) << "gold, not grey";
}

TEST_F(Window, SearchKeepsAncestorsExpandedAndClearingRestoresTheSelection) {
    App& app = open();
    EXPECT_STREQ(gtk_entry_get_icon_name(GTK_ENTRY(I::search(app)), GTK_ENTRY_ICON_PRIMARY),
                 "edit-find-symbolic")
        << "the magnifier, put in once the window is on screen";
    ASSERT_TRUE(app.select_node_id("usb.3-2"));
    EXPECT_EQ(expanded_rows(app), std::vector<std::string>{"usb"}) << "the way there, not the row";
    gtk_tree_view_collapse_all(I::tree(app));
    ASSERT_TRUE(app.select_node_id("power.BAT1"));
    // Only a grandchild matches: its ancestors stay, expanded; their other children go.
    type_search(app, "INTEL");
    EXPECT_EQ(tree_rows(app), (std::vector<std::string>{"usb", ".usb.3-2", "..usb.3-2.1"}));
    EXPECT_EQ(expanded_rows(app), (std::vector<std::string>{"usb", "usb.3-2"}));
    // The remembered node is hidden: its table keeps only matching rows, here none.
    EXPECT_EQ(I::selected_id(app), "power.BAT1");
    EXPECT_TRUE(detail_rows(app).empty());

    // The whole tree again, collapsed but for the way to the remembered selection.
    type_search(app, "");
    EXPECT_EQ(selected_row_id(app), "power.BAT1");
    EXPECT_EQ(detail_rows(app).size(), 4u);
    EXPECT_EQ(expanded_rows(app), std::vector<std::string>{"power"});
}

TEST_F(Window, ArrowKeysOpenAndCloseBranchesOnTheirExpandersSide) {
    App& app = open();
    GtkWidget* window = I::window(app);
    GtkWidget* tree = GTK_WIDGET(I::tree(app));
    for (GtkTextDirection direction : {GTK_TEXT_DIR_LTR, GTK_TEXT_DIR_RTL}) {
        SCOPED_TRACE(direction == GTK_TEXT_DIR_RTL ? "right to left" : "left to right");
        gtk_widget_set_direction(tree, direction);
        const unsigned in = direction == GTK_TEXT_DIR_RTL ? GDK_KEY_Left : GDK_KEY_Right;
        const unsigned out = direction == GTK_TEXT_DIR_RTL ? GDK_KEY_Right : GDK_KEY_Left;
        gtk_tree_view_collapse_all(I::tree(app));
        ASSERT_TRUE(app.select_node_id("usb"));
        gtk_widget_grab_focus(tree);
        press_key(window, in);
        EXPECT_EQ(expanded_rows(app), std::vector<std::string>{"usb"});
        EXPECT_EQ(selected_row_id(app), "usb");
        press_key(window, in);
        EXPECT_EQ(selected_row_id(app), "usb.3-1") << "then into its first child";
        press_key(window, in);
        EXPECT_EQ(selected_row_id(app), "usb.3-1") << "a leaf has nothing to open";
        press_key(window, out);
        EXPECT_EQ(selected_row_id(app), "usb") << "a closed row's way out is its parent";
        press_key(window, out);
        EXPECT_TRUE(expanded_rows(app).empty());
        press_key(window, out);
        EXPECT_EQ(selected_row_id(app), "usb") << "a top row has no parent";
        press_key(window, in, GDK_CONTROL_MASK);
        EXPECT_TRUE(expanded_rows(app).empty()) << "with a modifier the key is the toolkit's";
    }
}

TEST_F(Window, LongValuesWrapInsideThePaneInBothDirections) {
    for (const char* language : {"en", "ar"}) {
        I18n::instance().set_language(language);
        gtk_widget_set_default_direction(I18n::instance().is_rtl() ? GTK_TEXT_DIR_RTL
                                                                   : GTK_TEXT_DIR_LTR);
        App& app = open();
        // A pane narrower than the value column's starting wrap width of 460 pixels.
        int whole = gtk_widget_get_allocated_width(I::paned(app));
        gtk_paned_set_position(GTK_PANED(I::paned(app)), whole - 600);
        ASSERT_TRUE(app.select_node_id("cpu")); // carries a flag list far wider than the pane
        process_events(200);
        ASSERT_LT(gtk_widget_get_allocated_width(I::detail_scroll(app)), 250 + 460);
        GtkTreeViewColumn* value = I::value_column(app);
        int pane = gtk_widget_get_allocated_width(I::detail_scroll(app));
        int left = gtk_tree_view_column_get_x_offset(value);
        EXPECT_GE(left, 0) << language;
        EXPECT_LE(left + gtk_tree_view_column_get_width(value), pane) << language;
        close();
    }
}

// Before its first allocation the name column is narrow; names measured then took two lines
// and kept that height, leaving blank bands under single-line rows.
TEST_F(Window, RowsOfOneLineAreEquallyTallOnceTheColumnsHaveTheirWidths) {
    SettingsStore::instance().mutable_get().show_sources = true;
    g_setenv("QUARVEL_SYSROOT", testing_support::fixture("cpu-x86-2socket-smt-numa").c_str(), TRUE);
    App& app = open(hw::collect_all);
    ASSERT_TRUE(app.select_node_id("cpu"));
    process_events(200);
    GtkTreeView* view = GTK_TREE_VIEW(I::detail_view(app));
    GtkTreeModel* rows = I::detail_model(app);
    std::map<int, std::string> heights; // height: a row that has it
    GtkTreeIter section, row;
    for (bool s = gtk_tree_model_get_iter_first(rows, &section); s;
         s = gtk_tree_model_iter_next(rows, &section))
        for (bool r = gtk_tree_model_iter_children(rows, &row, &section); r;
             r = gtk_tree_model_iter_next(rows, &row)) {
            gchar *name = nullptr, *value = nullptr;
            gtk_tree_model_get(rows, &row, COL_NAME, &name, COL_VALUE, &value, -1);
            const std::string n = name ? name : "", v = value ? value : "";
            g_free(name), g_free(value);
            if (n.size() > 20 || v.size() > 20 || v.find('\n') != std::string::npos) continue;
            GtkTreePath* path = gtk_tree_model_get_path(rows, &row);
            GdkRectangle cell{};
            gtk_tree_view_get_cell_area(view, path, I::value_column(app), &cell);
            gtk_tree_path_free(path);
            heights.emplace(cell.height, n);
        }
    EXPECT_EQ(heights.size(), 1u) << "the tallest: " << heights.rbegin()->second;
}

TEST_F(Window, RefreshKeepsTheSelectedIdAndAHiddenPlace) {
    SettingsStore::instance().mutable_get().start_view = "storage";
    bool unplugged = false;
    App& app = open([&] {
        ++m_collections;
        auto m = sample_machine();
        if (unplugged)
            std::erase_if(m->find("cpu")->children,
                          [](const auto& n) { return n->id == "cpu.core.2"; });
        return m;
    });
    EXPECT_EQ(selected_row_id(app), "storage") << "the start view";
    ASSERT_TRUE(app.select_node_id("cpu.core.2"));
    GtkTreeIter usb;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(I::tree_model(app), &usb, nullptr, 3));
    GtkTreePath* usb_path = gtk_tree_model_get_path(I::tree_model(app), &usb);
    gtk_tree_view_expand_row(I::tree(app), usb_path, FALSE);
    gtk_tree_path_free(usb_path);
    hw::Node* before = I::selected(app);
    app.refresh();
    EXPECT_EQ(m_collections, 2);
    EXPECT_NE(I::selected(app), before) << "a node of the new tree, not a dangling one";
    EXPECT_EQ(I::selected(app)->id, "cpu.core.2");
    EXPECT_EQ(selected_row_id(app), "cpu.core.2");
    EXPECT_EQ(expanded_rows(app), (std::vector<std::string>{"cpu", "usb"})) << "the user's too";

    // The selected device is gone: its branch is selected, not the first row.
    unplugged = true;
    app.refresh();
    EXPECT_EQ(selected_row_id(app), "cpu");
    unplugged = false;
    app.refresh();
    ASSERT_TRUE(app.select_node_id("cpu.core.2"));

    // A search that hides the place: the first visible row is shown, the place is kept.
    type_search(app, "touchpad");
    app.refresh();
    EXPECT_EQ(I::selected_id(app), "cpu.core.2");
    EXPECT_EQ(I::selected(app)->id, "input");
    // Nothing matches: nothing is shown, nothing stale stays.
    type_search(app, "no such thing anywhere");
    app.refresh();
    EXPECT_EQ(I::selected(app), nullptr);
    EXPECT_TRUE(detail_rows(app).empty());
    type_search(app, "");
    EXPECT_EQ(selected_row_id(app), "cpu.core.2");
}

// The first collection is made on a thread of its own while the window is being built. Only
// the toolkit's thread may ask the toolkit, so that collection is told the monitors the
// toolkit described there, as later collections are.
// The first collection's thread draws the first rows' icons while the toolkit's thread may
// already ask for them: each text and size still has one picture.
TEST(TreeIcons, OnePicturePerTextAndSizeWhicheverThreadAsks) {
    const std::vector<std::string> texts = {"🏢", "💾", "🎨", "🌐", tree_icons::cpu_marker, "🐧"};
    std::vector<GdkPixbuf*> other(texts.size()), here(texts.size());
    std::thread t([&] {
        for (size_t i = 0; i < texts.size(); ++i)
            other[i] = tree_icons::icon(texts[i], 23);
    });
    for (size_t i = texts.size(); i-- > 0;)
        here[i] = tree_icons::icon(texts[i], 23);
    t.join();
    EXPECT_EQ(here, other);
}

TEST_F(Window, TheFirstCollectionRunsBesideTheBuildingAndSeesTheMonitors) {
    const std::thread::id toolkit = std::this_thread::get_id();
    std::vector<std::pair<bool, std::string>> seen; // on the toolkit's thread; the backend
    App& app = open([&] {
        const auto session = hw::display_session();
        seen.emplace_back(std::this_thread::get_id() == toolkit, session ? session->backend : "");
        return sample_machine();
    });
    app.refresh();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].first);
    EXPECT_TRUE(seen[1].first);
    EXPECT_EQ(seen[0].second, seen[1].second);
    EXPECT_NE(seen[0].second, "");
}

TEST_F(Window, LanguageIsAppliedBeforeTheWindowExists) {
    App app; // no window yet, as at start: numbers and direction must already follow
    app.apply_language("de");
    EXPECT_EQ(util::fmt_double(1234.5, 1), "1.234,5");
    app.apply_language("ar");
    EXPECT_EQ(gtk_widget_get_default_direction(), GTK_TEXT_DIR_RTL);
    app.apply_language("en");
    EXPECT_EQ(util::fmt_double(1234.5, 1), "1,234.5");
    EXPECT_EQ(gtk_widget_get_default_direction(), GTK_TEXT_DIR_LTR);

    App& window = open();
    window.apply_language("de");
    EXPECT_STREQ(gtk_entry_get_placeholder_text(GTK_ENTRY(I::search(window))),
                 tr("ui.search_placeholder"));
    EXPECT_STRNE(tr("ui.search_placeholder"), "Search all details…");
}

// When and how the preview shows is decided in detail::plan; here: the window feeds it the
// package's missing permission and shows the preview instead of the table.
TEST_F(Window, LockedPreviewInAConfinedPackageWithoutHardwareAccess) {
    setenv("SNAP_NAME", "quarvel", 1);
    setenv("QUARVEL_SYSROOT", m_tmp.c_str(),
           1); // no /sys/block: hardware-observe looks unconnected
    // Once the window is shown, the notice explains what is missing; Unlock shows it again.
    App* app = nullptr;
    gui_support::answer_dialogs(
        [&] {
            app = &open();
            process_events(300);
        },
        {[](GtkWindow* d) {
            gui_support::save_screenshot(GTK_WIDGET(d), "dialog-permissions.png");
            gui_support::respond(d, GTK_RESPONSE_CLOSE);
        }});
    EXPECT_TRUE(app->select_node_id("sensors"));
    process_events(100);
    EXPECT_TRUE(gtk_widget_get_visible(I::locked_box(*app)));
    EXPECT_FALSE(gtk_widget_get_visible(I::detail_scroll(*app)));
    save_screenshot(*app, "window-locked-preview.png");
    gui_support::answer_dialogs(
        [&] { gtk_button_clicked(GTK_BUTTON(I::locked_button(*app))); },
        {[](GtkWindow* d) { gui_support::respond(d, GTK_RESPONSE_CLOSE); }});
}

namespace {

// Presses a mouse button over a cell of the detail table's value column.
gboolean press_value(App& app, GtkTreePath* path, GdkEventType type) {
    // Inside the value column of a 1024 pixel window.
    return gui_support::press_row(GTK_TREE_VIEW(I::detail_view(app)), path, type, 400);
}

} // namespace

TEST_F(Window, DoubleClickCopiesTheValueOnceAndQueuedClicksAreDropped) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("cpu"));
    process_events(50);
    GtkTreePath* vendor = gtk_tree_path_new_from_indices(0, 1, -1); // Processor › Vendor
    gui_support::set_clipboard("before");
    press_value(app, vendor, GDK_BUTTON_PRESS); // selects the row
    EXPECT_EQ(gui_support::clipboard(), "before");
    press_value(app, vendor, GDK_BUTTON_PRESS);
    EXPECT_TRUE(press_value(app, vendor, GDK_2BUTTON_PRESS));
    EXPECT_EQ(gui_support::clipboard(), "AuthenticAMD");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(I::status(app))), tr("status.copied"));
    EXPECT_EQ(atk_object_get_role(gtk_widget_get_accessible(I::status(app))), ATK_ROLE_STATUSBAR);

    // While the window was blocked, the clicks that waited are dropped; afterwards they act.
    gui_support::set_clipboard("before");
    I::block_queued_clicks(app);
    EXPECT_TRUE(press_value(app, vendor, GDK_2BUTTON_PRESS)) << "swallowed";
    EXPECT_EQ(gui_support::clipboard(), "before");
    process_events();
    EXPECT_TRUE(press_value(app, vendor, GDK_2BUTTON_PRESS));
    EXPECT_EQ(gui_support::clipboard(), "AuthenticAMD");
    gtk_tree_path_free(vendor);
}

TEST_F(Window, ScreenshotsLightAndDarkAndTheTableFollowsTheTheme) {
    SettingsStore::instance().mutable_get().theme = "light";
    SettingsStore::instance().mutable_get().window_width = 1280;
    SettingsStore::instance().mutable_get().window_height = 800;
    App& app = open();
    ASSERT_TRUE(app.select_node_id("cpu"));
    save_screenshot(app, "window-light.png");
    ASSERT_TRUE(app.select_node_id("system"));
    type_search(app, "bios");
    save_screenshot(app, "window-light-search.png");
    type_search(app, "");
    EXPECT_EQ(detail_rows(app).at(0), "#E1EAF5");

    SettingsStore::instance().mutable_get().theme = "dark";
    app.apply_theme();
    EXPECT_TRUE(I::dark(app));
    // The rows already shown take the new colours at once.
    EXPECT_EQ(detail_rows(app).at(0), "#364154");
    save_screenshot(app, "window-dark-system.png");
    ASSERT_TRUE(app.select_node_id("power.BAT1"));
    save_screenshot(app, "window-dark.png");
}

// The real collectors over every fixture machine: whatever the tree holds, the window shows
// the root's children and survives browsing every node.
TEST_F(Window, EveryFixtureMachineOpensAndEveryNodeCanBeShown) {
    const auto machines = testing_support::fixture_machines();
    ASSERT_FALSE(machines.empty());
    for (const std::string& machine : machines) {
        SCOPED_TRACE(machine);
        setenv("QUARVEL_SYSROOT", testing_support::fixture(machine).c_str(), 1);
        auto expected = hw::collect_all();
        App& app = open(hw::collect_all);
        std::vector<std::string> ids;
        for (const auto& c : expected->children)
            ids.push_back(c->id);
        ids.push_back("tools"); // the window's own branch, after every collection
        EXPECT_EQ(tree_rows(app, true), ids);
        for (const std::string& row : tree_rows(app)) {
            std::string id = row.substr(row.find_first_not_of('.'));
            ASSERT_TRUE(app.select_node_id(id)) << id;
            EXPECT_EQ(I::selected(app)->id, id);
        }
        if (machine == "laptop-usb-battery") {
            ASSERT_TRUE(app.select_node_id("usb"));
            EXPECT_TRUE(wait_until([&] { return selection_visible(app); }))
                << "the selected row is scrolled into view";
            save_screenshot(app, "window-fixture.png");
        }
        close();
    }
}
