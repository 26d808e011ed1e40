// The power-supply branch over small hand-written sysfs trees.
#include "hw/hardware.h"
#include "test_support.h"

#include <gtest/gtest.h>

using testing_support::value;

namespace {

class Power : public ::testing::Test {
protected:
    void supply(const std::string& name, const std::map<std::string, std::string>& files) {
        for (const auto& [file, text] : files)
            m_dir.write("sys/class/power_supply/" + name + "/" + file, text + "\n");
    }
    const hw::Node* collect(const std::string& name) {
        m_tree = testing_support::collect(hw::collect_power, m_dir.path());
        return m_tree->find("power." + name);
    }

    testing_support::TempDir m_dir;
    std::unique_ptr<hw::Node> m_tree;
};

} // namespace

TEST_F(Power, SignedFiguresHealthAndThresholds) {
    supply("BAT0", {{"type", "Battery"},
                    {"energy_full", "45000000"},
                    {"energy_full_design", "50000000"},
                    {"power_now", "-5002000"},
                    {"current_now", "-1234000"},
                    {"time_to_full_now", "0"},
                    {"charge_stop_threshold", "80"}});
    // Health never mixes energy with charge.
    supply("BAT1", {{"type", "Battery"}, {"energy_full", "40000000"}, {"charge_full_design", "4"}});
    const hw::Node* bat = collect("BAT0");
    ASSERT_NE(bat, nullptr);
    // Some drivers report discharging as negative figures: no wrapped unsigned numbers.
    EXPECT_EQ(value(bat, "", "Current"), "-1.234 A");
    EXPECT_EQ(value(bat, "", "Power draw"), "-5.00 W");
    EXPECT_EQ(value(bat, "", "Health"), "90.0 %");
    EXPECT_EQ(value(bat, "", "Time to full"), "<no row>"); // 0 means no estimate
    // ThinkPads before charge_control_* used the older name.
    EXPECT_EQ(value(bat, "", "Charge end threshold"), "80 %");
    EXPECT_EQ(value(collect("BAT1"), "", "Health"), "<no row>");
}

TEST_F(Power, OnlineIsAnythingButZeroAUpsShowsItsChargeAndSuppliesComeInNaturalOrder) {
    supply("AC10", {{"type", "Mains"}, {"online", "1"}});
    supply("AC2", {{"type", "Mains"}, {"online", "0"}});
    supply("ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "2"}}); // programmable
    supply("wireless", {{"type", "Wireless"}});
    supply("ups", {{"type", "UPS"},
                   {"online", "1"},
                   {"capacity", "80"},
                   {"status", "Discharging"},
                   {"time_to_empty_now", "1200"}});
    EXPECT_EQ(collect("AC2")->summary, "Offline");
    EXPECT_EQ(collect("ucsi-source-psy-USBC000:001")->summary, "Online");
    EXPECT_EQ(collect("wireless")->summary, ""); // says nothing about being online
    EXPECT_EQ(collect("ups")->summary, "80 %  Discharging");
    EXPECT_EQ(value(collect("ups"), "", "Time to empty"), "00:20:00");
    EXPECT_EQ(
        testing_support::child_ids(*m_tree->find("power")),
        (std::vector<std::string>{"power.AC2", "power.AC10", "power.ucsi-source-psy-USBC000:001",
                                  "power.ups", "power.wireless"}));
}

TEST_F(Power, GarbageAndUnreadableFilesGiveNoRows) {
    supply("hidpp_battery_0", {{"type", "Battery"},
                               {"capacity", "lots"},
                               {"manufacturer", "    "},
                               {"model_name", "LNV-45N1\xff\xfe"},
                               {"energy_full", "inf"},
                               {"energy_full_design", "0"}});
    m_dir.write("sys/class/power_supply/stray-file", "not a supply\n");
    const hw::Node* bat = collect("hidpp_battery_0");
    for (const char* row : {"Charge level", "Manufacturer", "Energy when full", "Health"})
        EXPECT_EQ(value(bat, "", row), "<no row>") << row;
    EXPECT_EQ(value(bat, "", "Model"), "LNV-45N1\uFFFD\uFFFD");
    EXPECT_EQ(m_tree->find("power.stray-file"), nullptr);

    supply("BAT0", {{"type", "Battery"}, {"capacity", "55"}});
    testing_support::open_up(m_dir.path(), {"sys/class/power_supply/BAT0/capacity"});
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        const hw::Node* b = collect("BAT0");
        return b && value(b, "", "Charge level") == "<no row>" && b->summary.empty() &&
               value(b, "", "Type") == "Battery";
    }));
}

TEST_F(Power, ChargeLevelFromNowOverFullWithoutACapacityFile) {
    struct Case {
        std::map<std::string, std::string> files;
        std::string level, summary;
    };
    const Case cases[] = {
        {{{"energy_now", "36580000"}, {"energy_full", "45070000"}, {"status", "Discharging"}},
         "81 % (energy_now / energy_full)",
         "81 %  Discharging"},
        // Charge counters only; a gauge that has not learnt the full charge reads above it.
        {{{"charge_now", "4700000"}, {"charge_full", "4599000"}},
         "100 % (charge_now / charge_full)",
         "100 %"},
        // The driver's own figure wins over the derived one.
        {{{"capacity", "60"}, {"energy_now", "10"}, {"energy_full", "100"}},
         "60 % (capacity)",
         "60 %"},
        {{{"energy_now", "5000000"}, {"energy_full", "0"}}, "<no row>", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "BAT" + std::to_string(n++);
        auto files = c.files;
        files["type"] = "Battery";
        supply(name, files);
        const hw::Node* bat = collect(name);
        ASSERT_NE(bat, nullptr);
        const hw::Item* row = testing_support::find_row(bat, "", "Charge level");
        EXPECT_EQ(row ? row->value + " (" + row->note + ")" : "<no row>", c.level) << name;
        EXPECT_EQ(bat->summary, c.summary) << name;
    }
}
