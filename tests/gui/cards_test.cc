// The disk and USB cards drawn on image surfaces, and both panels in the window: placed when
// their node is shown, the disk rates sampled only meanwhile, and described for screen readers.
#include "app_inspector.h"
#include "gui/diskview.h"
#include "gui/usbview.h"
#include "gui_support.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

using gui_support::process_events;
using gui_support::wait_until;

namespace {

struct Surface {
    Surface(int w, int h) : width(w), height(h) {}
    ~Surface() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    Rgb pixel(int x, int y) const {
        cairo_surface_flush(surface);
        const auto* row =
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        const uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
        return {((p >> 16) & 0xFF) / 255.0, ((p >> 8) & 0xFF) / 255.0, (p & 0xFF) / 255.0};
    }
    uint8_t alpha(int x, int y) const {
        cairo_surface_flush(surface);
        const auto* row =
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t*>(row)[x] >> 24;
    }
    bool same_as(const Surface& o) const {
        cairo_surface_flush(surface);
        cairo_surface_flush(o.surface);
        return std::memcmp(
                   cairo_image_surface_get_data(surface), cairo_image_surface_get_data(o.surface),
                   static_cast<size_t>(cairo_image_surface_get_stride(surface) * height)) == 0;
    }
    void save(const std::string& name) const {
        std::filesystem::create_directories(QUARVEL_ARTIFACT_DIR);
        cairo_surface_write_to_png(surface,
                                   (std::string(QUARVEL_ARTIFACT_DIR) + "/" + name).c_str());
    }
    int width, height;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
};

// `colour` at `alpha` over `below`, as the cards paint their translucent shapes.
::testing::AssertionResult painted(const Rgb& got, const std::string& colour, double alpha,
                                   const Rgb& below) {
    Rgb c;
    hex_to_rgb(colour, c);
    const Rgb want = mix(c, below, alpha);
    if (std::abs(got.r - want.r) < 0.02 && std::abs(got.g - want.g) < 0.02 &&
        std::abs(got.b - want.b) < 0.02)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << rgb_to_hex(got) << ", want " << rgb_to_hex(want);
}

Rgb rgb(const std::string& hex) {
    Rgb c;
    hex_to_rgb(hex, c);
    return c;
}

hw::PartitionVisual part(const std::string& device, uint64_t gib, uint64_t used_gib = 0,
                         const std::string& mount = "") {
    hw::PartitionVisual p;
    p.device = device, p.bytes = gib << 30, p.used = used_gib << 30;
    p.has_usage = !mount.empty();
    p.mountpoint = mount, p.fstype = mount.empty() ? "" : "ext4";
    return p;
}

hw::DiskVisual disk(const std::string& device, std::vector<hw::PartitionVisual> parts) {
    hw::DiskVisual d;
    d.device = device, d.model = "Samsung SSD 870 EVO 1TB", d.type = "SSD", d.bus = "SATA";
    d.partitions = std::move(parts);
    for (const auto& p : d.partitions)
        d.bytes += p.bytes;
    return d;
}

hw::UsbDeviceVisual usb_device(const std::string& port, int depth, double mbit,
                               const std::string& cls = "Vendor Specific Class") {
    hw::UsbDeviceVisual d;
    d.port = port, d.name = "Device " + port, d.vendor = "Logitech", d.cls = cls;
    d.mbit = mbit, d.depth = depth, d.power_ma = 100, d.is_hub = cls == "Hub";
    return d;
}

hw::UsbControllerVisual controller(std::vector<std::vector<hw::UsbDeviceVisual>> buses) {
    hw::UsbControllerVisual c;
    c.id = "0000:00:14.0", c.name = "Tiger Lake-LP USB 3.2 xHCI", c.vendor = "Intel Corporation";
    for (size_t i = 0; i < buses.size(); ++i) {
        hw::UsbBusVisual b;
        b.port = "usb" + std::to_string(i + 1), b.number = std::to_string(i + 1);
        b.gen = "USB 2.0 High-Speed", b.mbit = 480;
        b.devices = buses[i];
        c.device_count += b.devices.size();
        c.buses.push_back(b);
    }
    return c;
}

// Texts are compared in English, whatever an earlier test left behind.
void english() {
    I18n::instance().set_language("en");
    util::set_number_format(".", ",");
}

live::DiskRateTable rates_of(const std::string& device, uint64_t read_sectors,
                             uint64_t write_sectors) {
    live::DiskRateTable t;
    t.set_devices({device});
    t.sample(1000000, [](const std::string&) { return "0 0 0 0 0 0 0"; });
    t.sample(2000000, [&](const std::string&) {
        return "0 0 " + std::to_string(read_sectors) + " 0 0 0 " + std::to_string(write_sectors);
    });
    return t;
}

} // namespace

