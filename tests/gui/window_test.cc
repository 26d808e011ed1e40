// The window on a real X server: the tree, search, the detail table's rows and colours,
// selection across refreshes, geometry, language, the locked preview, and screenshots.
#include "app_inspector.h"
#include "gui/app.h"
#include "gui/images.h"
#include "gui_support.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

using gui_support::process_events;
using gui_support::sample_machine;
using gui_support::wait_until;

namespace {

using I = AppInspector;

// Node ids of the tree rows, depth first, with the row's depth as a prefix of dots.
std::vector<std::string> tree_rows(App& app, bool only_top = false) {
    std::vector<std::string> out;
    GtkTreeModel* m = I::tree_model(app);
    std::function<void(GtkTreeIter*, int)> walk = [&](GtkTreeIter* parent, int depth) {
        GtkTreeIter it;
        if (!gtk_tree_model_iter_children(m, &it, parent)) return;
        do {
            gpointer p = nullptr;
            gtk_tree_model_get(m, &it, 2, &p, -1);
            out.push_back(std::string(depth, '.') + static_cast<hw::Node*>(p)->id);
            if (!only_top) walk(&it, depth + 1);
        } while (gtk_tree_model_iter_next(m, &it));
    };
    walk(nullptr, 0);
    return out;
}

struct DetailRow {
    std::string name, value, source;
    int weight = 0;
    bool section = false;
    std::string background, foreground;
    bool locked = false;
    int depth = 0;
};

std::vector<DetailRow> detail_rows(App& app) {
    std::vector<DetailRow> out;
    GtkTreeModel* m = I::detail_model(app);
    std::function<void(GtkTreeIter*, int)> walk = [&](GtkTreeIter* parent, int depth) {
        GtkTreeIter it;
        if (!gtk_tree_model_iter_children(m, &it, parent)) return;
        do {
            gchar *n, *v, *s, *bg, *fg;
            gint weight;
            gboolean section, locked;
            gtk_tree_model_get(m, &it, 0, &n, 1, &v, 2, &s, 3, &weight, 4, &section, 5, &bg, 6, &fg,
                               7, &locked, -1);
            out.push_back({n ? n : "", v ? v : "", s ? s : "", weight, bool(section), bg ? bg : "",
                           fg ? fg : "", bool(locked), depth});
            g_free(n), g_free(v), g_free(s), g_free(bg), g_free(fg);
            walk(&it, depth + 1);
        } while (gtk_tree_model_iter_next(m, &it));
    };
    walk(nullptr, 0);
    return out;
}

std::string selected_row_id(App& app) {
    GtkTreeModel* m = nullptr;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(I::tree(app)), &m, &it))
        return "";
    gpointer p = nullptr;
    gtk_tree_model_get(m, &it, 2, &p, -1);
    return static_cast<hw::Node*>(p)->id;
}

bool row_expanded(App& app, const std::string& id) {
    GtkTreeModel* m = I::tree_model(app);
    struct Search {
        App* app;
        const std::string* id;
        bool expanded = false;
    } search{&app, &id};
    gtk_tree_model_foreach(
        m,
        [](GtkTreeModel* model, GtkTreePath* path, GtkTreeIter* it, gpointer data) -> gboolean {
            auto* s = static_cast<Search*>(data);
            gpointer p = nullptr;
            gtk_tree_model_get(model, it, 2, &p, -1);
            if (static_cast<hw::Node*>(p)->id != *s->id) return FALSE;
            s->expanded = gtk_tree_view_row_expanded(I::tree(*s->app), path);
            return TRUE;
        },
        &search);
    return search.expanded;
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

// What the X server shows of the window, as a person would see it.
void save_screenshot(App& app, const std::string& name) {
    GtkWidget* w = I::window(app);
    wait_until([&] { return gtk_widget_get_mapped(w); });
    // The pointer leaves the window, so no row shows its hover colour.
    GdkDisplay* display = gdk_display_get_default();
    gdk_device_warp(gdk_seat_get_pointer(gdk_display_get_default_seat(display)),
                    gdk_screen_get_default(), 1919, 1079);
    process_events(150);
    GdkWindow* win = gtk_widget_get_window(w);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(win, 0, 0, gdk_window_get_width(win),
                                                 gdk_window_get_height(win));
    ASSERT_NE(shot, nullptr);
    std::filesystem::create_directories(gui_support::artifact_dir());
    std::string path = gui_support::artifact_dir() + "/" + name;
    EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(shot);
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        SettingsStore::instance().mutable_get() = Settings{};
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quarvel");
    }
    void TearDown() override {
        m_app.reset();
        process_events();
        SettingsStore::instance().mutable_get() = Settings{};
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }
    App& open(std::function<std::unique_ptr<hw::Node>()> collect = sample_machine) {
        m_app = std::make_unique<App>();
        I::start(*m_app, std::move(collect));
        EXPECT_TRUE(wait_until([&] { return gtk_widget_get_mapped(I::window(*m_app)); }));
        process_events(50);
        return *m_app;
    }
    std::unique_ptr<App> m_app;
};

} // namespace

