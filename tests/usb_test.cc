// The USB branch: topology from directory names, speeds, the controller records the cards
// are drawn from, and the collector over fixture machines and broken trees.
#include "hw/collect_usb.h"
#include "hw/usb_topology.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;
using namespace hw;

namespace {

class UsbBranch : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }
};

std::unique_ptr<Node> collect(const std::string& sysroot) {
    ScopedEnv root("QUARVEL_SYSROOT", sysroot);
    ScopedEnv snap("SNAP", std::nullopt);
    auto tree = std::make_unique<Node>();
    collect_usb_with(*tree, Ids::load());
    return tree;
}

std::string value(const Node& n, const std::string& label) {
    for (const auto& s : n.sections)
        for (const auto& item : s.items)
            if (item.name == label) return item.value;
    return "<no row>";
}

// "port@depth" for each device of a bus, in card order.
std::vector<std::string> layout(const UsbBusVisual& bus) {
    std::vector<std::string> out;
    for (const auto& d : bus.devices)
        out.push_back(d.port + "@" + std::to_string(d.depth));
    return out;
}

std::vector<std::string> child_ids(const Node& n) {
    std::vector<std::string> out;
    for (const auto& c : n.children)
        out.push_back(c->id);
    return out;
}

} // namespace

TEST(UsbTopology, NamesFollowTheKernelsScheme) {
    EXPECT_TRUE(usb_is_root_hub_name("usb12"));
    EXPECT_FALSE(usb_is_root_hub_name("usbmon"));
    EXPECT_TRUE(usb_is_device_name("3-1.5.4.2"));
    EXPECT_FALSE(usb_is_device_name("1-2:1.0")); // an interface
    EXPECT_FALSE(usb_is_device_name("1-2..3"));
    EXPECT_EQ(usb_bus_of("12-4.1"), "12");
}

TEST(UsbTopology, DevicesHangBelowTheNearestHubThatExists) {
    auto children = usb_children({"1-2", "1-2.4", "1-2.4.1", "1-2.7.3", "1-10", "2-1", "1-2:1.0",
                                  "usb1", "usb2", "9-1", "garbage"});
    EXPECT_EQ(children["usb1"], (std::vector<std::string>{"1-2", "1-10"}));
    // 1-2.7 is not listed (unplugged while the directory was read): its device goes to 1-2.
    EXPECT_EQ(children["1-2"], (std::vector<std::string>{"1-2.4", "1-2.7.3"}));
    EXPECT_EQ(children["1-2.4"], std::vector<std::string>{"1-2.4.1"});
    EXPECT_EQ(children["usb2"], std::vector<std::string>{"2-1"});
    EXPECT_EQ(children[""], std::vector<std::string>{"9-1"}); // bus 9 has no root hub
    EXPECT_EQ(children.count("garbage"), 0u);
}

TEST(UsbTopology, SpeedsThatAreNoWholeNumberOrNoNumber) {
    util::set_number_format(".", ",");
    EXPECT_EQ(usb_speed_text("1.5"), "1.5 Mbit/s  (USB 1.0 Low-Speed)"); // not "2 Mbit/s"
    EXPECT_EQ(usb_speed_text("20000"), "20,000 Mbit/s  (USB 3.2 Gen 2x2)");
    EXPECT_EQ(usb_speed_text(""), "");
    EXPECT_EQ(usb_speed_text("unknown"), "unknown");
    EXPECT_EQ(usb_mbit("unknown"), 0);
    EXPECT_EQ(usb_power_ma("  0mA"), 0);
    EXPECT_EQ(usb_power_ma("500mA"), 500);
    EXPECT_EQ(usb_power_ma("99999999999999999999mA"), 0); // beyond 64 bits: no number
    EXPECT_EQ(usb_power_ma("4000000000mA"), 1000000);     // never wraps an int
}