TEST(DiskCards, HeightsFollowThePartitionRows) {
    const hw::DiskVisual three = disk("sda", {part("sda1", 1), part("sda2", 1), part("sda3", 1)});
    const hw::DiskVisual none = disk("sdb", {});
    EXPECT_EQ(diskview::card_height(three), 170);
    EXPECT_EQ(diskview::card_height(none), 130);
    EXPECT_EQ(diskview::height_for({}, 600), 20);
    EXPECT_EQ(diskview::height_for({three, none}, 600), 10 + 182 + 142 + 10);

    Surface s(600, 400);
    EXPECT_EQ(diskview::draw(s.cr, 600, {}, Palette::light(), {}), 8);
    EXPECT_EQ(s.alpha(300, 20), 0) << "no disks, nothing drawn";
    EXPECT_EQ(diskview::draw(s.cr, 600, {three, none}, Palette::light(), {}),
              10 + 170 + 12 + 130 + 10);
}

TEST(DiskCards, SmallPartitionsAreWidenedAtTheExpenseOfLargeOnes) {
    const double iw = 576;
    auto w = diskview::segment_widths({part("a", 1), part("b", 50), part("c", 49)}, iw);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_DOUBLE_EQ(w[0], 26);
    EXPECT_NEAR(w[0] + w[1] + w[2], iw, 1e-9) << "the surplus covers the deficit";
    // Each large one gives up the same share of its excess over 26.
    EXPECT_NEAR((iw * 50 / 100 - w[1]) / (iw * 50 / 100 - 26),
                (iw * 49 / 100 - w[2]) / (iw * 49 / 100 - 26), 1e-9);
}

TEST(DiskCards, RateLineDropsTheLabelsWhenTheyDoNotFit) {
    english();
    Surface s(10, 10);
    const live::DiskIoRate r{1536.0 * 1024 * 1024, 512, true};
    diskview::RateLine wide = diskview::rate_line(s.cr, 600, r);
    EXPECT_EQ(wide.read, "Read  1.50 GiB/s");
    EXPECT_EQ(wide.write, "Write  512 B/s");
    diskview::RateLine narrow = diskview::rate_line(s.cr, 150, r);
    EXPECT_EQ(narrow.read, "1.50 GiB/s");
    EXPECT_EQ(narrow.write, "512 B/s");
    EXPECT_EQ(diskview::rate_line(s.cr, 600, {}).read, "Read  \u2013") << "no rate yet";
    for (double odd : {-5.0, std::nan(""), 1e30})
        EXPECT_FALSE(diskview::rate_text(odd).empty());
}

TEST(DiskCards, RenderedLightAndDark) {
    const int width = 700, iw = width - 44;
    std::vector<hw::DiskVisual> disks = {
        disk("nvme0n1", {part("nvme0n1p1", 1, 0, "/boot/efi"), part("nvme0n1p2", 98, 24, "/"),
                         part("nvme0n1p3", 1)}),
        disk("sdb", {})};
    const live::DiskRateTable rates = rates_of("nvme0n1", 2048, 96);
    // So many partitions that even at their minimum width they overrun the bar.
    std::vector<hw::PartitionVisual> many = {part("sdc1", 900)};
    for (int i = 2; i <= 31; ++i)
        many.push_back(part("sdc" + std::to_string(i), 1));
    disks.push_back(disk("sdc", many));

    english();
    for (const Palette& p : {Palette::light(), Palette::dark_()}) {
        SCOPED_TRACE(p.dark ? "dark" : "light");
        const int height = static_cast<int>(diskview::height_for(disks, width));
        Surface s(width, height);
        diskview::draw(s.cr, width, disks, p, rates);
        s.save(p.dark ? "disk-cards-dark.png" : "disk-cards-light.png");
        const Rgb track = mix(rgb(p.text), rgb(p.panel), p.dark ? 0.10 : 0.07);
        // The second partition (98 %, a quarter in use): second slice colour, used part solid.
        const double yb = 10 + 52, x2 = 22 + 26 + 10;
        const Rgb body = mix(rgb("#2EC27E"), track, 0.28);
        EXPECT_TRUE(painted(s.pixel(static_cast<int>(x2), static_cast<int>(yb + 8)), "#2EC27E",
                            0.92, body));
        EXPECT_TRUE(painted(s.pixel(iw - 40, static_cast<int>(yb + 8)), "#2EC27E", 0.28, track));
        const double third = 10 + diskview::card_height(disks[0]) + 12 + 130 + 12;
        EXPECT_EQ(s.alpha(width - 4, static_cast<int>(third + 52 + 17)), 0)
            << "segments stay inside their bar";
    }
}

