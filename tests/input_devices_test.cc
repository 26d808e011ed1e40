// The input branch: the /proc/bus/input/devices parser on verbatim kernel text, the grouping,
// naming and classification rules, and the collector over fixture machines.
#include "hw/collect_input.h"
#include "hw/input_groups.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using namespace hw;
using testing_support::TempDir;

namespace {

// As a 64-bit 6.x kernel writes it: "H:" ends in a space, the keyboard has no PROP line.
const char* const laptop_text = R"(I: Bus=0019 Vendor=0000 Product=0001 Version=0000
N: Name="Power Button"
P: Phys=PNP0C0C/button/input0
S: Sysfs=/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0C:00/input/input0
U: Uniq=
H: Handlers=kbd event0 
B: PROP=0
B: EV=3
B: KEY=10000000000000 0

I: Bus=0011 Vendor=0001 Product=0001 Version=ab83
N: Name="AT Translated Set 2 keyboard"
P: Phys=isa0060/serio0/input0
S: Sysfs=/devices/platform/i8042/serio0/input/input3
U: Uniq=
H: Handlers=sysrq kbd leds event3 
B: EV=120013
B: KEY=402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe
B: MSC=10
B: LED=7

)";

InputDevice dev(const std::string& name, const std::string& sysfs, const std::string& ev,
                const std::string& bus = "0003", const std::string& vendor = "046d",
                const std::string& product = "c52b") {
    InputDevice d;
    d.bus = bus;
    d.vendor = vendor;
    d.product = product;
    d.name = name;
    d.sysfs = sysfs;
    if (!ev.empty()) d.bits.emplace_back("EV", ev);
    return d;
}

std::vector<std::string> names_of(const std::vector<InputGroup>& groups) {
    std::vector<std::string> out;
    for (const auto& g : groups)
        out.push_back(input_group_name(g.members));
    return out;
}

} // namespace

TEST(InputParser, ReadsEveryTaggedLineOfVerbatimBlocks) {
    auto devs = parse_input_devices(laptop_text);
    ASSERT_EQ(devs.size(), 2u);
    const InputDevice& kbd = devs[1];
    EXPECT_EQ(kbd.bus + kbd.vendor + kbd.product + kbd.version, "001100010001ab83");
    EXPECT_EQ(kbd.name, "AT Translated Set 2 keyboard");
    EXPECT_EQ(kbd.phys, "isa0060/serio0/input0");
    EXPECT_EQ(kbd.sysfs, "/devices/platform/i8042/serio0/input/input3");
    EXPECT_EQ(kbd.handlers, "sysrq kbd leds event3");
    ASSERT_EQ(kbd.bits.size(), 4u);
    EXPECT_EQ(kbd.bits[1].second, "402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe");
    EXPECT_EQ(input_event_node(kbd), "event3");
    EXPECT_EQ(input_bits_low(kbd, "EV"), 0x120013u);
    EXPECT_EQ(input_bits_low(kbd, "PROP"), 0u); // absent
    EXPECT_EQ(input_bits_low(devs[0], "KEY"), 0u);
}

TEST(InputParser, ToleratesDamagedAndOddText) {
    // CRLF line ends, several blank lines, a block without a name, garbage lines, a
    // 32-bit kernel's bitmap words, no final newline.
    std::string text = "\r\n\r\nI: Bus=0003 Vendor=046d Product=c52b Version=0111\r\n"
                       "garbage without a tag\r\nX: Unknown=tag\r\nB: NOEQUALS\r\n"
                       "B: KEY=ffff0000 0 0 10000000\r\nB: EV=1f\r\n\r\n\n\n"
                       "N: Name=\"unterminated\nZ:\n\n"
                       "just garbage\n\n"
                       "N: Name=Bare name\nH: Handlers=mouse0 js0";
    auto devs = parse_input_devices(text);
    ASSERT_EQ(devs.size(), 3u);
    EXPECT_EQ(devs[0].name, "");
    EXPECT_EQ(devs[0].vendor, "046d");
    EXPECT_EQ(devs[0].bits.size(), 2u);
    EXPECT_EQ(input_bits_low(devs[0], "KEY"), 0x10000000u);
    EXPECT_EQ(input_bits_low(devs[0], "EV"), 0x1fu);
    EXPECT_EQ(devs[1].name, "\"unterminated"); // only a quoted pair is taken off
    EXPECT_EQ(devs[2].name, "Bare name");
    EXPECT_EQ(input_event_node(devs[2]), "");
    EXPECT_TRUE(parse_input_devices("\n\n\n").empty());
    // Fields are whole words.
    EXPECT_EQ(input_field("SubProduct=9 Product=0002", "Product"), "0002");
    EXPECT_EQ(input_field("Bus=0011", "Vendor"), "");
}

