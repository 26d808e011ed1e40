// The USB branch: topology from directory names, speeds, the controller records the cards
// are drawn from, and the collector over fixture machines and broken trees.
#include "hw/collect_usb.h"
#include "hw/usb_topology.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::TempDir;
using testing_support::value;
using namespace hw;

namespace {

const auto collector = testing_support::with_ids(collect_usb_with);

// "port@depth class, gen, power" for each device of a bus, in card order.
std::vector<std::string> layout(const UsbBusVisual& bus) {
    std::vector<std::string> out;
    for (const auto& d : bus.devices)
        out.push_back(d.port + "@" + std::to_string(d.depth) + " " + d.cls + ", " + d.gen + ", " +
                      std::to_string(d.power_ma) + " mA");
    return out;
}

} // namespace

TEST(UsbTopology, NamesTreeSpeedsAndPower) {
    EXPECT_TRUE(usb_is_root_hub_name("usb12"));
    EXPECT_FALSE(usb_is_root_hub_name("usbmon"));
    EXPECT_TRUE(usb_is_device_name("3-1.5.4.2"));
    EXPECT_FALSE(usb_is_device_name("1-2:1.0")); // an interface
    EXPECT_FALSE(usb_is_device_name("1-2..3"));
    auto children = usb_children({"1-2", "1-2.4", "1-2.4.1", "1-2.7.3", "1-10", "2-1", "1-2:1.0",
                                  "usb1", "usb2", "9-1", "garbage"});
    EXPECT_EQ(children["usb1"], (std::vector<std::string>{"1-2", "1-10"}));
    // 1-2.7 is not listed (unplugged while the directory was read): its device goes to 1-2.
    EXPECT_EQ(children["1-2"], (std::vector<std::string>{"1-2.4", "1-2.7.3"}));
    EXPECT_EQ(children["1-2.4"], std::vector<std::string>{"1-2.4.1"});
    EXPECT_EQ(children[""], std::vector<std::string>{"9-1"}); // bus 9 has no root hub
    EXPECT_EQ(children.count("garbage"), 0u);

    util::set_number_format(".", ",");
    EXPECT_EQ(usb_speed_text("1.5"), "1.5 Mbit/s  (USB 1.0 Low-Speed)"); // not "2 Mbit/s"
    EXPECT_EQ(usb_speed_text("20000"), "20,000 Mbit/s  (USB 3.2 Gen 2x2)");
    EXPECT_EQ(usb_speed_text("unknown"), "unknown");
    EXPECT_EQ(usb_mbit("unknown"), 0);
    EXPECT_EQ(usb_power_ma("500mA"), 500);
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
            {laptop, "usb.1-4", "", "Speed", "<no row>"}, // the speed file is empty
            {laptop, "usb.usb2", "", "summary", "10,000 Mbit/s  (USB 3.1 Gen 2)"},
            {laptop, "usb.usb2", "", "USB version", "3.10"}, // the kernel's leading space is gone
        });
    const Node* usb = trees[laptop]->find("usb");
    EXPECT_EQ(testing_support::child_ids(*usb->find("usb.1-2")),
              (std::vector<std::string>{"usb.1-2.1", "usb.1-2.4"}));
    // Interfaces in natural order: 1.10 after 1.9.
    const Section& ifaces = usb->find("usb.1-6")->sections.back();
    ASSERT_EQ(ifaces.items.size(), 12u);
    EXPECT_EQ(ifaces.items[10].name, "1-6:1.10");

    // The cards: one xHCI with its USB 2 and USB 3 bus, then the Thunderbolt controller.
    ASSERT_EQ(usb->usb.size(), 2u);
    const auto& xhci = usb->usb[0];
    EXPECT_EQ(xhci.id + " / " + xhci.name + " / " + xhci.vendor,
              "0000:00:14.0 / Tiger Lake-LP USB 3.2 Gen 2x1 xHCI Host Controller / "
              "Intel Corporation");
    EXPECT_EQ(xhci.device_count, 10u);
    ASSERT_EQ(xhci.buses.size(), 2u);
    // A device of class 0 shows its first interface's class.
    EXPECT_EQ(
        layout(xhci.buses[0]),
        (std::vector<std::string>{"1-2@0 Hub, USB 2.0 High-Speed, 100 mA",
                                  "1-2.1@1 Human Interface Device, USB 1.0 Low-Speed, 100 mA",
                                  "1-2.4@1 Hub, USB 2.0 High-Speed, 100 mA",
                                  "1-2.4.1@2 Human Interface Device, USB 1.1 Full-Speed, 90 mA",
                                  "1-3@0 Miscellaneous, USB 2.0 High-Speed, 500 mA",
                                  "1-4@0 Vendor Specific, , 100 mA",
                                  "1-6@0 Miscellaneous, USB 2.0 High-Speed, 500 mA",
                                  "1-10@0 Wireless, USB 1.1 Full-Speed, 100 mA"}));
    EXPECT_EQ(xhci.buses[1].gen, "USB 3.1 Gen 2");
    EXPECT_EQ(xhci.buses[0].devices[4].vendor, "Chicony Electronics Co.,Ltd."); // its own text
    EXPECT_EQ(xhci.buses[0].devices[7].vendor, "Intel Corp.");
    const auto& tb = usb->usb[1];
    EXPECT_EQ(tb.name, "Tiger Lake-LP Thunderbolt 4 USB Controller");
    ASSERT_EQ(tb.buses.size(), 2u);
    EXPECT_TRUE(tb.buses[0].devices.empty());
    EXPECT_EQ(layout(tb.buses[1]),
              std::vector<std::string>{"4-1@0 Mass Storage, USB 3.2 Gen 2x2, 896 mA"});
}

