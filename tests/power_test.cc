// The power-supply branch over small hand-written sysfs trees.
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class Power : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }

    void supply(const std::string& name, const std::map<std::string, std::string>& files) {
        for (const auto& [file, text] : files)
            m_dir.write("sys/class/power_supply/" + name + "/" + file, text);
    }

    // The branch as collected over the tree written so far.
    std::unique_ptr<hw::Node> collect() {
        ScopedEnv root("QUARVEL_SYSROOT", m_dir.path());
        auto tree = std::make_unique<hw::Node>();
        hw::collect_power(*tree);
        return tree;
    }

    TempDir m_dir;
};

// The value of the row with this label, or "(none)".
std::string row(const hw::Node& n, const std::string& label, std::string* note = nullptr) {
    for (const auto& s : n.sections)
        for (const auto& item : s.items)
            if (item.name == label) {
                if (note) *note = item.note;
                return item.value;
            }
    return "(none)";
}

} // namespace

TEST_F(Power, LaptopBatteryWithEnergyValues) {
    supply("BAT0", {{"type", "Battery\n"},
                    {"status", "Discharging\n"},
                    {"present", "1\n"},
                    {"capacity", "87\n"},
                    {"energy_now", "39150000\n"},
                    {"energy_full", "45000000\n"},
                    {"energy_full_design", "50000000\n"},
                    {"voltage_now", "11660000\n"},
                    {"power_now", "5002000\n"},
                    {"current_now", "-1234000\n"},
                    {"temp", "315\n"},
                    {"time_to_empty_now", "5400\n"},
                    {"time_to_full_now", "0\n"},
                    {"charge_control_start_threshold", "75\n"},
                    {"charge_control_end_threshold", "80\n"}});
    auto tree = collect();
    const hw::Node* bat = tree->find("power.BAT0");
    ASSERT_NE(bat, nullptr);
    EXPECT_EQ(tree->find("power")->title, "Power supply");
    EXPECT_EQ(bat->title, "BAT0  Battery");
    EXPECT_EQ(bat->icon, "\U0001F50B");
    EXPECT_EQ(bat->summary, "87 %  Discharging");
    std::string note;
    EXPECT_EQ(row(*bat, "Health", &note), "90.0 %");
    EXPECT_EQ(note, "full / design");
    EXPECT_EQ(row(*bat, "Power draw"), "5.00 W");
    EXPECT_EQ(row(*bat, "Current"), "-1.234 A"); // negative while discharging
    EXPECT_EQ(row(*bat, "Temperature"), "31.5 °C");
    // The class counts these in seconds.
    EXPECT_EQ(row(*bat, "Time to empty"), "01:30:00");
    EXPECT_EQ(row(*bat, "Time to full"), "(none)");
    EXPECT_EQ(row(*bat, "Charge start threshold"), "75 %");
}

TEST_F(Power, ChargeOnlyBatteryAboveItsDesignAndOldThresholdNames) {
    supply("BAT1", {{"type", "Battery\n"},
                    {"status", "Unknown\n"},
                    {"capacity", "0\n"},
                    {"charge_full", "4599000\n"},
                    {"charge_full_design", "4590000\n"},
                    {"charge_now", "0\n"},
                    {"charge_start_threshold", "95\n"},
                    {"charge_stop_threshold", "100\n"},
                    {"time_to_full_now", "90061\n"}});
    auto tree = collect();
    const hw::Node* bat = tree->find("power.BAT1");
    ASSERT_NE(bat, nullptr);
    EXPECT_EQ(bat->summary, "0 %  Unknown");
    EXPECT_EQ(row(*bat, "Health"), "100.2 %");
    std::string note;
    EXPECT_EQ(row(*bat, "Charge start threshold", &note), "95 %");
    EXPECT_EQ(note, "charge_start_threshold");
    EXPECT_EQ(row(*bat, "Charge end threshold", &note), "100 %");
    EXPECT_EQ(note, "charge_stop_threshold");
    EXPECT_EQ(row(*bat, "Time to full"), "1 d 01:01:01");
}

TEST_F(Power, HealthNeverMixesChargeWithEnergy) {
    supply("BAT0", {{"type", "Battery\n"},
                    {"energy_full", "40000000\n"},
                    {"charge_full_design", "4000000\n"}});
    EXPECT_EQ(row(*collect()->find("power.BAT0"), "Health"), "(none)");
}