TEST_F(UsbBranch, LaptopTreeAndCards) {
    auto tree = collect(testing_support::fixture("laptop-usb-battery"));
    const Node* usb = tree->find("usb");
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->summary, "11 devices"); // root hubs are not counted
    EXPECT_EQ(child_ids(*usb),
              (std::vector<std::string>{"usb.usb1", "usb.usb2", "usb.usb3", "usb.usb4"}));
    EXPECT_EQ(child_ids(*tree->find("usb.usb1")),
              (std::vector<std::string>{"usb.1-2", "usb.1-3", "usb.1-4", "usb.1-6", "usb.1-10"}));
    EXPECT_EQ(child_ids(*tree->find("usb.1-2")),
              (std::vector<std::string>{"usb.1-2.1", "usb.1-2.4"}));
    EXPECT_EQ(child_ids(*tree->find("usb.1-2.4")), std::vector<std::string>{"usb.1-2.4.1"});
    EXPECT_TRUE(tree->find("usb.usb3")->children.empty());

    // No product string: the database names the device and its vendor.
    const Node* fp = tree->find("usb.1-4");
    EXPECT_EQ(fp->title, "Prometheus Fingerprint Reader");
    EXPECT_EQ(value(*fp, "Vendor ID"), "0x06cb  (Synaptics, Inc.)");
    EXPECT_EQ(value(*fp, "Speed"), "<no row>"); // the speed file is empty
    EXPECT_EQ(value(*fp, "1-4:1.0"), "Class 0xff (Vendor Specific) → no driver bound, 4 endpoints");
    const Node* mouse = tree->find("usb.1-2.1");
    EXPECT_EQ(value(*mouse, "Speed"), "1.5 Mbit/s  (USB 1.0 Low-Speed)");
    EXPECT_EQ(value(*mouse, "Maximum power"), "100 mA");
    const Node* root_hub = tree->find("usb.usb2");
    EXPECT_EQ(root_hub->title, "xHCI Host Controller");
    EXPECT_EQ(root_hub->summary, "10,000 Mbit/s  (USB 3.1 Gen 2)");
    EXPECT_EQ(value(*root_hub, "USB version"), "3.10"); // the kernel's leading space is gone
    const Node* stick = tree->find("usb.2-1");
    EXPECT_EQ(value(*stick, "Manufacturer"), "USB");
    // Interfaces in natural order: 1.10 after 1.9.
    const Node* modem = tree->find("usb.1-6");
    const Section& ifaces = modem->sections.back();
    ASSERT_EQ(ifaces.items.size(), 12u);
    EXPECT_EQ(ifaces.items[9].name, "1-6:1.9");
    EXPECT_EQ(ifaces.items[10].name, "1-6:1.10");

    const Section& overview = usb->sections.front();
    ASSERT_EQ(overview.items.size(), 11u);
    EXPECT_EQ(overview.items[0].name, "1-2");
    EXPECT_EQ(overview.items[0].value, "USB2.1 Hub  05e3:0610");

    // The cards: one xHCI with its USB 2 and USB 3 bus, then the Thunderbolt controller.
    ASSERT_EQ(usb->usb.size(), 2u);
    const auto& xhci = usb->usb[0];
    EXPECT_EQ(xhci.id, "0000:00:14.0");
    EXPECT_EQ(xhci.name, "Tiger Lake-LP USB 3.2 Gen 2x1 xHCI Host Controller");
    EXPECT_EQ(xhci.vendor, "Intel Corporation");
    EXPECT_EQ(xhci.device_count, 10u);
    ASSERT_EQ(xhci.buses.size(), 2u);
    EXPECT_EQ(xhci.buses[1].gen, "USB 3.1 Gen 2");
    EXPECT_EQ(layout(xhci.buses[0]),
              (std::vector<std::string>{"1-2@0", "1-2.1@1", "1-2.4@1", "1-2.4.1@2", "1-3@0",
                                        "1-4@0", "1-6@0", "1-10@0"}));
    EXPECT_EQ(layout(xhci.buses[1]), (std::vector<std::string>{"2-1@0", "2-3@0"}));
    const auto& hub = xhci.buses[0].devices[0];
    EXPECT_TRUE(hub.is_hub);
    EXPECT_EQ(hub.cls, "Hub");
    EXPECT_EQ(hub.power_ma, 100);
    const auto& keyboard = xhci.buses[0].devices[3];
    EXPECT_FALSE(keyboard.is_hub);
    EXPECT_EQ(keyboard.cls, "Human Interface Device"); // class 0: its first interface's
    EXPECT_EQ(keyboard.ids, "046d:c31c");
    EXPECT_EQ(keyboard.gen, "USB 1.1 Full-Speed");
    EXPECT_EQ(keyboard.power_ma, 90);
    const auto& fingerprint = xhci.buses[0].devices[5];
    EXPECT_EQ(fingerprint.name, "Prometheus Fingerprint Reader");
    EXPECT_EQ(fingerprint.mbit, 0);
    EXPECT_EQ(fingerprint.gen, "");
    const auto& bluetooth = xhci.buses[0].devices[7];
    EXPECT_EQ(bluetooth.name, "AX201 Bluetooth");
    EXPECT_EQ(bluetooth.vendor, "Intel Corp.");
    EXPECT_EQ(bluetooth.cls, "Wireless");
    const auto& webcam = xhci.buses[0].devices[4];
    EXPECT_EQ(webcam.vendor, "Chicony Electronics Co.,Ltd."); // the device's own text first
    EXPECT_EQ(webcam.power_ma, 500);

    const auto& tb = usb->usb[1];
    EXPECT_EQ(tb.name, "Tiger Lake-LP Thunderbolt 4 USB Controller");
    EXPECT_EQ(tb.device_count, 1u);
    ASSERT_EQ(tb.buses.size(), 2u);
    EXPECT_TRUE(tb.buses[0].devices.empty());
    ASSERT_EQ(tb.buses[1].devices.size(), 1u);
    EXPECT_EQ(tb.buses[1].devices[0].mbit, 20000);
    EXPECT_EQ(tb.buses[1].devices[0].gen, "USB 3.2 Gen 2x2");
}

