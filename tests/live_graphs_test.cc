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
#include <cmath>
#include <filesystem>
#include <tuple>

using testing_support::ScopedEnv;
using Texts = std::vector<std::string>;

namespace {

live::NetIface counted(uint64_t rx, uint64_t tx) {
    live::NetIface i;
    i.last_rx = rx, i.last_tx = tx, i.counted = true;
    return i;
}

} // namespace

TEST(NetTraffic, RatesAreBytesOverTheMeasuredInterval) {
    using C = live::NetCounters;
    const struct {
        const char* what;
        std::optional<C> now;
        double seconds, rx_rate, tx_rate;
        size_t history;
    } cases[] = {
        {"one second", C{11000, 5500}, 1, 10000, 500, 1},
        // The main loop stalled for three seconds: the same traffic, not a burst of 3×.
        {"a late tick", C{31000, 6500}, 3, 10000, 500, 1},
        {"counters went back", C{200, 7000}, 1, 0, 2000, 1},
        {"unreadable", std::nullopt, 1, 0, 0, 1},
        {"no time passed", C{9000, 9000}, 0, 0, 0, 0},
        // A refresh 4 ms after the tick: one packet would read as 375 KB/s.
        {"the same tick", C{2500, 5000}, 0.004, 0, 0, 0},
        {"a clock gone back", C{9000, 9000}, -1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        live::NetIface i = counted(1000, 5000);
        live::advance(i, c.now, c.seconds);
        EXPECT_DOUBLE_EQ(i.rx_rate, c.rx_rate) << c.what;
        EXPECT_DOUBLE_EQ(i.tx_rate, c.tx_rate) << c.what;
        EXPECT_EQ(i.rx_total, c.now && c.history ? c.now->rx : 0) << c.what;
        EXPECT_EQ(i.rx_history.size(), c.history) << c.what;
    }
    // Without a first reading, or after seconds nobody could read, the bytes so far belong
    // to no interval: no false burst.
    live::NetIface fresh;
    live::advance(fresh, C{1u << 30, 0}, 1);
    live::advance(fresh, C{(1u << 30) + 512, 0}, 0.5);
    live::advance(fresh, std::nullopt, 1);
    live::advance(fresh, C{(1u << 30) + 9000, 0}, 1);
    live::advance(fresh, C{(1u << 30) + 10000, 0}, 1);
    EXPECT_EQ(fresh.rx_history, (std::deque<double>{0, 1024, 0, 0, 1000}));
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
    EXPECT_EQ((Texts{live::rate_text(0), live::rate_text(1000.6), live::rate_text(8192)}),
              (Texts{"0 B/s", "1,001 B/s", "8.00 KiB/s"}));
    util::set_number_format(",", ".");
    EXPECT_EQ(live::rate_text(5.5 * 1024 * 1024), "5,50 MiB/s");
    testing_support::use_english();
}

TEST(NetTraffic, ScanFindsTheUpInterfacesButLoopback) {
    testing_support::use_english();
    testing_support::TempDir sys;
    ScopedEnv root("QUARVEL_SYSROOT", sys.path());
    auto iface = [&](const std::string& name, const std::string& state, const std::string& speed) {
        for (auto [file, text] : {std::pair{"operstate", state},
                                  {"speed", speed},
                                  {"statistics/rx_bytes", std::string("4096")},
                                  {"statistics/tx_bytes", std::string("garbage")}})
            sys.write("sys/class/net/" + name + "/" + file, text + "\n");
    };
    iface("lo", "up", "");
    EXPECT_EQ(live::traffic_height(live::scan_interfaces().size()), 96);

    iface("eth10", "up", "1000");
    iface("eth2", "up", "-1");
    iface("wlan0", "down", "");
    iface("veth0", "up", "10000");
    iface("wg0", "unknown", "");                        // a tunnel, which tracks no link state
    sys.write("sys/class/net/bonding_masters", "up\n"); // a file, no interface
    Texts names;
    auto found = live::scan_interfaces();
    for (const auto& i : found)
        names.push_back(i.name + " " + i.speed);
    EXPECT_EQ(names, (Texts{"eth2 ", "eth10 1,000 Mbit/s", "veth0 10,000 Mbit/s", "wg0 "}));
    EXPECT_EQ(live::traffic_height(found.size()), 428);
    EXPECT_FALSE(found[0].counted) << "an unreadable counter leaves nothing to measure from";
}

// A refresh with the network node shown: a veth pair came, another left, eth0 stayed.
TEST(NetTraffic, ARescanKeepsTheGraphsOfInterfacesThatStay) {
    auto iface = [](const char* name, const char* speed, std::deque<double> history) {
        live::NetIface i = counted(5000, 700);
        i.name = name, i.speed = speed, i.rx_history = i.tx_history = history;
        return i;
    };
    auto got = live::carry_over({iface("eth0", "100 Mbit/s", {1, 2}), iface("veth1", "", {3})},
                                {iface("eth0", "1,000 Mbit/s", {}), iface("veth7", "", {})});
    Texts shown;
    for (const auto& i : got)
        shown.push_back(i.name + " " + i.speed + " " + std::to_string(i.rx_history.size()));
    EXPECT_EQ(shown, (Texts{"eth0 1,000 Mbit/s 2", "veth7  0"}));
}

TEST(SensorReadings, ValueTextsInEachUnitAndSeparator) {
    using K = live::SensorKind;
    const std::tuple<K, const char*, const char*, const char*> cases[] = {
        {K::Temperature, "45500", "45.5 °C", "45,5 °C"},
        {K::Temperature, "-1000", "-1.0 °C", "-1,0 °C"},
        {K::Fan, "0", "0 rpm", "0 rpm"},
        {K::Fan, "12345", "12,345 rpm", "12.345 rpm"},
        {K::Voltage, "1352", "1.35 V", "1,35 V"},
        {K::Power, "68260000", "68.3 W", "68,3 W"}};
    for (const char* language : {"en", "de"}) {
        I18n::instance().set_language(language);
        util::set_number_format(tr("num.decimal"), tr("num.group"));
        for (const auto& [kind, raw, english, german] : cases) {
            live::SensorChannel ch;
            ch.kind = kind;
            ASSERT_TRUE(live::take_reading(ch, raw)) << raw;
            EXPECT_EQ(live::value_text(kind, ch.value), *language == 'e' ? english : german);
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
    EXPECT_EQ(live::reading_text(fan), "1,120 rpm");
    // An empty read (EIO, a chip that is gone) or garbage is no reading: the card must not go
    // on showing the last one as live.
    for (const char* garbage : {"", "n/a", "-5", "inf"}) {
        EXPECT_FALSE(live::take_reading(fan, garbage)) << garbage;
        EXPECT_EQ(live::reading_text(fan), "\u2013") << garbage;
    }
    EXPECT_EQ(live::range_text(fan), "1,001\u20131,120") << "the oldest went, nothing was added";
    live::take_reading(fan, "1300");
    EXPECT_EQ(live::reading_text(fan), "1,300 rpm") << "the chip answers again";

    // A steady reading is drawn flat in the middle of a span of 4 units (0.1 V).
    live::SensorChannel volt;
    volt.kind = live::SensorKind::Voltage;
    live::take_reading(volt, "1200");
    EXPECT_EQ(live::graph_range(volt), (std::pair<double, double>{1.15, 1.25}));
    volt.history = {1.7e308, 1.7e308};
    EXPECT_TRUE(std::isfinite(live::graph_range(volt).first)) << "the midpoint must not overflow";
    volt.history = {1.2};
    EXPECT_EQ(live::ramp_position(volt), std::nullopt);
    live::SensorChannel temp;
    for (auto [raw, f] : {std::pair{"20000", 0.0}, {"62500", 0.5}, {"99000", 1.0}}) {
        live::take_reading(temp, raw);
        EXPECT_DOUBLE_EQ(*live::ramp_position(temp), f) << raw;
    }
}

TEST(SensorReadings, ScanListsEveryChipsChannelsInKindOrder) {
    testing_support::use_english();
    testing_support::TempDir sys;
    ScopedEnv root("QUARVEL_SYSROOT", sys.path());
    EXPECT_EQ(live::sensors_height(live::scan_sensors().size()), 78);

    const std::string a = "sys/devices/platform/nct6775.656/hwmon/hwmon0/";
    sys.symlink("../../devices/platform/nct6775.656/hwmon/hwmon0", "sys/class/hwmon/hwmon0");
    // Old drivers keep their files in the device's directory.
    const std::string b = "sys/devices/platform/it87.656/";
    sys.symlink("../../devices/platform/it87.656/hwmon/hwmon1", "sys/class/hwmon/hwmon1");
    sys.symlink("../../../it87.656", b + "hwmon/hwmon1/device");
    for (auto [file, text] : {std::pair{a + "name", "nct6798"},
                              {a + "in0_input", "1352"},
                              {a + "in0_crit", "1800"},
                              {a + "temp2_input", "41500"},
                              {a + "temp2_label", "CPUTIN"},
                              {a + "temp2_crit", "100000"},
                              {a + "temp3_input", ""}, // unreadable now: no card, as no row
                              {a + "curr1_input", "1000"},
                              {a + "fan1_input", "1278"},
                              {b + "name", "it8728"},
                              {b + "power1_average", "68000000"},
                              {b + "power1_crit", "250000000"}})
        sys.write(file, std::string(text) + "\n");

    Texts got;
    auto channels = live::scan_sensors();
    for (const auto& c : channels)
        got.push_back(c.chip + " " + c.label + " " + live::value_text(c.kind, c.value) + " crit " +
                      util::fmt_double(c.crit, 1));
    // A power limit is in microwatts like the reading, not in thousandths.
    EXPECT_EQ(got, (Texts{"nct6798 CPUTIN 41.5 °C crit 100.0", "nct6798 fan1 1,278 rpm crit 0.0",
                          "nct6798 in0 1.35 V crit 1.8", "it8728 power1 68.0 W crit 250.0"}));
    EXPECT_EQ(channels[0].history.size(), 1u) << "the first reading is taken by the scan";
    EXPECT_EQ(live::sensors_height(5), 270);
}

// A refresh with the sensors shown: the NVMe drive left, a disk's chip came.
TEST(SensorReadings, ARescanKeepsTheHistoriesOfChannelsThatStay) {
    auto channel = [](const char* path, const char* chip, double value,
                      std::deque<double> history) {
        live::SensorChannel c;
        c.path = path, c.chip = chip, c.label = "temp1", c.value = value, c.history = history;
        return c;
    };
    const char* cpu = "/sys/devices/pci0000:00/0000:00:18.3/hwmon/hwmon0/temp1_input";
    const char* nvme = "/sys/devices/pci0000:00/0000:01:00.0/nvme/nvme0/hwmon1/temp1_input";
    const char* disk = "/sys/devices/pci0000:00/0000:02:00.0/ata1/host0/hwmon/hwmon1/temp1_input";
    auto got =
        live::carry_over({channel(cpu, "k10temp", 40, {39, 40}), channel(nvme, "nvme", 35, {35})},
                         {channel(cpu, "k10temp", 42, {42}), channel(disk, "drivetemp", 28, {28})});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].history, (std::deque<double>{39, 40, 42}));
    EXPECT_EQ(got[1].chip, "drivetemp");
    EXPECT_EQ(got[1].history, (std::deque<double>{28}));
}

TEST(SensorReadings, ACardNeverReadsTheChipThatTookItsNumber) {
    testing_support::TempDir sys;
    ScopedEnv root("QUARVEL_SYSROOT", sys.path());
    testing_support::write_renumbered_hwmon(sys);
    auto channels = live::scan_sensors();
    ASSERT_EQ(channels.size(), 1u);
    testing_support::unplug_renumbered_nvme(sys);
    EXPECT_FALSE(live::take_reading(channels[0], util::read_file(channels[0].path)));
    EXPECT_EQ(live::reading_text(channels[0]), "\u2013");
}

// Each card stands for a row of the tree's chip, and the other way round.
TEST(SensorReadings, EveryFixtureChannelOfTheTreeHasACard) {
    const Texts kinds = {"Temperatures", "Fans", "Voltages", "Power draw"};
    size_t total = 0;
    for (const std::string& machine : testing_support::fixture_machines()) {
        const std::string root = testing_support::fixture(machine);
        auto tree = testing_support::collect(hw::collect_sensors, root);
        Texts rows, cards;
        for (const auto& chip : tree->find("sensors")->children)
            for (const auto& s : chip->sections)
                if (std::count(kinds.begin(), kinds.end(), s.title))
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
