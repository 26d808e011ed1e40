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

detail::Plan plan_for(const hw::Node& n, bool filter_empty = true, int paned = 600,
                      const detail::Panels& panels = all_panels()) {
    detail::Input in;
    in.node = &n;
    in.filter_empty = filter_empty;
    in.paned_height = paned;
    in.table_width = 500;
    return detail::plan(in, panels);
}

} // namespace

TEST(DetailPlan, DiskCardsShareThePaneWithRowsOrFillIt) {
    hw::Node storage = node("storage");
    storage.disks.resize(2);
    detail::Plan p = plan_for(storage);
    EXPECT_TRUE(p.disks.shown);
    EXPECT_FALSE(p.disks.expand);
    EXPECT_TRUE(p.table);
    EXPECT_EQ(p.disks.height_request, 700);
    EXPECT_EQ(p.disks.min_content_height, 372) << "62 % of a 600 pixel pane";
    EXPECT_EQ(plan_for(storage, true, 150).disks.min_content_height, 420);

    hw::Node disk = node("storage.sda", false);
    disk.disks.resize(1);
    p = plan_for(disk);
    EXPECT_TRUE(p.disks.expand);
    EXPECT_FALSE(p.table);
    EXPECT_EQ(p.disks.min_content_height, 240);

    // Without the disk panel in this build the rows are all there is.
    detail::Panels none;
    p = plan_for(storage, true, 600, none);
    EXPECT_FALSE(p.disks.shown);
    EXPECT_TRUE(p.table);
    EXPECT_TRUE(plan_for(disk, true, 600, none).table);
}

TEST(DetailPlan, FullPanePanelsHideTheTable) {
    hw::Node usb = node("usb");
    usb.usb.resize(1);
    detail::Plan p = plan_for(usb);
    EXPECT_TRUE(p.usb.shown && p.usb.expand);
    EXPECT_FALSE(p.table) << "the cards only, although the node has rows";
    EXPECT_EQ(p.usb.height_request, 500);
    EXPECT_EQ(p.usb.min_content_height, 240);
    p = plan_for(usb, false);
    EXPECT_FALSE(p.usb.shown) << "a search shows the matching rows instead";
    EXPECT_TRUE(p.table);

    hw::Node net = node("network");
    p = plan_for(net);
    EXPECT_TRUE(p.net.shown && p.net.expand);
    EXPECT_FALSE(p.table);
    EXPECT_EQ(p.net.min_content_height, 240);
    p = plan_for(net, false);
    EXPECT_TRUE(p.net.shown);
    EXPECT_FALSE(p.net.expand);
    EXPECT_TRUE(p.table) << "graphs and the filtered rows";
    EXPECT_EQ(p.net.min_content_height, 324);

    hw::Node sensors = node("sensors");
    p = plan_for(sensors);
    EXPECT_TRUE(p.sensors.shown && p.sensors.expand);
    EXPECT_FALSE(p.table) << "the rows must not reappear beside the graphs";
    EXPECT_EQ(p.sensors.height_request, 1500);

    for (const char* id : {"tools", "tools.processes", "tools.terminal"}) {
        p = plan_for(node(id));
        EXPECT_TRUE(p.process_view) << id;
        EXPECT_FALSE(p.table) << id;
    }
    EXPECT_FALSE(plan_for(node("tools.other")).process_view);
}

TEST(DetailPlan, LockedPreviewOnlyWithoutSearchAndWithoutDisks) {
    detail::Input in;
    hw::Node storage = node("storage");
    in.node = &storage;
    in.missing_hardware_observe = true;
    detail::Plan p = detail::plan(in, all_panels());
    EXPECT_EQ(p.preview, detail::Preview::disks);
    EXPECT_FALSE(p.table);

    storage.disks.resize(1);
    EXPECT_EQ(detail::plan(in, all_panels()).preview, detail::Preview::none);

    hw::Node sensors = node("sensors");
    in.node = &sensors;
    p = detail::plan(in, all_panels());
    EXPECT_EQ(p.preview, detail::Preview::sensors);
    EXPECT_FALSE(p.sensors.shown) << "no graphs under the preview";
    EXPECT_FALSE(p.table);

    in.filter_empty = false;
    EXPECT_EQ(detail::plan(in, all_panels()).preview, detail::Preview::none);
    in.filter_empty = true;
    in.missing_hardware_observe = false;
    EXPECT_EQ(detail::plan(in, all_panels()).preview, detail::Preview::none);

    in.node = nullptr;
    p = detail::plan(in, all_panels());
    EXPECT_TRUE(p.table);
    EXPECT_FALSE(p.disks.shown || p.usb.shown || p.net.shown || p.sensors.shown || p.process_view);
}