TEST(InputGroups, InterfacesOfOneParentGroupVirtualDevicesStayApart) {
    // A receiver and its consumer-control interface on one parent: one group, a mouse.
    std::string parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1/0003:046D:C52B.0002";
    auto receiver = group_input_devices(
        {dev("Logitech USB Receiver", parent + "/input/input7", "17"),
         dev("Logitech USB Receiver Consumer Control", parent + "/input/input8", "1f")});
    ASSERT_EQ(receiver.size(), 1u);
    EXPECT_EQ(input_group_name(receiver[0].members), "Logitech USB Receiver");
    EXPECT_STREQ(input_group_kind(receiver[0].members), "value.mouse"); // mouse beats button
    // Power and sleep buttons on different parents: two groups.
    auto buttons = group_input_devices(
        {dev("Power Button", "/devices/LNXSYSTM:00/LNXPWRBN:00/input/input0", "3", "0019", "0000",
             "0001"),
         dev("Sleep Button", "/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0E:00/input/input1", "3",
             "0019", "0000", "0003")});
    EXPECT_EQ(names_of(buttons), (std::vector<std::string>{"Power Button", "Sleep Button"}));
    // Under /devices/virtual the whole path is the key, not the "virtual" directory.
    auto hotkeys = group_input_devices(
        {dev("Wireless hotkeys", "/devices/virtual/input/input11", "3", "0019", "0000", "0000"),
         dev("HP WMI hotkeys", "/devices/virtual/input/input12", "33", "0019", "0000", "0000")});
    ASSERT_EQ(hotkeys.size(), 2u);
    EXPECT_EQ(hotkeys[0].key, "0019:0000:0000:/devices/virtual/input/input11");
}

TEST(InputGroups, JacksOfOneSoundCardFormOneGroupInKeyOrder) {
    std::string card = "/devices/pci0000:00/0000:00:1f.3/sound/card0";
    auto groups = group_input_devices({
        dev("HDA Intel PCH Mic", card + "/input17", "21", "0000", "0000", "0000"),
        dev("HDA Intel PCH Headphone", card + "/input18", "21", "0000", "0000", "0000"),
        dev("HDA Intel PCH HDMI/DP,pcm=3", card + "/input19", "21", "0000", "0000", "0000"),
        dev("AT Translated Set 2 keyboard", "/devices/platform/i8042/serio0/input/input3", "120013",
            "0011", "0001", "0001"),
    });
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].key, "0000:0000:0000:" + card); // "0000" sorts before "0011"
    EXPECT_EQ(groups[0].members.size(), 3u);
    EXPECT_EQ(input_group_name(groups[0].members), "HDA Intel PCH");
    // A microphone jack reports a switch, which ranks before the headphone's button.
    EXPECT_STREQ(input_kind(groups[0].members[0]), "value.switch");
    EXPECT_STREQ(input_kind(groups[0].members[1]), "value.button");
    EXPECT_STREQ(input_group_kind(groups[0].members), "value.switch");
}

TEST(InputGroups, NamingByCommonPrefix) {
    auto name = [](std::vector<std::string> names) {
        std::vector<InputDevice> members;
        for (auto& n : names)
            members.push_back(dev(n, "", ""));
        return input_group_name(members);
    };
    EXPECT_EQ(name({"SYNA3105:00 06CB:CEA3 Mouse", "SYNA3105:00 06CB:CEA3 Touchpad"}),
              "SYNA3105:00 06CB:CEA3");
    EXPECT_EQ(
        name({"Wacom Intuos Pro M Pen", "Wacom Intuos Pro M Finger", "Wacom Intuos Pro M Pad"}),
        "Wacom Intuos Pro M");
    EXPECT_EQ(name({"Kbd", "Kbd"}), "Kbd");                      // equal names
    EXPECT_EQ(name({"Keyboard", "Keyboard Mouse"}), "Keyboard"); // the prefix is a full name
    EXPECT_EQ(name({"Foo-Bar, Mouse", "Foo-Bar, Keys"}), "Foo-Bar");
    EXPECT_EQ(name({"AB x", "AB y"}), "AB x");   // too short: the first name
    EXPECT_EQ(name({"Alpha", "Beta"}), "Alpha"); // nothing in common
    EXPECT_EQ(name({"", ""}), "");
    EXPECT_EQ(input_group_name({}), "");
}