TEST_F(Window, TreeShowsTheRootsChildrenWithIconsAndTheFirstRowSelected) {
    App& app = open();
    std::vector<std::string> expected;
    const auto machine = sample_machine();
    for (const auto& c : machine->children)
        expected.push_back(c->id);
    EXPECT_EQ(tree_rows(app, true), expected);
    EXPECT_EQ(selected_row_id(app), "system");

    GtkTreeIter it;
    GtkTreeModel* m = I::tree_model(app);
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(m, &it, nullptr, 1)); // the processor
    GdkPixbuf* icon = nullptr;
    gchar* markup = nullptr;
    gtk_tree_model_get(m, &it, 0, &icon, 1, &markup, -1);
    EXPECT_EQ(std::string(markup), "<b>Processor</b>\n<span size=\"small\" alpha=\"65%\">"
                                   "AMD Ryzen 7 7840U w/ Radeon 780M Graphics</span>");
    // The chip is drawn for the marker: a dark die at the centre, a gold pin above it.
    ASSERT_EQ(gdk_pixbuf_get_width(icon), 20);
    ASSERT_EQ(gdk_pixbuf_get_n_channels(icon), 4);
    const guchar* px = gdk_pixbuf_get_pixels(icon);
    const int stride = gdk_pixbuf_get_rowstride(icon);
    const guchar* die = px + 10 * stride + 40;
    const guchar* pin = px + 3 * stride + 40;
    EXPECT_LT(die[0] + die[1] + die[2], 3 * 0x40);
    EXPECT_GT(pin[3], 200);
    EXPECT_GT(pin[0], pin[2] + 60) << "gold, not grey";
    g_object_unref(icon);
    g_free(markup);

    std::string status = gtk_label_get_text(GTK_LABEL(I::status(app)));
    EXPECT_EQ(status.rfind("Hardware read in ", 0), 0u) << status;
    EXPECT_EQ(status.substr(status.size() - 3), " ms");
}