TEST(UsbCards, Heights) {
    hw::UsbControllerVisual empty = controller({{}});
    EXPECT_EQ(usbview::card_height(empty), 90);
    EXPECT_EQ(usbview::height_for({empty, empty}, 600) - usbview::height_for({empty}, 600), 102);
    EXPECT_EQ(usbview::height_for({}, 600), 20);
    hw::UsbControllerVisual two = controller(
        {{usb_device("1-1", 0, 480), usb_device("1-2", 0, 12), usb_device("1-3", 0, 12)}, {}});
    EXPECT_EQ(usbview::card_height(two), 233);
    Surface s(600, 300);
    EXPECT_EQ(usbview::draw(s.cr, 600, {two}, Palette::light()), 10 + 233 + 10);
}

// The card of a controller without devices ends below its title lines: a bus drawn from y + 56
// would spill out of it.
TEST(UsbCards, AControllerWithoutDevicesDrawsNoBuses) {
    Surface with_bus(600, 200), without(600, 200);
    usbview::draw(with_bus.cr, 600, {controller({{}, {}})}, Palette::dark_());
    usbview::draw(without.cr, 600, {controller({})}, Palette::dark_());
    EXPECT_TRUE(with_bus.same_as(without));
    EXPECT_EQ(with_bus.alpha(130, 10 + 95), 0) << "nothing below the card";
}

TEST(UsbCards, TreeLinesOfNestedHubs) {
    // A hub with a device and a hub behind it, the inner hub with one device, then another hub
    // on the root hub with one device.
    const std::vector<hw::UsbDeviceVisual> devices = {
        usb_device("1-1", 0, 480, "Hub"),   usb_device("1-1.1", 1, 12),
        usb_device("1-1.4", 1, 480, "Hub"), usb_device("1-1.4.2", 2, 12),
        usb_device("1-2", 0, 480, "Hub"),   usb_device("1-2.1", 1, 12)};
    struct Want {
        std::vector<int> through;
        bool own_continues;
    };
    const std::vector<Want> want = {{{}, true},   {{0}, true}, {{0}, false},
                                    {{0}, false}, {{}, false}, {{}, false}};
    for (size_t i = 0; i < devices.size(); ++i) {
        usbview::RowLines lines = usbview::row_lines(devices, i);
        EXPECT_EQ(lines.through, want[i].through) << devices[i].port;
        EXPECT_EQ(lines.own_continues, want[i].own_continues) << devices[i].port;
    }
    // Without a later device on the root hub, the root level ends at the first hub.
    const std::vector<hw::UsbDeviceVisual> one_hub(devices.begin(), devices.begin() + 4);
    EXPECT_FALSE(usbview::row_lines(one_hub, 0).own_continues);
    EXPECT_TRUE(usbview::row_lines(one_hub, 1).through.empty());
    EXPECT_EQ(usbview::level_x(2) - usbview::level_x(1), 15);
}

TEST(UsbCards, RenderedLightAndDark) {
    const int width = 640;
    const std::vector<hw::UsbControllerVisual> cards = {
        controller(
            {{usb_device("1-1", 0, 480, "Human Interface Device"), usb_device("1-2", 0, 480, "Hub"),
              usb_device("1-2.3", 1, 5000, "Mass Storage"), usb_device("1-4", 0, 0)},
             {}}),
        controller({{}})};
    for (const Palette& p : {Palette::light(), Palette::dark_()}) {
        SCOPED_TRACE(p.dark ? "dark" : "light");
        Surface s(width, static_cast<int>(usbview::height_for(cards, width)));
        usbview::draw(s.cr, width, cards, p);
        s.save(p.dark ? "usb-cards-dark.png" : "usb-cards-light.png");
        const Rgb panel = rgb(p.panel);
        const int cy = 10 + 56 + 26 + 13; // first device row
        EXPECT_TRUE(painted(s.pixel(width - 144 + 3, cy), "#3584E4", p.dark ? 0.28 : 0.18, panel))
            << "the USB 2.0 pill";
        EXPECT_TRUE(painted(s.pixel(118, cy), "#C061CB", 0.95, panel))
            << "a human interface device";
        EXPECT_TRUE(
            painted(s.pixel(width - 144 + 3, cy + 3 * 27), p.text, p.dark ? 0.055 : 0.035, panel))
            << "no pill without a speed, only the stripe of an odd row";
    }
}

