// The disk and USB cards drawn on image surfaces, and both panels in the window: placed when
// their node is shown, the disk rates sampled only meanwhile, and described for screen readers.
#include "app_inspector.h"
#include "gui/diskview.h"
#include "gui/draw_util.h"
#include "gui/netview.h"
#include "gui/usbview.h"
#include "gui_support.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

using gui_support::Canvas;
using gui_support::wait_until;

namespace {

Rgb rgb(const std::string& hex) {
    Rgb c;
    hex_to_rgb(hex, c);
    return c;
}

// `colour` at `alpha` over `below`, as the cards paint their translucent shapes.
::testing::AssertionResult painted(const Rgb& got, const std::string& colour, double alpha,
                                   const Rgb& below) {
    const Rgb want = mix(rgb(colour), below, alpha);
    if (std::abs(got.r - want.r) + std::abs(got.g - want.g) + std::abs(got.b - want.b) < 0.05)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << rgb_to_hex(got) << " instead of " << rgb_to_hex(want);
}

hw::PartitionVisual part(const std::string& device, uint64_t gib, uint64_t used_gib = 0,
                         const std::string& mount = "") {
    return {device, mount, mount.empty() ? "" : "ext4", gib << 30, used_gib << 30, !mount.empty()};
}

hw::DiskVisual disk(const std::string& device, std::vector<hw::PartitionVisual> parts) {
    hw::DiskVisual d{device, "Samsung SSD 870 EVO 1TB", "SSD", "SATA", 0, std::move(parts)};
    for (const auto& p : d.partitions)
        d.bytes += p.bytes;
    return d;
}

hw::UsbDeviceVisual device(const std::string& port, int depth, double mbit,
                           const std::string& cls = "Vendor Specific Class") {
    return {port,  "Device " + port, "Logitech", cls, "046d:c31c", "", "", mbit, 100,
            depth, cls == "Hub"};
}

hw::UsbControllerVisual controller(std::vector<std::vector<hw::UsbDeviceVisual>> buses) {
    hw::UsbControllerVisual c{
        "0000:00:14.0", "Tiger Lake-LP USB 3.2 xHCI", "Intel Corporation", {}, 0};
    for (auto& devices : buses) {
        const std::string n = std::to_string(c.buses.size() + 1);
        c.device_count += devices.size();
        c.buses.push_back({"usb" + n, n, "USB 2.0 High-Speed", 480, std::move(devices)});
    }
    return c;
}

} // namespace

TEST(Cards, Heights) {
    const hw::DiskVisual three = disk("sda", {part("sda1", 1), part("sda2", 1), part("sda3", 1)});
    const hw::DiskVisual none = disk("sdb", {});
    EXPECT_EQ(diskview::card_height(three), 170);
    EXPECT_EQ(diskview::card_height(none), 130);
    EXPECT_EQ(diskview::height_for({}, 600), 20);
    Canvas s(600, 400);
    EXPECT_EQ(diskview::draw(s.cr, 600, {}, Palette::light(), {}), 8);
    EXPECT_EQ(s.pixel(300, 20), 0u) << "no disks, nothing drawn";
    EXPECT_EQ(diskview::draw(s.cr, 600, {three, none}, Palette::light(), {}), 332);

    const hw::UsbControllerVisual empty = controller({{}});
    EXPECT_EQ(usbview::card_height(empty), 90);
    EXPECT_EQ(usbview::height_for({empty, empty}, 600) - usbview::height_for({empty}, 600), 102);
    const hw::UsbControllerVisual two =
        controller({{device("1-1", 0, 480), device("1-2", 0, 12), device("1-3", 0, 12)}, {}});
    EXPECT_EQ(usbview::card_height(two), 233);
    EXPECT_EQ(usbview::draw(s.cr, 600, {two}, Palette::light()), 10 + 233 + 10);
}

