// The USB branch: topology from directory names, speeds, the controller records the cards
// are drawn from, and the collector over fixture machines and broken trees.
#include "hw/collect_usb.h"
#include "hw/usb_topology.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <map>

using testing_support::TempDir;
using namespace hw;

namespace {

const auto collector = testing_support::with_ids(collect_usb_with);

} // namespace

TEST(UsbTopology, TreeFromNamesSpeedsAndPower) {
    auto children = usb_children(
        {"1-2", "1-2.4", "1-2.7.3", "1-10", "1-2:1.0", "usb1", "9-1", "1-2..3", "garbage"});
    EXPECT_EQ(children["usb1"], (std::vector<std::string>{"1-2", "1-10"}));
    // 1-2.7 is not listed (unplugged while the directory was read): its device goes to 1-2.
    EXPECT_EQ(children["1-2"], (std::vector<std::string>{"1-2.4", "1-2.7.3"}));
    EXPECT_EQ(children[""], std::vector<std::string>{"9-1"}); // bus 9 has no root hub
    EXPECT_EQ(children.size(), 3u);

    util::set_number_format(".", ",");
    EXPECT_EQ(usb_speed_text("1.5"), "1.5 Mbit/s  (USB 1.0 Low-Speed)"); // not "2 Mbit/s"
    EXPECT_EQ(usb_speed_text("unknown"), "unknown");
    EXPECT_EQ(usb_power_ma("99999999999999999999mA"), 0); // beyond 64 bits: no number
    EXPECT_EQ(usb_power_ma("4000000000mA"), 1000000);     // never wraps an int
}

TEST(UsbBranch, LaptopTreeAndCards) {
    const char* laptop = "laptop-usb-battery";
    auto trees = testing_support::expect_facts(
        collector,
        {
            {laptop, "usb", "", "summary", "11 devices"}, // root hubs are not counted
            // No product string: the database names the device and its vendor.
            {laptop, "usb.1-4", "", "title", "Prometheus Fingerprint Reader"},
            {laptop, "usb.1-4", "", "Vendor ID", "0x06cb  (Synaptics, Inc.)"},
            {laptop, "usb.1-4", "", "Speed", "<no row>"},    // the speed file is empty
            {laptop, "usb.usb2", "", "USB version", "3.10"}, // the kernel's leading space is gone
            {laptop, "usb.1-2.4.1", "", "USB version", "1.10"}, // as written, not "1.1"
        });
    const Node* usb = trees[laptop]->find("usb");
    // Interfaces in natural order: 1.10 after 1.9.
    const Section& ifaces = usb->find("usb.1-6")->sections.back();
    ASSERT_EQ(ifaces.items.size(), 12u);
    EXPECT_EQ(ifaces.items[10].name, "1-6:1.10");

    // The cards: one xHCI with its USB 2 and USB 3 bus, then the Thunderbolt controller.
    ASSERT_EQ(usb->usb.size(), 2u);
    const auto& xhci = usb->usb[0];
    EXPECT_EQ(xhci.id + " / " + xhci.vendor, "0000:00:14.0 / Intel Corporation");
    ASSERT_EQ(xhci.buses.size(), 2u);
    // "port@depth class, gen, power"; a device of class 0 shows its first interface's class.
    std::vector<std::string> layout;
    for (const auto& d : xhci.buses[0].devices)
        layout.push_back(d.port + "@" + std::to_string(d.depth) + " " + d.cls + ", " + d.gen +
                         ", " + std::to_string(d.power_ma) + " mA");
    EXPECT_EQ(layout, (std::vector<std::string>{
                          "1-2@0 Hub, USB 2.0 High-Speed, 100 mA",
                          "1-2.1@1 Human Interface Device, USB 1.0 Low-Speed, 100 mA",
                          "1-2.4@1 Hub, USB 2.0 High-Speed, 100 mA",
                          "1-2.4.1@2 Human Interface Device, USB 1.1 Full-Speed, 90 mA",
                          "1-3@0 Miscellaneous, USB 2.0 High-Speed, 500 mA",
                          "1-4@0 Vendor Specific, , 100 mA",
                          "1-6@0 Miscellaneous, USB 2.0 High-Speed, 500 mA",
                          "1-10@0 Wireless, USB 1.1 Full-Speed, 100 mA"}));
    EXPECT_EQ(xhci.buses[1].gen, "USB 3.1 Gen 2");
    EXPECT_EQ(xhci.buses[0].devices[4].vendor, "Chicony Electronics Co.,Ltd."); // its own text
    // Both are input devices; only one is a mouse.
    EXPECT_EQ(usb->find("usb.1-2.1")->icon, "\U0001F5B1");
    EXPECT_EQ(usb->find("usb.1-2.4.1")->icon, "\u2328\uFE0F");
}