TEST(DetailRows, DarkColoursAndStripesCountShownRows) {
    hw::Node n;
    n.title = "Wireless";
    auto& a = n.section("Interface");
    a.add("MTU", "1500");
    a.add("Driver", "iwlwifi");
    n.section("Empty");
    auto all = detail::rows_for(n, "", Palette::dark_());
    ASSERT_EQ(all.size(), 1u) << "an empty section gets no row";
    EXPECT_EQ(all[0].header.background, "#364154"); // accent over panel at 22 % when dark
    EXPECT_EQ(all[0].items[1].background, "#2B2B30");
    auto hits = detail::rows_for(n, "iwl", Palette::dark_());
    ASSERT_EQ(hits.size(), 1u);
    ASSERT_EQ(hits[0].items.size(), 1u);
    EXPECT_FALSE(hits[0].items[0].background.has_value()) << "the first shown row";
}

TEST(WindowLayout, SizePositionAndDivider) {
    Settings s;
    s.window_width = 3000, s.window_height = 900, s.window_x = 10, s.window_y = 20;
    layout::Placement p = layout::place_window(s, {0, 0, 1920, 1080});
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(p.height, 900);
    EXPECT_FALSE(p.move) << "a stored position is used as it is";

    s.window_x = -1;
    p = layout::place_window(s, {100, 50, 1280, 800});
    EXPECT_EQ(p.width, 1280);
    EXPECT_TRUE(p.move);
    EXPECT_EQ(p.x, 100) << "centred in a work area that does not start at 0";
    EXPECT_EQ(p.y, 50);

    s.window_width = 1500, s.window_height = -1; // one dimension missing: the default size
    EXPECT_EQ(layout::place_window(s, {0, 0, 1920, 1080}).width, 1024);

    EXPECT_EQ(layout::divider_position(-1, 1024), 341);
    EXPECT_EQ(layout::divider_position(-1, 700), 240);
    EXPECT_EQ(layout::divider_position(-1, 722), 240);
    EXPECT_EQ(layout::divider_position(300, 1920), 300);
}

TEST(DetailClicks, OneActionPerClick) {
    // A double click on a value: press, press, double-press. Only the double-press acts.
    EXPECT_EQ(detail::classify_click(1, PressKind::single, true, false, false), Click::pass);
    EXPECT_EQ(detail::classify_click(1, PressKind::double_, true, false, false), Click::copy_value);
    EXPECT_EQ(detail::classify_click(1, PressKind::triple, true, false, false), Click::pass);
    // On a locked row the first press acts and the rest of the double click is dropped.
    EXPECT_EQ(detail::classify_click(1, PressKind::single, true, true, false), Click::elevate);
    EXPECT_EQ(detail::classify_click(1, PressKind::double_, true, true, false), Click::swallow);
    EXPECT_EQ(detail::classify_click(1, PressKind::triple, true, true, false), Click::swallow);
    // Presses that waited while an elevation ran do nothing.
    EXPECT_EQ(detail::classify_click(1, PressKind::single, true, true, true), Click::swallow);
    EXPECT_EQ(detail::classify_click(3, PressKind::single, true, false, true), Click::swallow);
    // The context menu on a row; elsewhere the table handles the press itself.
    EXPECT_EQ(detail::classify_click(3, PressKind::single, true, false, false),
              Click::context_menu);
    EXPECT_EQ(detail::classify_click(3, PressKind::single, false, false, false), Click::pass);
    EXPECT_EQ(detail::classify_click(1, PressKind::double_, false, false, false), Click::pass);
    EXPECT_EQ(detail::classify_click(2, PressKind::single, true, true, false), Click::pass);
}