TEST(Cards, DescriptionsNameWhatIsDrawn) {
    english();
    const std::string disks = diskview::describe(
        {disk("sda", {part("sda1", 100, 25, "/home")}), disk("sdb", {})}, rates_of("sda", 2, 0));
    for (const std::string& fact : {std::string("/dev/sda, 100 GiB, Samsung SSD 870 EVO 1TB"),
                                    std::string("25.0 GiB of 100 GiB in use  (25 %)"),
                                    std::string("Read  1.00 KiB/s, Write  0 B/s"),
                                    std::string("sda1   100 GiB   ext4   /home"),
                                    std::string("/dev/sdb"), std::string("no partition table")})
        EXPECT_NE(disks.find(fact), std::string::npos) << fact << "\n" << disks;

    const std::string usb = usbview::describe(
        {controller({{usb_device("1-2", 0, 480, "Hub"), usb_device("1-2.1", 1, 12)}, {}})});
    for (const char* fact : {"Tiger Lake-LP USB 3.2 xHCI, Intel Corporation", "2 devices", "Bus 1",
                             "1-2.1 Device 1-2.1  \u00B7  Logitech, USB 1.1, 100 mA",
                             "Bus 2 (USB 2.0 High-Speed): no devices"})
        EXPECT_NE(usb.find(fact), std::string::npos) << fact << "\n" << usb;
}

// ---- In the window --------------------------------------------------------------------------

namespace {

using I = AppInspector;

std::unique_ptr<hw::Node> machine_with_cards() {
    auto root = std::make_unique<hw::Node>();
    root->id = "root";
    root->add_child("system", "System", "\U0001F3E2")->section("Machine").add("Vendor", "Acme");
    hw::Node* storage = root->add_child("storage", "Storage", "\U0001F4BD");
    storage->disks = {disk("sda", {part("sda1", 1, 0, "/boot"), part("sda2", 200, 80, "/")}),
                      disk("sdb", {})};
    hw::Node* usb = root->add_child("usb", "USB devices", "\U0001F50C");
    usb->section("Overview").add("Keyboard", "046d:c31c");
    usb->usb = {controller({{usb_device("1-2", 0, 480, "Hub"), usb_device("1-2.1", 1, 12)}})};
    return root;
}

std::string description(GtkWidget* w) {
    const char* d = atk_object_get_description(gtk_widget_get_accessible(w));
    return d ? d : "";
}

void write_file(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

} // namespace

TEST(CardsInWindow, RatesRunWhileTheDisksAreShownAndTheUsbCardsFillThePane) {
    char dir[] = "/tmp/quarvel-cards-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string stat = std::string(dir) + "/sys/block/sda/stat";
    write_file(stat, "100 0 1000 0 50 0 2000 0 0 0 0\n");
    setenv("QUARVEL_SYSROOT", dir, 1);
    SettingsStore::instance().mutable_get() = Settings{};
    SettingsStore::instance().mutable_get().theme = "light";
    auto app = std::make_unique<App>();
    I::start(*app, machine_with_cards);
    ASSERT_TRUE(wait_until([&] { return gtk_widget_get_mapped(I::window(*app)); }));

    ASSERT_TRUE(app->select_node_id("storage"));
    process_events(50);
    EXPECT_TRUE(I::disk_rates(*app).running());
    EXPECT_TRUE(gtk_widget_get_visible(I::disk_scroll(*app)));
    EXPECT_FALSE(gtk_widget_get_visible(I::detail_scroll(*app))) << "the node has no rows";
    int requested = 0;
    gtk_widget_get_size_request(I::disk_area(*app), nullptr, &requested);
    EXPECT_EQ(requested, diskview::height_for(I::selected(*app)->disks, 600));
    EXPECT_NE(description(I::disk_area(*app)).find("Read  \u2013"), std::string::npos);

    write_file(stat, "300 0 1000 0 90 0 2000000 0 0 0 0\n");
    ASSERT_TRUE(wait_until([&] { return I::disk_rates(*app).rate("sda").valid; }, 3000));
    ASSERT_TRUE(wait_until([&] { return I::disk_rates(*app).rate("sda").write_bps > 0; }, 3000));
    const std::string described = description(I::disk_area(*app));
    EXPECT_EQ(described.find("Write  0 B/s"), std::string::npos) << described;
    EXPECT_NE(described.find("Read  0 B/s"), std::string::npos) << described;

    ASSERT_TRUE(app->select_node_id("usb"));
    process_events(50);
    EXPECT_FALSE(I::disk_rates(*app).running()) << "sampling stops with the disks out of sight";
    EXPECT_FALSE(gtk_widget_get_visible(I::disk_scroll(*app)));
    EXPECT_TRUE(gtk_widget_get_visible(I::usb_scroll(*app)));
    EXPECT_FALSE(gtk_widget_get_visible(I::detail_scroll(*app))) << "the cards replace the rows";
    EXPECT_NE(description(I::usb_area(*app)).find("1-2.1 Device 1-2.1"), std::string::npos);

    app.reset();
    process_events();
    unsetenv("QUARVEL_SYSROOT");
    std::filesystem::remove_all(dir);
    SettingsStore::instance().mutable_get() = Settings{};
}