// The device's class, its icon and its interface rows all use each interface's class.
TEST(UsbBranch, InterfaceFilesAreReadOnce) {
    const auto reads = testing_support::reads_during([] {
        testing_support::collect(collector, testing_support::fixture("laptop-usb-battery"));
    });
    std::vector<std::string> again;
    size_t interface_files = 0;
    for (const auto& [path, times] : reads) {
        if (path.find("/bInterface") == std::string::npos) continue;
        ++interface_files;
        if (times > 1) again.push_back(path);
    }
    EXPECT_GT(interface_files, 20u);
    EXPECT_EQ(again, std::vector<std::string>{});
}

TEST(UsbBranch, ManyDevicesReadOnTwoThreadsKeepTheirOwnFacts) {
    TempDir dir;
    for (int i = 1; i <= 70; ++i)
        dir.write("sys/bus/usb/devices/3-" + std::to_string(i) + "/product",
                  "Gadget " + std::to_string(i) + "\n");
    auto root = testing_support::collect(collector, dir.path());
    EXPECT_EQ(root->find("usb")->summary, "70 devices");
    for (int i = 1; i <= 70; ++i) {
        const Node* n = root->find("usb.3-" + std::to_string(i));
        ASSERT_NE(n, nullptr) << i;
        EXPECT_EQ(n->title, "Gadget " + std::to_string(i));
    }
}

TEST(UsbBranch, BrokenAndPlatformTrees) {
    TempDir dir;
    std::string d = "sys/bus/usb/devices/";
    // Bus 5 has no root hub; garbage ids, bytes that are no UTF-8, a name that is no device.
    dir.write(d + "5-1/idVendor", "zzzz\n");
    dir.write(d + "5-1/idProduct", "12345678\n");
    dir.write(d + "5-1/product", "Gadget \xff\xfe\n");
    dir.write(d + "usbmon/idVendor", "1d6b\n");
    // A nameless receiver is a keyboard by its boot protocol, not by its name.
    dir.write(d + "5-2/bDeviceClass", "00\n");
    for (const char* f : {"bInterfaceClass=03", "bInterfaceSubClass=01", "bInterfaceProtocol=01"}) {
        std::string kv = f;
        dir.write(d + "5-2/5-2:1.0/" + kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1));
    }
    auto broken = testing_support::collect(collector, dir.path());
    EXPECT_EQ(broken->find("usb")->summary, "2 devices");
    ASSERT_NE(broken->find("usb.5-2"), nullptr);
    EXPECT_EQ(broken->find("usb.5-2")->icon, "\u2328\uFE0F");
    const Node* gadget = broken->find("usb.5-1");
    ASSERT_NE(gadget, nullptr);
    EXPECT_EQ(gadget->title, "Gadget \uFFFD\uFFFD");
    // Ids that are no 16-bit hex number are no ids: cut to 16 bits they would name another device.
    for (const char* key : {"f.vendor_id", "f.product_id"})
        EXPECT_EQ(testing_support::find_row(gadget, "", tr(key)), nullptr) << key;
    EXPECT_TRUE(broken->find("usb")->usb.empty()); // no root hub, no card

    // A platform controller is named by its root hubs; an older kernel leaves the serial out,
    // and the directory names the controller then.
    TempDir soc;
    std::string ctrl = "sys/devices/platform/soc/a600000.usb/xhci-hcd.1.auto";
    for (const char* hub : {"usb1", "usb2"}) {
        soc.write(ctrl + "/" + hub + "/product", "xHCI Host Controller\n");
        soc.write(ctrl + "/" + hub + "/busnum", std::string(hub + 3) + "\n");
        soc.symlink("../../../devices/platform/soc/a600000.usb/xhci-hcd.1.auto/" + std::string(hub),
                    d + hub);
    }
    soc.write(ctrl + "/usb2/serial", "xhci-hcd.1.auto\n");
    auto platform = testing_support::collect(collector, soc.path());
    const auto& cards = platform->find("usb")->usb;
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].id + " / " + cards[0].name, "xhci-hcd.1.auto / xHCI Host Controller");
    EXPECT_EQ(cards[0].buses.size(), 2u);
}