TEST(InputGroups, KindsByNameThenEventBitsBusCodesInHex) {
    auto kind = [](const std::string& name, const std::string& ev) {
        return std::string(input_kind(dev(name, "", ev)));
    };
    EXPECT_EQ(kind("USB Keyboard Mouse", "17"), "value.keyboard"); // "keyboard" before "mouse"
    EXPECT_EQ(kind("Receiver System Control", "13"), "value.button");
    EXPECT_EQ(kind("Integrated Keys", "120013"), "value.keyboard"); // keys, misc, LEDs, repeat
    EXPECT_EQ(kind("Xbox Wireless Controller", "20001b"), "value.gamepad"); // FF
    EXPECT_EQ(kind("Wacom Pen", "1b"), "value.touch_device");               // ABS + KEY
    EXPECT_EQ(kind("Trackball", "17"), "value.mouse");                      // REL + KEY
    EXPECT_EQ(kind("Tablet Mode", "21"), "value.switch");                   // SW only
    EXPECT_EQ(kind("Accelerometer", "9"), "value.input_device");            // ABS alone
    EXPECT_STREQ(input_group_kind({}), "value.input_device");
    EXPECT_EQ(input_bus_name(0x11), "i8042 (PS/2)"); // 17, not 11
    EXPECT_EQ(input_bus_name(0x99), "");
    EXPECT_EQ(input_event_type_names(0x120013), "SYN, KEY, MSC, LED, REP");
    EXPECT_EQ(input_event_type_names(0xe40010), "MSC, SND, FF, PWR, FF_STATUS");
    EXPECT_EQ(input_event_type_names(0x40), "0x06"); // no such type today
}

namespace {

const auto collector = testing_support::with_ids(hw::collect_input_with);

} // namespace

TEST(InputBranch, FactsOfTheFixtureMachines) {
    const char *laptop = "laptop-usb-battery", *desktop = "desktop-receiver-gamepad";
    auto trees = testing_support::expect_facts(
        collector,
        {
            {laptop, "input", "", "summary", "12 devices"},
            // Groups in rank order; the bus code is hexadecimal (0011 is i8042, not 11).
            {laptop, "input", "Overview", "Touchpad", "ELAN0672:00 04F3:3187  ·  I2C"},
            {laptop, "input", "Overview", "Switch", "sof-hda-dsp"}, // no bus for sound jacks
            {laptop, "input.4", "", "Event types", "SYN, KEY, REL, ABS, MSC  (0x1f)"},
            {laptop, "input.4", "", "/dev/input/event8",
             "Input device  ·  ELAN0672:00 04F3:3187 UNKNOWN"},
            // Ids are named from usb.ids only on the USB bus: not for I2C, nor for PS/2's 0001.
            {laptop, "input.4", "", "Vendor ID", "0x04f3"},
            {laptop, "input.3", "", "Bus", "i8042 (PS/2)"},
            {laptop, "input.3", "", "Vendor ID", "0x0001"},
            {laptop, "input.1", "", "Vendor ID", "0x04f2  (Chicony Electronics Co., Ltd)"},
            // The jacks of one sound card are one group.
            {laptop, "input.0", "", "Interfaces", "4"},
            // Virtual devices (WMI hotkeys) keep their own groups.
            {laptop, "input.6", "", "title", "Wireless hotkeys"},
            {laptop, "input.7", "", "title", "HP WMI hotkeys"},
            {desktop, "input", "Overview", "Gamepad", "Microsoft X-Box 360 pad  ·  USB"},
            {desktop, "input.2", "", "Product ID", "0x028e  (Xbox360 Controller)"},
            {desktop, "input.2", "", "Event types", "SYN, KEY, ABS, FF  (0x20000b)"},
            // The receiver's second interface carries mouse, consumer and system control.
            {desktop, "input.4", "", "summary", "Mouse"},
            {desktop, "input.4", "", "Type", "Mouse, Button"},
            {desktop, "input.4", "", "/dev/input/event4",
             "Button  ·  Logitech USB Receiver Consumer Control"},
        });
    // The overview ranks groups by kind; the children keep the key order.
    std::string kinds;
    for (const auto& item : trees[laptop]->find("input")->sections.front().items)
        kinds += item.name.substr(0, 1);
    EXPECT_EQ(kinds, "TKKKSBBBBBBB");
}

TEST(InputBranch, UnreadableListGivesAnEmptyBranch) {
    TempDir dir;
    dir.write("proc/bus/input/devices", "I: Bus=0011 Vendor=0001 Product=0001 Version=ab41\n"
                                        "N: Name=\"AT Translated Set 2 keyboard\"\n\n");
    testing_support::open_up(dir.path(), {"proc/bus/input/devices"});
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        auto tree = testing_support::collect(collector, dir.path());
        const hw::Node* input = tree->find("input");
        return input && input->children.empty() && input->summary == "0 devices";
    }));
}