TEST(DiskCards, SmallPartitionsAreWidenedAtTheExpenseOfLargeOnes) {
    const double iw = 576;
    auto w = diskview::segment_widths({part("a", 1), part("b", 50), part("c", 49)}, iw);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_DOUBLE_EQ(w[0], 26);
    EXPECT_NEAR(w[0] + w[1] + w[2], iw, 1e-9) << "the surplus covers the deficit";
    // Each large one gives up the same share of its excess over 26.
    EXPECT_NEAR((iw * 0.50 - w[1]) / (iw * 0.50 - 26), (iw * 0.49 - w[2]) / (iw * 0.49 - 26), 1e-9);
}

TEST(DiskCards, RateLineDropsTheLabelsWhenTheyDoNotFit) {
    testing_support::use_english();
    Canvas s(10, 10);
    const live::DiskIoRate r{1536.0 * 1024 * 1024, 512, true};
    const diskview::RateLine wide = diskview::rate_line(s.cr, 600, r);
    EXPECT_EQ(wide.read + " | " + wide.write,
              "Read  " + draw::isolate("1.50 GiB/s") + " | Write  " + draw::isolate("512 B/s"));
    const diskview::RateLine narrow = diskview::rate_line(s.cr, 150, r);
    EXPECT_EQ(narrow.read + " | " + narrow.write, "1.50 GiB/s | 512 B/s");
    EXPECT_EQ(diskview::rate_line(s.cr, 600, {}).read, "Read  " + draw::isolate("\u2013"))
        << "no rate yet";
    EXPECT_EQ(diskview::rate_text(std::nan("")), "0 B/s");
}

TEST(DiskCards, UsageLineSaysNotMountedOnlyWithoutAMountPoint) {
    testing_support::use_english();
    hw::PartitionVisual unasked = part("sda1", 100);
    unasked.mountpoint = "/home";
    const struct {
        hw::PartitionVisual partition;
        bool says_not_mounted;
    } cases[] = {{part("sda1", 100), true}, {unasked, false}, {part("sda1", 100, 40, "/"), false}};
    for (const auto& c : cases) {
        const std::string text = diskview::describe({disk("sda", {c.partition})}, {});
        EXPECT_EQ(text.find("not mounted") != std::string::npos, c.says_not_mounted) << text;
    }
}

TEST(DiskCards, RenderedLightAndDark) {
    const int width = 700, iw = width - 44;
    std::vector<hw::DiskVisual> disks = {
        disk("nvme0n1", {part("nvme0n1p1", 1, 0, "/boot/efi"), part("nvme0n1p2", 98, 24, "/"),
                         part("nvme0n1p3", 1)}),
        disk("sdb", {})};
    // So many partitions that even at their minimum width they overrun the bar.
    std::vector<hw::PartitionVisual> many = {part("sdc1", 900)};
    for (int i = 2; i <= 31; ++i)
        many.push_back(part("sdc" + std::to_string(i), 1));
    disks.push_back(disk("sdc", many));
    testing_support::use_english();
    for (const Palette& p : {Palette::light(), Palette::dark_()}) {
        SCOPED_TRACE(p.dark ? "dark" : "light");
        Canvas s(width, static_cast<int>(diskview::height_for(disks, width)));
        diskview::draw(s.cr, width, disks, p, {});
        s.save(p.dark ? "disk-cards-dark.png" : "disk-cards-light.png");
        // The second partition in the second slice colour over the bar's track; its used
        // quarter nearly solid.
        const Rgb track = mix(rgb(p.text), rgb(p.panel), p.dark ? 0.10 : 0.07);
        const Rgb body = mix(rgb("#2EC27E"), track, 0.28);
        EXPECT_TRUE(painted(s.rgb(58, 70), "#2EC27E", 0.92, body));
        EXPECT_TRUE(painted(s.rgb(iw - 40, 70), "#2EC27E", 0.28, track));
        const int third_bar = 10 + 170 + 12 + 130 + 12 + 52;
        EXPECT_EQ(s.pixel(width - 4, third_bar + 17), 0u) << "segments stay inside their bar";
    }
}

