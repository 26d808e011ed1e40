// The power-supply branch over small hand-written sysfs trees.
#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::TempDir;
using testing_support::value;

namespace {

class Power : public ::testing::Test {
protected:
    void supply(const std::string& name, const std::map<std::string, std::string>& files) {
        for (const auto& [file, text] : files)
            m_dir.write("sys/class/power_supply/" + name + "/" + file, text + "\n");
    }
    // The node of one supply, collected over the tree written so far.
    const hw::Node* collect(const std::string& name) {
        m_tree = testing_support::collect(hw::collect_power, m_dir.path());
        return m_tree->find("power." + name);
    }

    TempDir m_dir;
    std::unique_ptr<hw::Node> m_tree;
};

} // namespace

TEST_F(Power, BatteriesWithEnergyOrChargeValues) {
    supply("BAT0", {{"type", "Battery"},
                    {"status", "Discharging"},
                    {"capacity", "87"},
                    {"energy_full", "45000000"},
                    {"energy_full_design", "50000000"},
                    {"power_now", "5002000"},
                    {"current_now", "-1234000"},
                    {"temp", "315"},
                    {"time_to_empty_now", "5400"},
                    {"time_to_full_now", "0"},
                    {"charge_control_start_threshold", "75"}});
    const hw::Node* bat = collect("BAT0");
    ASSERT_NE(bat, nullptr);
    EXPECT_EQ(bat->title + " / " + bat->summary, "BAT0  Battery / 87 %  Discharging");
    EXPECT_EQ(value(bat, "", "Health"), "90.0 %");
    EXPECT_EQ(value(bat, "", "Power draw"), "5.00 W");
    EXPECT_EQ(value(bat, "", "Current"), "-1.234 A"); // negative while discharging
    EXPECT_EQ(value(bat, "", "Temperature"), "31.5 °C");
    // The class counts these in seconds; 0 means no estimate.
    EXPECT_EQ(value(bat, "", "Time to empty"), "01:30:00");
    EXPECT_EQ(value(bat, "", "Time to full"), "<no row>");
    EXPECT_EQ(value(bat, "", "Charge start threshold"), "75 %");

    // Charge values above the design capacity, and the older threshold names.
    supply("BAT1", {{"type", "Battery"},
                    {"charge_full", "4599000"},
                    {"charge_full_design", "4590000"},
                    {"charge_stop_threshold", "100"},
                    {"time_to_full_now", "90061"}});
    bat = collect("BAT1");
    EXPECT_EQ(value(bat, "", "Health"), "100.2 %");
    EXPECT_EQ(testing_support::find_row(bat, "", "Charge end threshold")->note,
              "charge_stop_threshold");
    EXPECT_EQ(value(bat, "", "Time to full"), "1 d 01:01:01");
    // Health never mixes energy with charge.
    supply("BAT2", {{"type", "Battery"}, {"energy_full", "40000000"}, {"charge_full_design", "4"}});
    EXPECT_EQ(value(collect("BAT2"), "", "Health"), "<no row>");
}

TEST_F(Power, SuppliesAreOnlineUnlessTheyReadZeroAndComeInNaturalOrder) {
    supply("AC10", {{"type", "Mains"}, {"online", "1"}});
    supply("AC2", {{"type", "Mains"}, {"online", "0"}});
    supply("ucsi-source-psy-USBC000:001",
           {{"type", "USB"}, {"online", "2"}, {"usb_type", "C [PD] PD_PPS"}});
    supply("wireless", {{"type", "Wireless"}});
    EXPECT_EQ(collect("AC10")->summary, "Online");
    EXPECT_EQ(collect("AC2")->summary, "Offline");
    EXPECT_EQ(collect("ucsi-source-psy-USBC000:001")->summary, "Online"); // online, programmable
    EXPECT_EQ(collect("wireless")->summary, ""); // says nothing about being online
    EXPECT_EQ(testing_support::child_ids(*m_tree->find("power")),
              (std::vector<std::string>{"power.AC2", "power.AC10",
                                        "power.ucsi-source-psy-USBC000:001", "power.wireless"}));
}

TEST_F(Power, GarbageAndUnreadableFilesGiveNoRows) {
    supply("hidpp_battery_0", {{"type", "Battery"},
                               {"capacity", "lots"},
                               {"manufacturer", "    "},
                               {"model_name", "LNV-45N1\xff\xfe"},
                               {"voltage_now", "n/a"},
                               {"energy_full", "inf"},
                               {"energy_full_design", "0"},
                               {"temp", ""}});
    m_dir.write("sys/class/power_supply/stray-file", "not a supply\n");
    const hw::Node* bat = collect("hidpp_battery_0");
    EXPECT_EQ(bat->summary, "");
    for (const char* row :
         {"Charge level", "Manufacturer", "Voltage", "Energy when full", "Health", "Temperature"})
        EXPECT_EQ(value(bat, "", row), "<no row>") << row;
    EXPECT_EQ(value(bat, "", "Model"), "LNV-45N1\uFFFD\uFFFD");
    EXPECT_EQ(m_tree->find("power.stray-file"), nullptr);

    supply("BAT0", {{"type", "Battery"}, {"capacity", "55"}, {"serial_number", "12345"}});
    const std::string bat0 = "sys/class/power_supply/BAT0/";
    testing_support::open_up(m_dir.path(), {bat0 + "serial_number", bat0 + "capacity"});
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        const hw::Node* b = collect("BAT0");
        return b && value(b, "", "Serial number") == "<no row>" &&
               value(b, "", "Charge level") == "<no row>" && b->summary.empty() &&
               value(b, "", "Type") == "Battery";
    }));
}

TEST_F(Power, NoSuppliesNoBranch) {
    m_dir.mkdir("sys/class/power_supply");
    collect("");
    EXPECT_TRUE(m_tree->children.empty());
}
