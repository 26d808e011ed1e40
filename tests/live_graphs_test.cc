// The samplers behind the network and sensor graphs: rates over measured intervals, the
// histories and scales, the texts, and what the scans find in kernel-shaped trees.
#include "hw/hardware.h"
#include "i18n.h"
#include "live/net_traffic.h"
#include "live/sensor_readings.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

#include <algorithm>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

live::NetIface counted(uint64_t rx, uint64_t tx) {
    live::NetIface i;
    i.name = "eth0";
    i.last_rx = i.rx_total = rx;
    i.last_tx = i.tx_total = tx;
    i.counted = true;
    return i;
}

} // namespace

TEST(NetTraffic, RatesAreBytesOverTheMeasuredInterval) {
    struct Case {
        const char* what;
        std::optional<live::NetCounters> now;
        double seconds;
        double rx_rate, tx_rate;
        uint64_t rx_total;
        size_t history;
    };
    const Case cases[] = {
        {"one second", live::NetCounters{11000, 5500}, 1.0, 10000, 500, 11000, 1},
        // The main loop stalled for three seconds: the same traffic, not a burst of 3×.
        {"a late tick", live::NetCounters{31000, 6500}, 3.0, 10000, 500, 31000, 1},
        {"counters went back", live::NetCounters{200, 7000}, 1.0, 0, 2000, 200, 1},
        {"unreadable", std::nullopt, 1.0, 0, 0, 1000, 1},
        {"no time passed", live::NetCounters{9000, 9000}, 0.0, 0, 0, 1000, 0},
    };
    for (const Case& c : cases) {
        live::NetIface i = counted(1000, 5000);
        live::advance(i, c.now, c.seconds);
        EXPECT_DOUBLE_EQ(i.rx_rate, c.rx_rate) << c.what;
        EXPECT_DOUBLE_EQ(i.tx_rate, c.tx_rate) << c.what;
        EXPECT_EQ(i.rx_total, c.rx_total) << c.what;
        EXPECT_EQ(i.rx_history.size(), c.history) << c.what;
    }
    // Without a first reading the bytes so far belong to no interval: no false burst.
    live::NetIface fresh;
    live::advance(fresh, live::NetCounters{1u << 30, 1u << 30}, 1.0);
    EXPECT_EQ(fresh.rx_rate, 0);
    live::advance(fresh, live::NetCounters{(1u << 30) + 512, 1u << 30}, 0.5);
    EXPECT_DOUBLE_EQ(fresh.rx_rate, 1024);
}

TEST(NetTraffic, HistoryCapScaleFloorAndTexts) {
    testing_support::use_english();
    live::NetIface i = counted(0, 0);
    EXPECT_EQ(live::graph_scale(i), 8192) << "an idle link keeps the floor";
    for (uint64_t s = 1; s <= 121; ++s)
        live::advance(i, live::NetCounters{s * 100, s * 20000}, 1.0);
    EXPECT_EQ(i.rx_history.size(), 120u);
    EXPECT_EQ(i.tx_history.size(), 120u);
    EXPECT_EQ(live::graph_scale(i), 20000) << "the largest rate of either direction";

    EXPECT_EQ(live::rate_text(0), "0 B/s");
    EXPECT_EQ(live::rate_text(1000.6), "1,001 B/s"); // rounded to whole bytes
    EXPECT_EQ(live::rate_text(8192), "8.00 KiB/s");
    EXPECT_EQ(live::rate_text(5.5 * 1024 * 1024), "5.50 MiB/s");
    util::set_number_format(",", ".");
    EXPECT_EQ(live::rate_text(8192), "8,00 KiB/s");
    testing_support::use_english();
}

TEST(NetTraffic, ScanFindsTheUpInterfacesButLoopback) {
    testing_support::use_english();
    TempDir sys;
    auto iface = [&](const std::string& name, const std::string& state, const std::string& speed) {
        const std::string d = "sys/class/net/" + name + "/";
        sys.write(d + "operstate", state + "\n");
        sys.write(d + "speed", speed + "\n");
        sys.write(d + "statistics/rx_bytes", "4096\n");
        sys.write(d + "statistics/tx_bytes", "not a number\n");
    };
    iface("lo", "unknown", "");
    ScopedEnv root("QUARVEL_SYSROOT", sys.path());
    EXPECT_TRUE(live::scan_interfaces().empty());
    EXPECT_EQ(live::traffic_height(0), 96);

    iface("lo", "up", "");
    iface("eth10", "up", "1000");
    iface("eth2", "up", "-1");
    iface("wlan0", "down", "");
    iface("veth0", "up", "10000");
    sys.write("sys/class/net/bonding_masters", "up\n"); // a file, no interface
    std::vector<std::string> names;
    auto found = live::scan_interfaces();
    for (const auto& i : found)
        names.push_back(i.name + " " + i.speed);
    EXPECT_EQ(names,
              (std::vector<std::string>{"eth2 ", "eth10 1,000 Mbit/s", "veth0 10,000 Mbit/s"}));
    EXPECT_EQ(live::traffic_height(found.size()), 324);
    // A counter that cannot be read leaves nothing to measure from.
    EXPECT_FALSE(found[0].counted);
}

