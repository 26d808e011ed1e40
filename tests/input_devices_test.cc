// The input branch: the /proc/bus/input/devices parser on verbatim kernel text, the grouping,
// naming and classification rules, and the collector over fixture machines.
#include "hw/collect_input.h"
#include "hw/input_groups.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace hw;

namespace {

InputDevice dev(const std::string& name, const std::string& sysfs, const std::string& ev,
                const std::string& bus = "0003") {
    InputDevice d;
    d.bus = bus;
    d.vendor = bus == "0003" ? "046d" : "0000";
    d.product = bus == "0003" ? "c52b" : "0000";
    d.name = name;
    d.sysfs = sysfs;
    if (!ev.empty()) d.bits.emplace_back("EV", ev);
    return d;
}

} // namespace

// Verbatim kernel text is parsed on the fixture machines below.
TEST(InputParser, DamagedText) {
    // CRLF line ends, several blank lines, a block without a name, garbage lines, a
    // 32-bit kernel's bitmap words, no final newline.
    auto devs = parse_input_devices("\r\n\r\nI: Bus=0003 Vendor=046d Product=c52b Version=0111\r\n"
                                    "garbage without a tag\r\nX: Unknown=tag\r\nB: NOEQUALS\r\n"
                                    "B: KEY=ffff0000 0 0 10000000\r\n\r\n\n\n"
                                    "N: Name=\"unterminated\nZ:\n\n"
                                    "N: Name=Bare name\nH: Handlers=mouse0 js0");
    ASSERT_EQ(devs.size(), 3u);
    EXPECT_EQ(devs[0].vendor, "046d");
    EXPECT_EQ(input_bits_low(devs[0], "KEY"), 0x10000000u);
    EXPECT_EQ(devs[1].name, "\"unterminated"); // only a quoted pair is taken off
    EXPECT_EQ(devs[2].name, "Bare name");
    EXPECT_EQ(input_field("SubProduct=9 Product=0002", "Product"), "0002"); // whole words
}

TEST(InputGroups, InterfacesOfOneParentGroupVirtualDevicesStayApart) {
    std::string parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1/0003:046D:C52B.0002";
    auto receiver = group_input_devices(
        {dev("Logitech USB Receiver", parent + "/input/input7", "17"),
         dev("Logitech USB Receiver Consumer Control", parent + "/input/input8", "1f")});
    ASSERT_EQ(receiver.size(), 1u);
    EXPECT_EQ(input_group_name(receiver[0].members), "Logitech USB Receiver");
    EXPECT_STREQ(input_group_kind(receiver[0].members), "value.mouse"); // mouse beats button
    // Under /devices/virtual the whole path is the key, not the "virtual" directory.
    auto hotkeys = group_input_devices(
        {dev("Wireless hotkeys", "/devices/virtual/input/input11", "3", "0019"),
         dev("HP WMI hotkeys", "/devices/virtual/input/input12", "33", "0019")});
    ASSERT_EQ(hotkeys.size(), 2u);
    EXPECT_EQ(hotkeys[0].key, "0019:0000:0000:/devices/virtual/input/input11");
}

TEST(InputGroups, NamesAndKinds) {
    struct Case {
        std::vector<std::string> names;
        const char* group;
    } names[] = {
        {{"SYNA3105:00 06CB:CEA3 Mouse", "SYNA3105:00 06CB:CEA3 Touchpad"},
         "SYNA3105:00 06CB:CEA3"},
        {{"Keyboard", "Keyboard Mouse"}, "Keyboard"}, // the prefix is a full name
        {{"Foo-Bar, Mouse", "Foo-Bar, Keys"}, "Foo-Bar"},
        {{"AB x", "AB y"}, "AB x"}, // too short: the first name
        {{"Alpha", "Beta"}, "Alpha"},
    };
    for (const auto& c : names) {
        std::vector<InputDevice> members;
        for (const auto& n : c.names)
            members.push_back(dev(n, "", ""));
        EXPECT_EQ(input_group_name(members), c.group) << c.names[0];
    }
    struct Kind {
        const char *name, *ev, *kind;
    } kinds[] = {
        {"USB Keyboard Mouse", "17", "value.keyboard"},          // "keyboard" before "mouse"
        {"Xbox Wireless Controller", "20001b", "value.gamepad"}, // FF
        {"Wacom Pen", "1b", "value.touch_device"},               // ABS + KEY
        {"Accelerometer", "9", "value.input_device"},            // ABS alone
    };
    for (const auto& k : kinds)
        EXPECT_STREQ(input_kind(dev(k.name, "", k.ev)), k.kind) << k.name;
    EXPECT_EQ(input_bus_name(0x11), "i8042 (PS/2)"); // the code is hexadecimal: 17, not 11
    EXPECT_EQ(input_event_type_names(0x40), "0x06"); // no such type today
}

TEST(InputBranch, FactsOfTheFixtureMachines) {
    const char* laptop = "laptop-usb-battery";
    testing_support::expect_facts(
        testing_support::with_ids(hw::collect_input_with),
        {
            // Ids are named from usb.ids only on the USB bus: not for I2C, nor for PS/2's 0001.
            {laptop, "input.4", "", "Vendor ID", "0x04f3"},
            {laptop, "input.3", "", "Vendor ID", "0x0001"},
            {laptop, "input.1", "", "Vendor ID", "0x04f2  (Chicony Electronics Co., Ltd)"},
            // The jacks of one sound card are one group.
            {laptop, "input.0", "", "Interfaces", "4"},
        });
}

TEST(InputBranch, UnreadableListGivesAnEmptyBranch) {
    testing_support::TempDir dir;
    dir.write("proc/bus/input/devices", "I: Bus=0011 Vendor=0001 Product=0001 Version=ab41\n"
                                        "N: Name=\"AT Translated Set 2 keyboard\"\n\n");
    testing_support::open_up(dir.path(), {"proc/bus/input/devices"});
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        auto tree =
            testing_support::collect(testing_support::with_ids(hw::collect_input_with), dir.path());
        const hw::Node* input = tree->find("input");
        return input && input->children.empty() && input->summary == "0 devices";
    }));
}