TEST_F(Power, SuppliesAreOnlineUnlessTheyReadZero) {
    supply("AC", {{"type", "Mains\n"}, {"online", "1\n"}});
    supply("ADP2", {{"type", "Mains\n"}, {"online", "0\n"}});
    supply("ucsi-source-psy-USBC000:001", {{"type", "USB\n"},
                                           {"online", "2\n"},
                                           {"usb_type", "C [PD] PD_PPS\n"},
                                           {"voltage_now", "20000000\n"},
                                           {"current_now", "5000000\n"}});
    supply("wireless", {{"type", "Wireless\n"}});
    auto tree = collect();
    const hw::Node* ac = tree->find("power.AC");
    ASSERT_NE(ac, nullptr);
    EXPECT_EQ(ac->title, "AC  Mains");
    EXPECT_EQ(ac->icon, "\U0001F50C");
    EXPECT_EQ(ac->summary, "Online");
    // The supply section exists but has nothing to show.
    ASSERT_EQ(ac->sections.size(), 2u);
    EXPECT_TRUE(ac->sections[1].empty());
    EXPECT_EQ(tree->find("power.ADP2")->summary, "Offline");
    const hw::Node* pd = tree->find("power.ucsi-source-psy-USBC000:001");
    ASSERT_NE(pd, nullptr);
    EXPECT_EQ(pd->summary, "Online"); // 2 is online and programmable
    EXPECT_EQ(row(*pd, "USB type"), "C [PD] PD_PPS");
    EXPECT_EQ(row(*pd, "Current"), "5.000 A");
    EXPECT_EQ(tree->find("power.wireless")->summary, ""); // says nothing about being online
    // Natural order of the names.
    const hw::Node* power = tree->find("power");
    ASSERT_EQ(power->children.size(), 4u);
    EXPECT_EQ(power->children[0]->id, "power.AC");
    EXPECT_EQ(power->children[1]->id, "power.ADP2");
}

TEST_F(Power, GarbageGivesNoRowAndTextIsValidUtf8) {
    supply("hidpp_battery_0", {{"type", "Battery\n"},
                               {"scope", "Device\n"},
                               {"capacity", "lots\n"},
                               {"status", "Discharging\n"},
                               {"manufacturer", "    \n"},
                               {"model_name", "LNV-45N1\xff\xfe\n"},
                               {"voltage_now", "n/a\n"},
                               {"energy_full", "inf\n"},
                               {"energy_full_design", "0\n"},
                               {"temp", "\n"}});
    m_dir.write("sys/class/power_supply/stray-file", "not a supply\n");
    auto tree = collect();
    const hw::Node* bat = tree->find("power.hidpp_battery_0");
    ASSERT_NE(bat, nullptr);
    EXPECT_EQ(bat->summary, "");
    EXPECT_EQ(row(*bat, "Charge level"), "(none)");
    EXPECT_EQ(row(*bat, "Manufacturer"), "(none)");
    EXPECT_EQ(row(*bat, "Model"), "LNV-45N1\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(row(*bat, "Voltage"), "(none)");
    EXPECT_EQ(row(*bat, "Energy when full"), "(none)");
    EXPECT_EQ(row(*bat, "Health"), "(none)");
    EXPECT_EQ(row(*bat, "Temperature"), "(none)");
    EXPECT_EQ(tree->find("power.stray-file"), nullptr);
}

TEST_F(Power, UnreadableFilesLeaveTheirRowsOut) {
    supply("BAT0", {{"type", "Battery\n"}, {"capacity", "55\n"}, {"serial_number", "12345\n"}});
    chmod(m_dir.path().c_str(), 0755);
    chmod((m_dir.path() + "/sys/class/power_supply/BAT0/serial_number").c_str(), 0);
    chmod((m_dir.path() + "/sys/class/power_supply/BAT0/capacity").c_str(), 0);
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        auto tree = collect();
        const hw::Node* bat = tree->find("power.BAT0");
        return bat && row(*bat, "Serial number") == "(none)" &&
               row(*bat, "Charge level") == "(none)" && bat->summary.empty() &&
               row(*bat, "Type") == "Battery";
    }));
}

TEST_F(Power, NoSuppliesNoBranch) {
    m_dir.mkdir("sys/class/power_supply");
    EXPECT_TRUE(collect()->children.empty());
}