TEST(SensorReadings, ValueTextsInEachUnitAndSeparator) {
    struct Case {
        live::SensorKind kind;
        const char* raw;
        const char* english;
        const char* german;
    };
    const Case cases[] = {
        {live::SensorKind::Temperature, "45500", "45.5 °C", "45,5 °C"},
        {live::SensorKind::Temperature, "-1000", "-1.0 °C", "-1,0 °C"},
        {live::SensorKind::Fan, "0", "0 rpm", "0 rpm"},
        {live::SensorKind::Fan, "12345", "12,345 rpm", "12.345 rpm"},
        {live::SensorKind::Voltage, "1352", "1.35 V", "1,35 V"},
        {live::SensorKind::Power, "68260000", "68.3 W", "68,3 W"},
    };
    for (const char* language : {"en", "de"}) {
        I18n::instance().set_language(language);
        util::set_number_format(tr("num.decimal"), tr("num.group"));
        for (const Case& c : cases) {
            live::SensorChannel ch;
            ch.kind = c.kind;
            ASSERT_TRUE(live::take_reading(ch, c.raw)) << c.raw;
            EXPECT_EQ(live::value_text(c.kind, ch.value),
                      std::string(language) == "en" ? c.english : c.german);
        }
    }
    testing_support::use_english();
}

TEST(SensorReadings, HistoryGarbageRangeAndRamp) {
    testing_support::use_english();
    live::SensorChannel fan;
    fan.kind = live::SensorKind::Fan;
    for (int s = 0; s < 121; ++s)
        live::take_reading(fan, std::to_string(1000 + s));
    EXPECT_EQ(fan.history.size(), 120u);
    EXPECT_EQ(fan.history.front(), 1001) << "the oldest went";
    for (const char* garbage : {"", "n/a", "-5", "inf"})
        EXPECT_FALSE(live::take_reading(fan, garbage)) << garbage;
    EXPECT_EQ(fan.value, 1120) << "garbage keeps the last reading";
    EXPECT_EQ(live::range_text(fan), "1,001\u20131,120");

    // A steady reading is drawn flat in the middle of a span of 4 units (0.1 V).
    live::SensorChannel volt;
    volt.kind = live::SensorKind::Voltage;
    live::take_reading(volt, "1200");
    EXPECT_EQ(live::graph_range(volt), (std::pair<double, double>{1.15, 1.25}));
    EXPECT_EQ(live::ramp_position(volt), std::nullopt);
    live::SensorChannel temp;
    for (auto [raw, f] : {std::pair{"20000", 0.0}, {"62500", 0.5}, {"99000", 1.0}}) {
        live::take_reading(temp, raw);
        EXPECT_DOUBLE_EQ(*live::ramp_position(temp), f) << raw;
    }
    EXPECT_EQ(live::graph_range(temp), (std::pair<double, double>{20, 99}));
}

TEST(SensorReadings, ScanListsEveryChipsChannelsInKindOrder) {
    testing_support::use_english();
    TempDir sys;
    ScopedEnv root("QUARVEL_SYSROOT", sys.path());
    EXPECT_TRUE(live::scan_sensors().empty());
    EXPECT_EQ(live::sensors_height(0), 78);

    const std::string a = "sys/devices/platform/nct6775.656/hwmon/hwmon0/";
    sys.symlink("../../devices/platform/nct6775.656/hwmon/hwmon0", "sys/class/hwmon/hwmon0");
    for (auto [file, text] : std::vector<std::pair<std::string, std::string>>{
             {"name", "nct6798"},
             {"in0_input", "1352"},
             {"in0_crit", "1800"},
             {"temp2_input", "41500"},
             {"temp2_label", "CPUTIN"},
             {"temp2_crit", "100000"},
             {"temp3_input", ""}, // not readable now: no card, as no row in the tree
             {"curr1_input", "1000"},
             {"fan1_input", "1278"}})
        sys.write(a + file, text + "\n");
    // Old drivers keep their files in the device's directory.
    const std::string b = "sys/devices/platform/it87.656/";
    sys.symlink("../../devices/platform/it87.656/hwmon/hwmon1", "sys/class/hwmon/hwmon1");
    sys.symlink("../../../it87.656", b + "hwmon/hwmon1/device");
    sys.write(b + "name", "it8728\n");
    sys.write(b + "power1_average", "68000000\n");
    sys.write(b + "power1_crit", "250000000\n");

    std::vector<std::string> got;
    auto channels = live::scan_sensors();
    for (const auto& c : channels)
        got.push_back(c.chip + " " + c.label + " " + live::value_text(c.kind, c.value) + " crit " +
                      util::fmt_double(c.crit, 1));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "nct6798 CPUTIN 41.5 °C crit 100.0", "nct6798 fan1 1,278 rpm crit 0.0",
                       "nct6798 in0 1.35 V crit 1.8", "it8728 power1 68.0 W crit 250.0"}));
    EXPECT_EQ(channels[0].history.size(), 1u) << "the first reading is taken by the scan";
    EXPECT_EQ(live::sensors_height(5), 270);
}

// Each card stands for a row of the tree's chip, and the other way round.
TEST(SensorReadings, EveryFixtureChannelOfTheTreeHasACard) {
    const std::vector<std::string> kinds = {"Temperatures", "Fans", "Voltages", "Power draw"};
    size_t total = 0;
    for (const std::string& machine : testing_support::fixture_machines()) {
        const std::string root = testing_support::fixture(machine);
        auto tree = testing_support::collect(hw::collect_sensors, root);
        std::vector<std::string> rows, cards;
        if (const hw::Node* sensors = tree->find("sensors"))
            for (const auto& chip : sensors->children)
                for (const auto& s : chip->sections)
                    if (std::find(kinds.begin(), kinds.end(), s.title) != kinds.end())
                        for (const auto& item : s.items)
                            rows.push_back(chip->summary + " " + item.name);
        ScopedEnv sysroot("QUARVEL_SYSROOT", root);
        for (const auto& c : live::scan_sensors())
            cards.push_back(c.chip + " " + c.label);
        std::sort(rows.begin(), rows.end());
        std::sort(cards.begin(), cards.end());
        EXPECT_EQ(cards, rows) << machine;
        total += cards.size();
    }
    EXPECT_GT(total, 20u) << "the fixtures with chips were read";
}
