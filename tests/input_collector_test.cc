// The input branch over the fixture machines and over unreadable input.
#include "hw/collect_input.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;
using namespace hw;

namespace {

class InputBranch : public ::testing::Test {
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
    collect_input_with(*tree, Ids::load());
    return tree;
}

std::string value(const Node& n, const std::string& label) {
    for (const auto& s : n.sections)
        for (const auto& item : s.items)
            if (item.name == label) return item.value;
    return "<no row>";
}

const Node* child_titled(const Node& n, const std::string& title) {
    for (const auto& c : n.children)
        if (c->title == title) return c.get();
    return nullptr;
}

// "kind: text" of each overview row.
std::vector<std::string> overview(const Node& input) {
    std::vector<std::string> out;
    for (const auto& item : input.sections.front().items)
        out.push_back(item.name + ": " + item.value);
    return out;
}

} // namespace

TEST_F(InputBranch, LaptopGroupsRanksAndNames) {
    auto tree = collect(testing_support::fixture("laptop-usb-battery"));
    const Node* input = tree->find("input");
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->summary, "12 devices");
    EXPECT_EQ(overview(*input), (std::vector<std::string>{
                                    "Touchpad: ELAN0672:00 04F3:3187  ·  I2C",
                                    "Keyboard: Integrated Camera: Integrated C  ·  USB",
                                    "Keyboard: AT Translated Set 2 keyboard  ·  i8042 (PS/2)",
                                    "Keyboard: Intel HID events  ·  Host",
                                    "Switch: sof-hda-dsp",
                                    "Button: PC Speaker  ·  ISA",
                                    "Button: Wireless hotkeys  ·  Host",
                                    "Button: HP WMI hotkeys  ·  Host",
                                    "Button: Power Button  ·  Host",
                                    "Button: Power Button  ·  Host",
                                    "Button: Lid Switch  ·  Host",
                                    "Button: Video Bus  ·  Host",
                                }));
    for (size_t i = 0; i < input->children.size(); ++i)
        EXPECT_EQ(input->children[i]->id, "input." + std::to_string(i));

    const Node* pad = child_titled(*input, "ELAN0672:00 04F3:3187");
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(pad->summary, "Touchpad");
    EXPECT_EQ(value(*pad, "Type"), "Mouse, Touchpad, Input device");
    EXPECT_EQ(value(*pad, "Interfaces"), "3");
    EXPECT_EQ(value(*pad, "/dev/input/event7"), "Touchpad  ·  ELAN0672:00 04F3:3187 Touchpad");
    EXPECT_EQ(value(*pad, "/dev/input/event8"), "Input device  ·  ELAN0672:00 04F3:3187 UNKNOWN");
    EXPECT_EQ(value(*pad, "Event types"), "SYN, KEY, REL, ABS, MSC  (0x1f)");
    // An I2C device's ids are no USB ids: no names for them.
    EXPECT_EQ(value(*pad, "Vendor ID"), "0x04f3");

    // The PS/2 keyboard's vendor 0001 is listed in usb.ids, but not for this bus.
    const Node* kbd = child_titled(*input, "AT Translated Set 2 keyboard");
    ASSERT_NE(kbd, nullptr);
    EXPECT_EQ(value(*kbd, "Bus"), "i8042 (PS/2)");
    EXPECT_EQ(value(*kbd, "Vendor ID"), "0x0001");
    EXPECT_EQ(value(*kbd, "Handlers"), "sysrq, kbd, leds, event3");
    const Node* cam = child_titled(*input, "Integrated Camera: Integrated C");
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(value(*cam, "Vendor ID"), "0x04f2  (Chicony Electronics Co., Ltd)");

    // The jacks of one sound card are one group; no bus for them.
    const Node* jacks = child_titled(*input, "sof-hda-dsp");
    ASSERT_NE(jacks, nullptr);
    EXPECT_EQ(value(*jacks, "Interfaces"), "4");
    EXPECT_EQ(value(*jacks, "Bus"), "<no row>");
}

TEST_F(InputBranch, DesktopReceiverAndGamepad) {
    auto tree = collect(testing_support::fixture("desktop-receiver-gamepad"));
    const Node* input = tree->find("input");
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->summary, "8 devices");
    auto rows = overview(*input);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], "Gamepad: Microsoft X-Box 360 pad  ·  USB");
    EXPECT_EQ(rows[1], "Keyboard: Logitech USB Receiver  ·  USB");
    EXPECT_EQ(rows[2], "Mouse: Logitech USB Receiver  ·  USB");
    const Node* pad = child_titled(*input, "Microsoft X-Box 360 pad");
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(value(*pad, "Product ID"), "0x028e  (Xbox360 Controller)");
    EXPECT_EQ(value(*pad, "Event types"), "SYN, KEY, ABS, FF  (0x20000b)");
    EXPECT_EQ(value(*pad, "Handlers"), "event6, js0");
    // The receiver's second interface carries mouse, consumer and system control.
    const Node* mouse = nullptr;
    for (const auto& c : input->children)
        if (c->summary == "Mouse") mouse = c.get();
    ASSERT_NE(mouse, nullptr);
    EXPECT_EQ(mouse->title, "Logitech USB Receiver");
    EXPECT_EQ(value(*mouse, "Interfaces"), "3");
    EXPECT_EQ(value(*mouse, "Type"), "Mouse, Button");
    EXPECT_EQ(value(*mouse, "/dev/input/event4"),
              "Button  ·  Logitech USB Receiver Consumer Control");
}

TEST_F(InputBranch, UnreadableListGivesAnEmptyBranch) {
    TempDir dir;
    dir.write("proc/bus/input/devices", "I: Bus=0011 Vendor=0001 Product=0001 Version=ab41\n"
                                        "N: Name=\"AT Translated Set 2 keyboard\"\n\n");
    chmod(dir.path().c_str(), 0755);
    chmod((dir.path() + "/proc/bus/input/devices").c_str(), 0);
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        auto tree = collect(dir.path());
        const Node* input = tree->find("input");
        return input && input->children.empty() && input->summary == "0 devices";
    }));
}