TEST(UsbBranch, MissingBrokenAndPlatformTrees) {
    TempDir none;
    auto empty = testing_support::collect(collector, none.path());
    EXPECT_EQ(empty->find("usb")->summary, "0 devices");
    EXPECT_TRUE(empty->find("usb")->children.empty() && empty->find("usb")->usb.empty());

    TempDir dir;
    std::string d = "sys/bus/usb/devices/";
    // Bus 5 has no root hub; garbage ids, a bMaxPower without a number, bytes that are no
    // UTF-8 and a name that is no USB device.
    dir.write(d + "5-1/idVendor", "zzzz\n");
    dir.write(d + "5-1/idProduct", "12345678\n");
    dir.write(d + "5-1/bMaxPower", "none\n");
    dir.write(d + "5-1/product", "Gadget \xff\xfe\n");
    dir.write(d + "usbmon/idVendor", "1d6b\n");
    auto broken = testing_support::collect(collector, dir.path());
    EXPECT_EQ(broken->find("usb")->summary, "1 device");
    const Node* gadget = broken->find("usb.5-1");
    ASSERT_NE(gadget, nullptr);
    EXPECT_EQ(gadget->title, "Gadget \uFFFD\uFFFD");
    EXPECT_EQ(value(gadget, "", "Vendor ID") + " " + value(gadget, "", "Product ID"),
              "0x0000 0x5678");
    EXPECT_EQ(value(gadget, "", "Maximum power"), "none");
    EXPECT_EQ(broken->find("usb.usbmon"), nullptr);
    EXPECT_TRUE(broken->find("usb")->usb.empty()); // no root hub, no card

    // A platform controller is named by its root hubs; an older kernel leaves the serial out,
    // and the directory names the controller then.
    TempDir soc;
    std::string ctrl = "sys/devices/platform/soc/a600000.usb/xhci-hcd.1.auto";
    for (const char* hub : {"usb1", "usb2"}) {
        soc.write(ctrl + "/" + hub + "/product", "xHCI Host Controller\n");
        soc.write(ctrl + "/" + hub + "/busnum", std::string(hub + 3) + "\n");
        soc.write(ctrl + "/" + hub + "/speed", hub[3] == '1' ? "480\n" : "5000\n");
        soc.symlink("../../../devices/platform/soc/a600000.usb/xhci-hcd.1.auto/" + std::string(hub),
                    d + hub);
    }
    soc.write(ctrl + "/usb2/serial", "xhci-hcd.1.auto\n");
    auto platform = testing_support::collect(collector, soc.path());
    const auto& cards = platform->find("usb")->usb;
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].id + " / " + cards[0].name + " / " + cards[0].vendor,
              "xhci-hcd.1.auto / xHCI Host Controller / ");
    ASSERT_EQ(cards[0].buses.size(), 2u);
    EXPECT_EQ(cards[0].buses[1].gen, "USB 3.0");
}