TEST_F(Window, SearchKeepsAncestorsExpandedAndFiltersRows) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("system"));
    // Only a grandchild of the USB branch matches: its ancestors stay, expanded.
    type_search(app, "INTEL");
    EXPECT_EQ(I::filter(app), "intel");
    EXPECT_EQ(tree_rows(app), (std::vector<std::string>{"usb", ".usb.3-2", "..usb.3-2.1"}));
    EXPECT_TRUE(row_expanded(app, "usb"));
    EXPECT_TRUE(row_expanded(app, "usb.3-2"));

    type_search(app, "TOUCHPAD");
    EXPECT_EQ(tree_rows(app), (std::vector<std::string>{"input", ".input.0"}));

    // Siblings of the match go.
    type_search(app, "BOE");
    EXPECT_EQ(tree_rows(app),
              (std::vector<std::string>{"graphics", ".drm.connectors", "..drm.card1-eDP-1"}));
    EXPECT_TRUE(row_expanded(app, "graphics"));
    EXPECT_TRUE(row_expanded(app, "drm.connectors"));

    // The remembered node (system) is hidden: its table keeps only matching rows, here none.
    EXPECT_EQ(I::selected_id(app), "system");
    EXPECT_TRUE(detail_rows(app).empty());

    // In a node that does not match, only items whose name, value or section match.
    ASSERT_TRUE(app.select_node_id("drm.card1-eDP-1"));
    type_search(app, "preferred");
    ASSERT_TRUE(app.select_node_id("drm.card1-eDP-1"));
    auto rows = detail_rows(app);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Monitor");
    EXPECT_EQ(rows[1].name, "Preferred mode");
    // A section title match shows the whole section; a node match shows everything.
    type_search(app, "FIRMWARE");
    ASSERT_TRUE(app.select_node_id("system"));
    rows = detail_rows(app);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].name, "Firmware");
    type_search(app, "framework laptop");
    EXPECT_EQ(detail_rows(app).size(), 12u) << "the summary matches: every row of the node";

    // Clearing the search: the whole tree again, collapsed but for the way to the selection.
    type_search(app, "discharging");
    ASSERT_TRUE(app.select_node_id("power.BAT1"));
    type_search(app, "nvme");
    EXPECT_EQ(I::selected_id(app), "power.BAT1");
    type_search(app, "");
    EXPECT_EQ(selected_row_id(app), "power.BAT1");
    EXPECT_EQ(detail_rows(app).size(), 7u);
    EXPECT_FALSE(row_expanded(app, "graphics"));
    EXPECT_TRUE(row_expanded(app, "power"));
}

TEST_F(Window, SectionRowsStripesAndLockedRows) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("system"));
    auto rows = detail_rows(app);
    ASSERT_EQ(rows.size(), 12u);
    const Palette p = Palette::light();
    EXPECT_TRUE(rows[0].section && rows[0].depth == 0 && rows[0].weight == 700);
    EXPECT_EQ(rows[0].background, "#E1EAF5"); // accent over panel at 13 %
    EXPECT_EQ(rows[0].foreground, p.accent);
    const std::string stripe = "#F5F5F5"; // text over panel at 5 %
    std::vector<std::string> backgrounds;
    for (size_t i = 1; i < 6; ++i)
        backgrounds.push_back(rows[i].background);
    EXPECT_EQ(backgrounds, (std::vector<std::string>{"", stripe, "", stripe, ""}));
    EXPECT_EQ(rows[7].background, "") << "stripes count from each section's first row";
    EXPECT_EQ(rows[1].source, "/sys/class/dmi/id/sys_vendor");

    const DetailRow& locked = rows[4];
    EXPECT_EQ(locked.name, "Serial number");
    EXPECT_TRUE(locked.locked);
    EXPECT_EQ(locked.value, "\xF0\x9F\x94\x92  Click to read with administrator rights");
    EXPECT_EQ(locked.foreground, p.accent);
    EXPECT_EQ(rows[3].foreground, p.text);
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
        m_app.reset();
        process_events();
    }
    gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR);
}

TEST_F(Window, GeometryFromStoredSettings) {
    Settings& s = SettingsStore::instance().mutable_get();
    s.window_width = 3000, s.window_height = 900;
    App& app = open();
    int w = 0, h = 0;
    gtk_window_get_default_size(GTK_WINDOW(I::window(app)), &w, &h);
    EXPECT_EQ(w, 1920) << "limited to the work area";
    EXPECT_EQ(h, 900);
    m_app.reset();

    s = {};
    open();
    EXPECT_EQ(gtk_paned_get_position(GTK_PANED(I::paned(*m_app))), 341);
    int x = -1, y = -1;
    auto at = [&](int wx, int wy) {
        return wait_until([&] {
            gtk_window_get_position(GTK_WINDOW(I::window(*m_app)), &x, &y);
            return x == wx && y == wy;
        });
    };
    EXPECT_TRUE(at(448, 156)) << "centred: " << x << "," << y;

    // What is remembered on close comes back.
    gtk_paned_set_position(GTK_PANED(I::paned(*m_app)), 400);
    gtk_window_move(GTK_WINDOW(I::window(*m_app)), 30, 40);
    ASSERT_TRUE(at(30, 40));
    m_app->remember_geometry();
    Settings saved = SettingsStore::instance().get();
    EXPECT_EQ(saved.paned_position, 400);
    EXPECT_EQ(saved.window_x + saved.window_y, 70);
    EXPECT_EQ(saved.window_width, 1024);
    SettingsStore::instance().mutable_get() = {};
    SettingsStore::instance().load();
    EXPECT_EQ(SettingsStore::instance().get(), saved) << "and it was saved";
}

