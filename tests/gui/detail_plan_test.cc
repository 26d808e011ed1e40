// What the detail pane decides to show, how the window is placed, and which clicks act.
#include "gui/detail_content.h"
#include "gui/window_layout.h"
#include "settings.h"

#include <gtest/gtest.h>

using detail::Click;
using detail::PressKind;

namespace {

hw::Node node(const std::string& id, bool rows = true) {
    hw::Node n;
    n.id = id;
    n.title = id;
    if (rows) n.section("Overview").add("Name", "value");
    return n;
}

// Every panel present, each reporting a height that shows which one it is.
detail::Panels all_panels() {
    detail::Panels p;
    p.disks_height = [] { return 700; };
    p.usb_height = [](int width) { return width; };
    p.net_height = [] { return 324; };
    p.sensors_height = [](int width) { return 1000 + width; };
    p.process_view = true;
    return p;
}

detail::Plan plan_for(const hw::Node& n, bool filter_empty = true,
                      const detail::Panels& panels = all_panels()) {
    detail::Input in;
    in.node = &n;
    in.filter_empty = filter_empty;
    in.paned_height = 600;
    in.table_width = 500;
    return detail::plan(in, panels);
}

} // namespace

TEST(DetailPlan, DiskCardsShareThePaneWithRowsOrFillIt) {
    hw::Node storage = node("storage");
    storage.disks.resize(2);
    detail::Plan p = plan_for(storage);
    EXPECT_TRUE(p.disks.shown && !p.disks.expand && p.table);
    EXPECT_EQ(p.disks.min_content_height, 372) << "62 % of the pane: the rows keep some room";

    hw::Node disk = node("storage.sda", false);
    disk.disks.resize(1);
    p = plan_for(disk);
    EXPECT_TRUE(p.disks.expand);
    EXPECT_FALSE(p.table);

    // Without the disk panel in this build the rows are all there is, never an empty pane.
    EXPECT_FALSE(plan_for(storage, true, {}).disks.shown);
    EXPECT_TRUE(plan_for(disk, true, {}).table);
}

TEST(DetailPlan, FullPanePanelsHideTheTableUnlessASearchShowsRows) {
    hw::Node usb = node("usb"), net = node("network"), sensors = node("sensors");
    usb.usb.resize(1);
    struct Case {
        const hw::Node& n;
        bool filter_empty;
        bool table;
    };
    for (const Case& c : {Case{usb, true, false}, Case{usb, false, true}, Case{net, true, false},
                          Case{net, false, true}, Case{sensors, true, false}})
        EXPECT_EQ(plan_for(c.n, c.filter_empty).table, c.table) << c.n.id << " " << c.filter_empty;
    EXPECT_FALSE(plan_for(usb, false).usb.shown) << "a search shows the matching rows instead";
    EXPECT_TRUE(plan_for(net, false).net.shown) << "graphs above the filtered rows";
    EXPECT_TRUE(plan_for(sensors).sensors.expand);

    for (const char* id : {"tools", "tools.processes", "tools.terminal"}) {
        detail::Plan p = plan_for(node(id));
        EXPECT_TRUE(p.process_view && !p.table) << id;
    }
    EXPECT_FALSE(plan_for(node("tools.other")).process_view);
}

TEST(DetailPlan, LockedPreviewOnlyWithoutSearchAndWithoutDisks) {
    detail::Input in;
    hw::Node storage = node("storage"), sensors = node("sensors");
    in.node = &storage;
    in.missing_hardware_observe = true;
    detail::Plan p = detail::plan(in, all_panels());
    EXPECT_EQ(p.preview, detail::Preview::disks);
    EXPECT_FALSE(p.table);
    storage.disks.resize(1);
    EXPECT_EQ(detail::plan(in, all_panels()).preview, detail::Preview::none);

    in.node = &sensors;
    p = detail::plan(in, all_panels());
    EXPECT_EQ(p.preview, detail::Preview::sensors);
    EXPECT_FALSE(p.sensors.shown || p.table) << "no graphs and no rows under the preview";
    in.filter_empty = false;
    EXPECT_EQ(detail::plan(in, all_panels()).preview, detail::Preview::none);

    in.node = nullptr; // nothing selected: only the empty table
    p = detail::plan(in, all_panels());
    EXPECT_TRUE(p.table);
    EXPECT_FALSE(p.disks.shown || p.usb.shown || p.net.shown || p.sensors.shown || p.process_view);
}