TEST_F(UsbBranch, MissingAndBrokenTrees) {
    TempDir none;
    auto empty = collect(none.path());
    const Node* usb = empty->find("usb");
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->summary, "0 devices");
    EXPECT_TRUE(usb->children.empty());
    EXPECT_TRUE(usb->usb.empty());
    EXPECT_TRUE(usb->sections.front().empty());

    TempDir dir;
    std::string d = "sys/bus/usb/devices/";
    // Bus 5 has no root hub; garbage ids, a bMaxPower without a number, bytes that are no
    // UTF-8 and a name that is no USB device.
    dir.write(d + "5-1/idVendor", "zzzz\n");
    dir.write(d + "5-1/idProduct", "12345678\n");
    dir.write(d + "5-1/bMaxPower", "none\n");
    dir.write(d + "5-1/product", "Gadget \xff\xfe\n");
    dir.write(d + "5-1/speed", "unknown\n");
    dir.write(d + "usbmon/idVendor", "1d6b\n");
    auto broken = collect(dir.path());
    const Node* b = broken->find("usb");
    EXPECT_EQ(b->summary, "1 device");
    const Node* gadget = broken->find("usb.5-1");
    ASSERT_NE(gadget, nullptr);
    EXPECT_EQ(gadget->title, "Gadget \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(value(*gadget, "Vendor ID"), "0x0000");
    EXPECT_EQ(value(*gadget, "Product ID"), "0x5678");
    EXPECT_EQ(value(*gadget, "Maximum power"), "none");
    EXPECT_EQ(value(*gadget, "Speed"), "unknown");
    EXPECT_EQ(broken->find("usb.usbmon"), nullptr);
    EXPECT_TRUE(b->usb.empty()); // no root hub, no card
}

TEST_F(UsbBranch, PlatformControllersAreNamedByTheirRootHubs) {
    TempDir dir;
    std::string ctrl = "sys/devices/platform/soc/a600000.usb/xhci-hcd.1.auto";
    // An older kernel leaves the serial out; the directory names the controller then.
    dir.write(ctrl + "/usb1/product", "xHCI Host Controller\n");
    dir.write(ctrl + "/usb1/busnum", "1\n");
    dir.write(ctrl + "/usb1/speed", "480\n");
    dir.write(ctrl + "/usb2/product", "xHCI Host Controller\n");
    dir.write(ctrl + "/usb2/serial", "xhci-hcd.1.auto\n");
    dir.write(ctrl + "/usb2/busnum", "2\n");
    dir.write(ctrl + "/usb2/speed", "5000\n");
    dir.symlink("../../../devices/platform/soc/a600000.usb/xhci-hcd.1.auto/usb1",
                "sys/bus/usb/devices/usb1");
    dir.symlink("../../../devices/platform/soc/a600000.usb/xhci-hcd.1.auto/usb2",
                "sys/bus/usb/devices/usb2");
    auto tree = collect(dir.path());
    const auto& cards = tree->find("usb")->usb;
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].id, "xhci-hcd.1.auto");
    EXPECT_EQ(cards[0].name, "xHCI Host Controller");
    EXPECT_EQ(cards[0].vendor, "");
    ASSERT_EQ(cards[0].buses.size(), 2u);
    EXPECT_EQ(cards[0].buses[1].gen, "USB 3.0");
}