TEST_F(Window, RefreshKeepsTheSelectedIdAndAHiddenPlace) {
    int collections = 0;
    SettingsStore::instance().mutable_get().start_view = "storage";
    App& app = open([&] {
        ++collections;
        return sample_machine();
    });
    EXPECT_EQ(selected_row_id(app), "storage") << "the start view";
    ASSERT_TRUE(app.select_node_id("cpu.core.2"));
    hw::Node* before = I::selected(app);
    app.refresh();
    EXPECT_EQ(collections, 2);
    EXPECT_NE(I::selected(app), before) << "a node of the new tree";
    EXPECT_EQ(I::selected(app)->id, "cpu.core.2");
    EXPECT_EQ(selected_row_id(app), "cpu.core.2");
    EXPECT_TRUE(row_expanded(app, "cpu"));

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
    EXPECT_EQ(I::selected_id(app), "cpu.core.2");
    type_search(app, "");
    EXPECT_EQ(selected_row_id(app), "cpu.core.2");
}

TEST_F(Window, LanguagePutsTheDecimalSeparatorFirst) {
    App app; // no window yet, as at start
    app.apply_language("de");
    EXPECT_EQ(util::fmt_double(1234.5, 1), "1.234,5");
    app.apply_language("en");
    EXPECT_EQ(util::fmt_double(1234.5, 1), "1,234.5");
    app.apply_language("ar");
    EXPECT_EQ(gtk_widget_get_default_direction(), GTK_TEXT_DIR_RTL);
    app.apply_language("en");
    EXPECT_EQ(gtk_widget_get_default_direction(), GTK_TEXT_DIR_LTR);

    App& window = open();
    window.apply_language("de");
    EXPECT_STREQ(gtk_entry_get_placeholder_text(GTK_ENTRY(I::search(window))),
                 tr("ui.search_placeholder"));
    EXPECT_STRNE(tr("ui.search_placeholder"), "Search all details…");
}

TEST_F(Window, LockedPreviewForAConfinedPackageWithoutHardwareAccess) {
    char dir[] = "/tmp/quarvel-empty-sysroot-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    setenv("SNAP_NAME", "quarvel", 1);
    setenv("QUARVEL_SYSROOT", dir, 1); // no /sys/block: hardware-observe looks unconnected
    App& app = open([] {
        auto m = sample_machine();
        m->find("storage")->disks.clear();
        return m;
    });
    ASSERT_TRUE(app.select_node_id("storage"));
    process_events(30);
    EXPECT_TRUE(gtk_widget_get_visible(I::locked_box(app)));
    EXPECT_FALSE(gtk_widget_get_visible(I::detail_scroll(app)));
    ASSERT_TRUE(app.select_node_id("sensors"));
    EXPECT_TRUE(gtk_widget_get_visible(I::locked_box(app)));
    process_events(100);
    save_screenshot(app, "window-locked-preview.png");
    // With a search the preview gives way to the rows.
    type_search(app, "k10temp");
    EXPECT_FALSE(gtk_widget_get_visible(I::locked_box(app)));
    EXPECT_TRUE(gtk_widget_get_visible(I::detail_scroll(app)));
    unsetenv("SNAP_NAME");
    unsetenv("QUARVEL_SYSROOT");
    rmdir(dir);
    type_search(app, "");
    ASSERT_TRUE(app.select_node_id("sensors"));
    EXPECT_FALSE(gtk_widget_get_visible(I::locked_box(app))) << "outside a Snap: no preview";
}