TEST(DetailRows, SearchStripesAndLockedRows) {
    hw::Node n;
    n.title = "Wireless";
    auto& a = n.section("Interface");
    a.add("MTU", "1500");
    a.add("Driver", "iwlwifi");
    a.add_locked("Serial number", "serial");
    n.section("Empty");
    n.section("Addresses").add("IPv4", "192.0.2.17/24");
    const Palette dark = Palette::dark_();

    auto all = detail::rows_for(n, "", dark);
    ASSERT_EQ(all.size(), 2u) << "an empty section gets no row";
    EXPECT_EQ(all[0].header.background, "#364154");
    EXPECT_FALSE(all[0].items[0].background.has_value());
    EXPECT_EQ(all[0].items[1].background, "#2B2B30");
    EXPECT_FALSE(all[1].items[0].background.has_value()) << "stripes restart in each section";
    const detail::Row& locked = all[0].items[2];
    EXPECT_TRUE(locked.locked);
    EXPECT_EQ(locked.value, detail::locked_value_text());
    EXPECT_EQ(locked.foreground, dark.accent);

    auto hits = detail::rows_for(n, "iwl", dark);
    ASSERT_EQ(hits.size(), 1u);
    ASSERT_EQ(hits[0].items.size(), 1u);
    EXPECT_FALSE(hits[0].items[0].background.has_value()) << "stripes count shown rows";
    EXPECT_EQ(detail::rows_for(n, "addresses", dark).size(), 1u) << "a section title match";
    EXPECT_EQ(detail::rows_for(n, "wireless", dark).size(), 2u) << "a node match shows all";
}

TEST(WindowLayout, SizePositionAndDivider) {
    Settings s;
    s.window_width = 3000, s.window_height = 900, s.window_x = 10, s.window_y = 20;
    layout::Placement p = layout::place_window(s, {0, 0, 1920, 1080});
    EXPECT_EQ(p.width, 1920);
    EXPECT_FALSE(p.move) << "a stored position is used as it is";

    s.window_x = -1;
    p = layout::place_window(s, {100, 50, 1280, 800});
    EXPECT_TRUE(p.move);
    EXPECT_EQ(p.x, 100) << "centred in a work area that does not start at 0";
    EXPECT_EQ(p.y, 50);

    s.window_height = -1; // one dimension missing: the default size
    EXPECT_EQ(layout::place_window(s, {0, 0, 1920, 1080}).width, 1024);
    p = layout::place_window(s, {0, 0, 0, 0});
    EXPECT_EQ(p.width, 1024) << "a work area without a size does not shrink the window";
    EXPECT_EQ(p.height, 768);
    EXPECT_EQ(p.min_height, 768);
    p = layout::place_window(s, {0, 0, 1024, 576}); // a netbook's screen less its panel
    EXPECT_EQ(p.min_width, 1024);
    EXPECT_EQ(p.min_height, 576) << "the least size fits the screen";

    // A 1366×768 screen with a 32-pixel panel and a 24-pixel title bar: window and frame
    // fit together, and the frame's top moves up so its lower edge stays on the screen.
    layout::FrameFit f = layout::fit_frame({0, 32, 1366, 736}, {0, 0, 2, 26}, 1024, 768, 40);
    EXPECT_EQ(f.min_height, 710);
    EXPECT_EQ(f.height, 710);
    EXPECT_EQ(f.top, 32);
    EXPECT_EQ(f.min_width, 1024);
    f = layout::fit_frame({0, 0, 1920, 1080}, {0, 0, 2, 26}, 1200, 800, 100);
    EXPECT_EQ(f.height, 800) << "room enough: nothing changes";
    EXPECT_EQ(f.top, 100);
    EXPECT_EQ(f.min_height, 768);

    EXPECT_EQ(layout::divider_position(-1, 1024), 341);
    EXPECT_EQ(layout::divider_position(-1, 700), 240);
    EXPECT_EQ(layout::divider_position(300, 1920), 300);
}

TEST(DetailClicks, OneActionPerClick) {
    const auto one = PressKind::single, two = PressKind::double_, three = PressKind::triple;
    struct Case {
        unsigned button;
        PressKind kind;
        bool on_row, locked, blocked;
        Click expected;
    };
    const std::vector<Case> cases = {
        // A double click is press, press, double-press: only the double-press acts.
        {1, one, true, false, false, Click::pass},
        {1, two, true, false, false, Click::copy_value},
        {1, three, true, false, false, Click::pass},
        // On a locked row the first press acts; the rest of the double click is dropped.
        {1, one, true, true, false, Click::elevate},
        {1, two, true, true, false, Click::swallow},
        // Presses that waited while an elevation ran do nothing.
        {1, one, true, true, true, Click::swallow},
        {3, one, true, false, true, Click::swallow},
        // The context menu on a row; elsewhere the table handles the press itself.
        {3, one, true, false, false, Click::context_menu},
        {3, one, false, false, false, Click::pass},
        {1, two, false, false, false, Click::pass},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(detail::classify_click(c.button, c.kind, c.on_row, c.locked, c.blocked),
                  c.expected)
            << "case " << i;
    }
}