// The card of a controller without devices ends below its title lines: a bus drawn from y + 56
// would spill out of it.
TEST(UsbCards, AControllerWithoutDevicesDrawsNoBuses) {
    Canvas with_bus(600, 200), without(600, 200);
    usbview::draw(with_bus.cr, 600, {controller({{}, {}})}, Palette::dark_());
    usbview::draw(without.cr, 600, {controller({})}, Palette::dark_());
    for (int y = 0; y < 200; y += 2)
        for (int x = 0; x < 600; x += 2)
            ASSERT_EQ(with_bus.pixel(x, y), without.pixel(x, y)) << x << "," << y;
}

TEST(UsbCards, TreeLinesOfNestedHubs) {
    // A hub with a device and a hub behind it, the inner hub with one device, then another hub
    // on the root hub with one device.
    const std::vector<hw::UsbDeviceVisual> devices = {
        device("1-1", 0, 480, "Hub"), device("1-1.1", 1, 12),       device("1-1.4", 1, 480, "Hub"),
        device("1-1.4.2", 2, 12),     device("1-2", 0, 480, "Hub"), device("1-2.1", 1, 12)};
    const std::vector<std::pair<std::vector<int>, bool>> want = {
        {{}, true}, {{0}, true}, {{0}, false}, {{0}, false}, {{}, false}, {{}, false}};
    for (size_t i = 0; i < devices.size(); ++i) {
        const usbview::RowLines lines = usbview::row_lines(devices, i);
        EXPECT_EQ(lines.through, want[i].first) << devices[i].port;
        EXPECT_EQ(lines.own_continues, want[i].second) << devices[i].port;
    }
}

TEST(UsbCards, RenderedLightAndDark) {
    const int width = 640;
    const std::vector<hw::UsbControllerVisual> cards = {
        controller({{device("1-1", 0, 480, "Human Interface Device"), device("1-2", 0, 480, "Hub"),
                     device("1-2.3", 1, 5000, "Mass Storage"), device("1-4", 0, 0)},
                    {}}),
        controller({{}})};
    for (const Palette& p : {Palette::light(), Palette::dark_()}) {
        SCOPED_TRACE(p.dark ? "dark" : "light");
        Canvas s(width, static_cast<int>(usbview::height_for(cards, width)));
        usbview::draw(s.cr, width, cards, p);
        s.save(p.dark ? "usb-cards-dark.png" : "usb-cards-light.png");
        const int cy = 10 + 56 + 26 + 13; // the first device's row
        EXPECT_TRUE(painted(s.rgb(width - 141, cy), "#3584E4", p.dark ? 0.28 : 0.18, rgb(p.panel)))
            << "the USB 2.0 pill";
        EXPECT_TRUE(painted(s.rgb(118, cy), "#C061CB", 0.95, rgb(p.panel))) << "its class marker";
    }
}