TEST_F(Window, EmbeddedImagesDecodeAtTheirSizes) {
    auto size_of = [](images::Png png) {
        GdkPixbuf* p = images::pixbuf_from_png(png.data, png.size);
        if (!p) return std::string("none");
        std::string s = std::to_string(gdk_pixbuf_get_width(p)) + "x" +
                        std::to_string(gdk_pixbuf_get_height(p));
        g_object_unref(p);
        return s;
    };
    EXPECT_EQ(size_of(images::app_icon()), "128x128");
    for (bool dark : {false, true}) {
        EXPECT_EQ(size_of(images::sensors_preview(dark)), "336x130");
        EXPECT_EQ(size_of(images::disks_preview(dark)), "336x130");
    }
    GdkPixbuf* small = App::app_icon(48);
    EXPECT_EQ(gdk_pixbuf_get_width(small), 48);
    g_object_unref(small);
    const unsigned char garbage[] = {0x89, 'P', 'N', 'G', 1, 2, 3};
    EXPECT_EQ(size_of({garbage, sizeof garbage}), "none");
}

namespace {

// Presses a mouse button over a cell of the detail table's value column.
class TablePresser {
public:
    TablePresser(App& app, GtkTreePath* path) : m_view(GTK_TREE_VIEW(I::detail_view(app))) {
        gtk_tree_view_get_cell_area(m_view, path, nullptr, &m_cell);
    }
    gboolean press(GdkEventType type, unsigned button = 1) {
        GdkEvent* e = gdk_event_new(type);
        e->button.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(m_view)));
        e->button.button = button;
        e->button.x = 400; // inside the value column of a 1024 pixel window
        e->button.y = m_cell.y + m_cell.height / 2.0;
        e->button.time = GDK_CURRENT_TIME;
        gdk_event_set_device(
            e, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
        gboolean handled = gtk_widget_event(GTK_WIDGET(m_view), e);
        gdk_event_free(e);
        return handled;
    }

private:
    GtkTreeView* m_view;
    GdkRectangle m_cell{};
};

std::string clipboard_text() {
    gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

} // namespace

TEST_F(Window, DoubleClickCopiesTheValueOnceAndQueuedClicksAreDropped) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("cpu"));
    process_events(50);
    GtkTreePath* path = gtk_tree_path_new_from_indices(0, 1, -1); // Processor › Vendor
    TablePresser table(app, path);
    gtk_tree_path_free(path);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "before", -1);

    table.press(GDK_BUTTON_PRESS); // selects the row
    EXPECT_EQ(clipboard_text(), "before");
    table.press(GDK_BUTTON_PRESS);
    EXPECT_TRUE(table.press(GDK_2BUTTON_PRESS));
    EXPECT_EQ(clipboard_text(), "AuthenticAMD");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(I::status(app))), tr("status.copied"));

    // While the window was blocked, the clicks that waited are dropped; afterwards they act.
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "before", -1);
    I::block_queued_clicks(app);
    EXPECT_TRUE(table.press(GDK_2BUTTON_PRESS)) << "swallowed";
    EXPECT_EQ(clipboard_text(), "before");
    process_events();
    EXPECT_TRUE(table.press(GDK_2BUTTON_PRESS));
    EXPECT_EQ(clipboard_text(), "AuthenticAMD");
}

