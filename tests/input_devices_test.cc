// The /proc/bus/input/devices parser on verbatim kernel text, and the grouping, naming and
// classification rules.
#include "hw/input_groups.h"

#include <gtest/gtest.h>

using namespace hw;

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
    EXPECT_EQ(kbd.bus, "0011");
    EXPECT_EQ(kbd.vendor, "0001");
    EXPECT_EQ(kbd.product, "0001");
    EXPECT_EQ(kbd.version, "ab83");
    EXPECT_EQ(kbd.name, "AT Translated Set 2 keyboard");
    EXPECT_EQ(kbd.phys, "isa0060/serio0/input0");
    EXPECT_EQ(kbd.sysfs, "/devices/platform/i8042/serio0/input/input3");
    EXPECT_EQ(kbd.uniq, "");
    EXPECT_EQ(kbd.handlers, "sysrq kbd leds event3");
    ASSERT_EQ(kbd.bits.size(), 4u);
    EXPECT_EQ(kbd.bits[0], (std::pair<std::string, std::string>{"EV", "120013"}));
    EXPECT_EQ(kbd.bits[1].second, "402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe");
    EXPECT_EQ(input_event_node(kbd), "event3");
    EXPECT_EQ(input_bits_low(kbd, "EV"), 0x120013u);
    EXPECT_EQ(input_bits_low(kbd, "LED"), 7u);
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
    EXPECT_TRUE(parse_input_devices("").empty());
    EXPECT_TRUE(parse_input_devices("\n\n\n").empty());
}

TEST(InputParser, FieldsAreWholeWords) {
    EXPECT_EQ(input_field("SubProduct=9 Product=0002", "Product"), "0002");
    EXPECT_EQ(input_field("Bus=0011", "Vendor"), "");
}

TEST(InputGroups, ThePartsFourCases) {
    // A lone keyboard interface: its full name, a keyboard.
    InputDevice at =
        dev("AT Translated Set 2 keyboard", "/devices/platform/i8042/serio0/input/input3", "120013",
            "0011", "0001", "0001");
    auto one = group_input_devices({at});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(input_group_name(one[0].members), "AT Translated Set 2 keyboard");
    EXPECT_STREQ(input_group_kind(one[0].members), "value.keyboard");

    // A receiver and its consumer-control interface on one parent: one group.
    std::string parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1/0003:046D:C52B.0002";
    auto receiver = group_input_devices(
        {dev("Logitech USB Receiver", parent + "/input/input7", "17"),
         dev("Logitech USB Receiver Consumer Control", parent + "/input/input8", "1f")});
    ASSERT_EQ(receiver.size(), 1u);
    EXPECT_EQ(input_group_name(receiver[0].members), "Logitech USB Receiver");
    EXPECT_STREQ(input_group_kind(receiver[0].members), "value.mouse"); // mouse beats button

    // Power and sleep buttons on different parents: two groups, both buttons.
    auto buttons = group_input_devices(
        {dev("Power Button", "/devices/LNXSYSTM:00/LNXPWRBN:00/input/input0", "3", "0019", "0000",
             "0001"),
         dev("Sleep Button", "/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0E:00/input/input1", "3",
             "0019", "0000", "0003")});
    ASSERT_EQ(buttons.size(), 2u);
    for (const auto& g : buttons)
        EXPECT_STREQ(input_group_kind(g.members), "value.button");

    // Keys, misc, LEDs and repeat without a kind word: a keyboard.
    EXPECT_STREQ(input_kind(dev("Integrated Keys", "/devices/x/input/input1", "120013")),
                 "value.keyboard");
}

TEST(InputGroups, VirtualDevicesKeepTheirOwnGroup) {
    auto groups = group_input_devices(
        {dev("Wireless hotkeys", "/devices/virtual/input/input11", "3", "0019", "0000", "0000"),
         dev("HP WMI hotkeys", "/devices/virtual/input/input12", "33", "0019", "0000", "0000")});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].key, "0019:0000:0000:/devices/virtual/input/input11");
    EXPECT_EQ(names_of(groups), (std::vector<std::string>{"Wireless hotkeys", "HP WMI hotkeys"}));
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

TEST(InputGroups, ClassificationByNameThenByEventBits) {
    auto kind = [](const std::string& name, const std::string& ev) {
        return std::string(input_kind(dev(name, "", ev)));
    };
    EXPECT_EQ(kind("USB Keyboard Mouse", "17"), "value.keyboard"); // "keyboard" before "mouse"
    EXPECT_EQ(kind("Receiver System Control", "13"), "value.button");
    EXPECT_EQ(kind("Xbox Wireless Controller", "20001b"), "value.gamepad"); // FF
    EXPECT_EQ(kind("Wacom Pen", "1b"), "value.touch_device");               // ABS + KEY
    EXPECT_EQ(kind("Trackball", "17"), "value.mouse");                      // REL + KEY
    EXPECT_EQ(kind("Tablet Mode", "21"), "value.switch");                   // SW only
    EXPECT_EQ(kind("Accelerometer", "9"), "value.input_device");            // ABS alone
    EXPECT_EQ(input_kind_rank("value.root_hub"), 100);
    EXPECT_STREQ(input_group_kind({}), "value.input_device");
}

TEST(InputGroups, BusCodesAreHexadecimalAndEventTypesAreNamed) {
    EXPECT_EQ(input_bus_name(0x11), "i8042 (PS/2)"); // 17, not 11
    EXPECT_EQ(input_bus_name(0x18), "I2C");
    EXPECT_EQ(input_bus_name(0x99), "");
    EXPECT_EQ(input_event_type_names(0x120013), "SYN, KEY, MSC, LED, REP");
    EXPECT_EQ(input_event_type_names(0xe40010), "MSC, SND, FF, PWR, FF_STATUS");
    EXPECT_EQ(input_event_type_names(0x40), "0x06"); // no such type today
}