// A large machine's panel is far taller than the window, which draws only the part scrolled
// into view: that part must show exactly what the whole drawing has there, cards cut by the
// edges of the view included.
TEST(Cards, AScrolledViewShowsWhatTheWholeDrawingHasThere) {
    std::vector<hw::DiskVisual> disks;
    std::vector<live::NetIface> ifaces;
    std::vector<hw::UsbDeviceVisual> devices;
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        disks.push_back(disk("sd" + n, {part("sd" + n + "1", 100, 40, "/srv/" + n)}));
        live::NetIface iface;
        iface.name = "eth" + n;
        iface.speed = "1,000 Mbit/s";
        for (int t = 0; t < 30; ++t)
            live::push_history(iface.rx_history, 1000.0 * ((t * 7 + i) % 13));
        ifaces.push_back(iface);
        devices.push_back(device("1-" + n, 0, 480));
    }
    const std::vector<hw::UsbControllerVisual> usb = {controller({devices})};
    const int width = 600, view = 300;
    testing_support::use_english();
    const Palette p = Palette::dark_();
    const struct {
        const char* panel;
        std::function<void(cairo_t*)> draw;
        double height;
    } panels[] = {
        {"disks", [&](cairo_t* cr) { diskview::draw(cr, width, disks, p, {}); },
         diskview::height_for(disks, width)},
        {"network", [&](cairo_t* cr) { netview::draw(cr, width, ifaces, p); },
         static_cast<double>(live::traffic_height(ifaces.size()))},
        {"usb", [&](cairo_t* cr) { usbview::draw(cr, width, usb, p); },
         usbview::height_for(usb, width)},
    };
    for (const auto& panel : panels) {
        SCOPED_TRACE(panel.panel);
        Canvas whole(width, static_cast<int>(panel.height));
        panel.draw(whole.cr);
        const int h = static_cast<int>(panel.height);
        for (int top : {h / 3 + 7, h / 2 + 11, h - view - 5}) {
            Canvas part(width, view);
            cairo_translate(part.cr, 0, -top);
            panel.draw(part.cr);
            for (int y = 0; y < view; ++y)
                for (int x = 0; x < width; x += 3)
                    ASSERT_EQ(part.pixel(x, y), whole.pixel(x, top + y)) << x << "," << top + y;
        }
    }
}

using CardsInWindow = gui_support::WindowTest;

TEST_F(CardsInWindow, RatesRunWhileTheDisksAreShownAndTheUsbCardsFillThePane) {
    using I = AppInspector;
    m_dir.write("sys/block/sda/stat", "100 0 1000 0 50 0 2000 0 0 0 0\n");
    setenv("QUARVEL_SYSROOT", m_tmp.c_str(), 1);
    App* app = &open([] {
        auto root = std::make_unique<hw::Node>();
        root->add_child("storage", "Storage", "\U0001F4BD")->disks = {
            disk("sda", {part("sda1", 1, 0, "/boot"), part("sda2", 200, 80, "/")})};
        hw::Node* usb = root->add_child("usb", "USB devices", "\U0001F50C");
        usb->section("Overview").add("Keyboard", "046d:c31c");
        usb->usb = {controller({{device("1-2", 0, 480, "Hub"), device("1-2.1", 1, 12)}})};
        return root;
    });
    auto described = gui_support::description;
    ASSERT_TRUE(app->select_node_id("storage"));
    EXPECT_TRUE(I::disk_rates(*app).running());
    EXPECT_TRUE(gtk_widget_get_visible(I::disk_scroll(*app)));
    int requested = 0;
    gtk_widget_get_size_request(I::disk_area(*app), nullptr, &requested);
    EXPECT_EQ(requested, 10 + 153 + 12 + 10);
    EXPECT_NE(described(I::disk_area(*app)).find("Read  \u2013"), std::string::npos);

    m_dir.write("sys/block/sda/stat", "300 0 1000 0 90 0 2000000 0 0 0 0\n");
    ASSERT_TRUE(wait_until([&] { return I::disk_rates(*app).rate("sda").write_bps > 0; }, 3000));
    const std::string text = described(I::disk_area(*app));
    EXPECT_NE(text.find("/dev/sda, 201 GiB, Samsung SSD 870 EVO 1TB  \u00B7  SSD  \u00B7  SATA, "
                        "80.0 GiB of 201 GiB in use  (40 %), Read  0 B/s, Write  "),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Write  0 B/s"), std::string::npos);

    ASSERT_TRUE(app->select_node_id("usb"));
    EXPECT_FALSE(I::disk_rates(*app).running()) << "sampling stops with the disks out of sight";
    EXPECT_FALSE(gtk_widget_get_visible(I::disk_scroll(*app)));
    EXPECT_TRUE(gtk_widget_get_visible(I::usb_scroll(*app)));
    EXPECT_NE(described(I::usb_area(*app))
                  .find("2 devices. Bus 1 (USB 2.0 High-Speed): 1-2 Device "
                        "1-2  \u00B7  Logitech, USB 2.0, 100 mA; 1-2.1"),
              std::string::npos);
}