TEST_F(Window, ContextMenuOffersTheRowsTextsAndTheBranch) {
    App& app = open();
    ASSERT_TRUE(app.select_node_id("system"));
    process_events(50);
    GtkTreePath* path = gtk_tree_path_new_from_indices(0, 0, -1); // Machine › Vendor
    TablePresser table(app, path);
    gtk_tree_path_free(path);
    EXPECT_TRUE(table.press(GDK_BUTTON_PRESS, 3));
    GList* menus = gtk_menu_get_for_attach_widget(I::detail_view(app));
    ASSERT_NE(menus, nullptr);
    GtkWidget* menu = GTK_WIDGET(g_list_last(menus)->data);
    std::vector<std::string> labels;
    std::vector<GtkWidget*> items;
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* c = children; c; c = c->next) {
        GtkWidget* item = GTK_WIDGET(c->data);
        items.push_back(item);
        labels.push_back(
            GTK_IS_SEPARATOR_MENU_ITEM(item) ? "-" : gtk_menu_item_get_label(GTK_MENU_ITEM(item)));
    }
    g_list_free(children);
    EXPECT_EQ(labels,
              (std::vector<std::string>{tr("menu.copy_value"), tr("menu.copy_row"),
                                        tr("menu.copy_source"), "-", tr("menu.copy_branch")}));
    gtk_menu_item_activate(GTK_MENU_ITEM(items[1]));
    EXPECT_EQ(clipboard_text(), "Vendor\tFramework");
    gtk_menu_item_activate(GTK_MENU_ITEM(items[2]));
    EXPECT_EQ(clipboard_text(), "/sys/class/dmi/id/sys_vendor");
    gtk_menu_item_activate(GTK_MENU_ITEM(items[4]));
    const std::string branch = clipboard_text();
    EXPECT_NE(branch.find("=== System  [Framework Laptop 13"), std::string::npos) << branch;
    EXPECT_NE(branch.find("=== Mainboard ==="), std::string::npos) << "with the children";
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
    process_events(20);
}

TEST_F(Window, ScreenshotsLightAndDark) {
    SettingsStore::instance().mutable_get().theme = "light";
    SettingsStore::instance().mutable_get().window_width = 1280;
    SettingsStore::instance().mutable_get().window_height = 800;
    App& app = open();
    ASSERT_TRUE(app.select_node_id("cpu"));
    process_events(100);
    save_screenshot(app, "window-light.png");
    ASSERT_TRUE(app.select_node_id("system"));
    type_search(app, "bios");
    process_events(100);
    save_screenshot(app, "window-light-search.png");
    type_search(app, "");

    SettingsStore::instance().mutable_get().theme = "dark";
    app.apply_theme();
    EXPECT_TRUE(I::dark(app));
    ASSERT_TRUE(app.select_node_id("power.BAT1"));
    process_events(100);
    save_screenshot(app, "window-dark.png");
    ASSERT_TRUE(app.select_node_id("system"));
    process_events(100);
    save_screenshot(app, "window-dark-system.png");
    // The table's rows follow the palette at once.
    auto rows = detail_rows(app);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].background, "#364154");
    EXPECT_EQ(rows[0].foreground, "#7FB3F5");
}

// The real collectors over every fixture machine: whatever the tree holds, the window shows
// the root's children and survives browsing every node.
TEST_F(Window, EveryFixtureMachineOpensAndEveryNodeCanBeShown) {
    std::vector<std::string> machines;
    for (const auto& e : std::filesystem::directory_iterator(QUARVEL_FIXTURES))
        if (e.is_directory()) machines.push_back(e.path().filename().string());
    std::sort(machines.begin(), machines.end());
    ASSERT_FALSE(machines.empty());
    for (const std::string& machine : machines) {
        SCOPED_TRACE(machine);
        setenv("QUARVEL_SYSROOT", (std::string(QUARVEL_FIXTURES) + "/" + machine).c_str(), 1);
        auto expected = hw::collect_all();
        App& app = open(hw::collect_all);
        std::vector<std::string> ids;
        for (const auto& c : expected->children)
            ids.push_back(c->id);
        EXPECT_EQ(tree_rows(app, true), ids);
        for (const std::string& row : tree_rows(app)) {
            std::string id = row.substr(row.find_first_not_of('.'));
            ASSERT_TRUE(app.select_node_id(id)) << id;
            EXPECT_EQ(I::selected(app)->id, id);
        }
        if (machine == "laptop-usb-battery") {
            ASSERT_TRUE(app.select_node_id("power.BAT0"));
            save_screenshot(app, "window-fixture-light.png");
            SettingsStore::instance().mutable_get().theme = "dark";
            app.apply_theme();
            ASSERT_TRUE(app.select_node_id("usb"));
            EXPECT_TRUE(wait_until([&] { return selection_visible(app); }))
                << "the selected row is scrolled into view";
            save_screenshot(app, "window-fixture-dark.png");
            SettingsStore::instance().mutable_get().theme = "auto";
        }
        m_app.reset();
        process_events();
    }
    unsetenv("QUARVEL_SYSROOT");
}
