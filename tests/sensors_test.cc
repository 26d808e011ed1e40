// The sensors branch: channel files and their units, and the collector over small trees
// shaped like the kernel's (relative links, sparse channels, legacy layouts, odd values).
#include "hw/hardware.h"
#include "hw/hwmon.h"
#include "test_support.h"
#include "util.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class SensorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }

    // Collects the branch over `dir` and returns it (the root keeps it alive).
    const hw::Node& collect(const TempDir& dir) {
        ScopedEnv sysroot("QUARVEL_SYSROOT", dir.path());
        m_root = std::make_unique<hw::Node>();
        hw::collect_sensors(*m_root);
        const hw::Node* sensors = m_root->find("sensors");
        if (!sensors) throw std::runtime_error("no sensors node");
        return *sensors;
    }

    std::unique_ptr<hw::Node> m_root;
};

const hw::Item* row(const hw::Node& node, const std::string& section, const std::string& name) {
    for (const auto& s : node.sections)
        if (s.title == section)
            for (const auto& item : s.items)
                if (item.name == name) return &item;
    return nullptr;
}

std::vector<std::string> stems(const std::vector<hw::hwmon::Channel>& channels) {
    std::vector<std::string> out;
    for (const auto& c : channels)
        out.push_back(c.stem + "=" + c.reading);
    return out;
}

// A chip registered the way current kernels do it: class link into /sys/devices.
void add_chip(const TempDir& t, int n, const std::string& device_dir) {
    std::string hwmon = "hwmon" + std::to_string(n);
    std::string rel = device_dir + "/hwmon/" + hwmon;
    t.symlink("../../" + rel.substr(4), "sys/class/hwmon/" + hwmon);
    t.mkdir(rel);
}

// Lets another user walk the tree (temporary directories are private to their owner).
void open_to_everyone(const std::string& root) {
    namespace fs = std::filesystem;
    chmod(root.c_str(), 0755);
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_symlink()) chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
}

} // namespace

TEST(HwmonFormat, ReadingsInTheirUnits) {
    util::set_number_format(".", ",");
    EXPECT_EQ(hw::hwmon::temp_value("80000"), "80.0 °C");
    EXPECT_EQ(hw::hwmon::temp_value("-1000"), "-1.0 °C");
    // Placeholder limits of NVMe drives, as sensors prints them.
    EXPECT_EQ(hw::hwmon::temp_value("65261850"), "65,261.8 °C");
    EXPECT_EQ(hw::hwmon::temp_value("-273150"), "-273.1 °C");
    EXPECT_EQ(hw::hwmon::rpm_value("1278"), "1,278 rpm");
    EXPECT_EQ(hw::hwmon::volt_value("3424"), "3.424 V");
    EXPECT_EQ(hw::hwmon::curr_value("-1500"), "-1.500 A");
    EXPECT_EQ(hw::hwmon::power_value("41045000"), "41.05 W");
}

TEST(HwmonFormat, GarbageGivesNoValue) {
    for (const char* raw : {"", "  ", "n/a", "nan", "inf", "1e999"}) {
        EXPECT_EQ(hw::hwmon::temp_value(raw), "") << raw;
        EXPECT_EQ(hw::hwmon::power_value(raw), "") << raw;
    }
    EXPECT_EQ(hw::hwmon::rpm_value("-5"), "");
}

TEST(HwmonChannels, OnlyNumberedInputsInListingOrder) {
    std::vector<std::string> entries = {"in0_input",        "in0_max",   "in1_input",
                                        "in_foo_input",     "inX_input", "intrusion0_alarm",
                                        "intrusion0_input", "name"};
    EXPECT_EQ(stems(hw::hwmon::channels(entries, "in")),
              (std::vector<std::string>{"in0=in0_input", "in1=in1_input"}));
    std::vector<std::string> temps = {"temp1_input", "temp2_input", "temp6_input", "temp10_input"};
    EXPECT_EQ(stems(hw::hwmon::channels(temps, "temp")),
              (std::vector<std::string>{"temp1=temp1_input", "temp2=temp2_input",
                                        "temp6=temp6_input", "temp10=temp10_input"}));
}

TEST(HwmonChannels, PowerAverageOnlyWhenThereIsNoInput) {
    std::vector<std::string> entries = {"power1_average", "power1_cap",
                                        "power2_average", "power2_input",
                                        "power3_average", "power3_average_interval"};
    EXPECT_EQ(stems(hw::hwmon::channels(entries, "power")),
              (std::vector<std::string>{"power1=power1_average", "power2=power2_input",
                                        "power3=power3_average"}));
    // Averages are a power-only fallback.
    EXPECT_TRUE(hw::hwmon::channels({"temp1_average"}, "temp").empty());
}

TEST(HwmonText, PaddingAndBadBytes) {
    EXPECT_EQ(hw::hwmon::clean_text(std::string("amdgpu\n\0\0\0", 10)), "amdgpu");
    EXPECT_EQ(util::valid_utf8(hw::hwmon::clean_text("fan\xff\xfe")),
              hw::hwmon::clean_text("fan\xff\xfe"));
}

TEST_F(SensorsTest, ChannelRowsWithLabelsLimitsAndAlarms) {
    TempDir t;
    add_chip(t, 0, "sys/devices/platform/nct6775.656");
    std::string d = "sys/devices/platform/nct6775.656/hwmon/hwmon0/";
    t.write(d + "name", "nct6798\n");
    t.write(d + "temp1_input", "34000\n");
    t.write(d + "temp1_max", "80000\n");
    t.write(d + "temp1_crit", "100000\n");
    t.write(d + "temp1_alarm", "0\n");
    t.write(d + "temp2_input", "41500\n");
    t.write(d + "temp2_label", "CPUTIN\n");
    t.write(d + "temp3_input", ""); // an absent channel: the driver keeps an empty file
    t.write(d + "fan3_input", "0\n");
    t.write(d + "fan3_min", "300\n");
    t.write(d + "fan3_alarm", "1\n");
    t.write(d + "curr1_input", "8750\n");
    t.write(d + "in0_input", "1128\n");
    t.write(d + "intrusion0_alarm", "1\n");

    const hw::Node& sensors = collect(t);
    const hw::Node* chip = sensors.find("hwmon.hwmon0");
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(chip->title, "hwmon0  nct6798");
    EXPECT_EQ(chip->summary, "nct6798");
    const hw::Item* t1 = row(*chip, "Temperatures", "temp1");
    ASSERT_NE(t1, nullptr);
    EXPECT_EQ(t1->value, "34.0 °C");
    EXPECT_EQ(t1->note, "max 80.0 °C, crit 100.0 °C");
    ASSERT_NE(row(*chip, "Temperatures", "CPUTIN"), nullptr);
    EXPECT_EQ(row(*chip, "Temperatures", "temp3"), nullptr);
    const hw::Item* fan = row(*chip, "Fans", "fan3");
    ASSERT_NE(fan, nullptr);
    EXPECT_EQ(fan->note, "min 300 rpm, alarm");
    ASSERT_NE(row(*chip, "Currents", "curr1"), nullptr);
    EXPECT_EQ(row(*chip, "Currents", "curr1")->value, "8.750 A");
    ASSERT_NE(row(*chip, "Voltages", "in0"), nullptr);
    // The chip has no power channels, so no empty section stands in the tree.
    for (const auto& s : chip->sections)
        EXPECT_FALSE(s.items.empty()) << s.title;
    EXPECT_EQ(sensors.summary, "41.5 °C max");
}

TEST_F(SensorsTest, DeviceFromResolvedLinkAndLegacyLayout) {
    TempDir t;
    // A device link of "../.." names the device two levels up, not "..".
    add_chip(t, 0, "sys/devices/platform/dell_smm_hwmon");
    t.symlink("../..", "sys/devices/platform/dell_smm_hwmon/hwmon/hwmon0/device");
    t.symlink("../../../bus/platform/drivers/dell_smm_hwmon",
              "sys/devices/platform/dell_smm_hwmon/driver");
    t.write("sys/devices/platform/dell_smm_hwmon/hwmon/hwmon0/name", "dell_smm\n");
    // Old drivers keep name and channels in the device's directory.
    add_chip(t, 1, "sys/devices/platform/it87.656");
    t.symlink("../../../it87.656", "sys/devices/platform/it87.656/hwmon/hwmon1/device");
    t.write("sys/devices/platform/it87.656/name", "it8728\n");
    t.write("sys/devices/platform/it87.656/fan1_input", "2650\n");
    // Virtual chips have no device link at all.
    t.symlink("../../devices/virtual/hwmon/hwmon2", "sys/class/hwmon/hwmon2");
    t.write("sys/devices/virtual/hwmon/hwmon2/name", "acpitz\n");
    t.write("sys/devices/virtual/hwmon/hwmon2/temp1_input", "27800\n");

    const hw::Node& sensors = collect(t);
    const hw::Node* dell = sensors.find("hwmon.hwmon0");
    ASSERT_NE(dell, nullptr);
    ASSERT_NE(row(*dell, "Chip", "Device"), nullptr);
    EXPECT_EQ(row(*dell, "Chip", "Device")->value, "dell_smm_hwmon");
    ASSERT_NE(row(*dell, "Chip", "Driver"), nullptr);
    EXPECT_EQ(row(*dell, "Chip", "Driver")->value, "dell_smm_hwmon");

    const hw::Node* legacy = sensors.find("hwmon.hwmon1");
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->title, "hwmon1  it8728");
    ASSERT_NE(row(*legacy, "Fans", "fan1"), nullptr);
    EXPECT_EQ(row(*legacy, "Fans", "fan1")->value, "2,650 rpm");

    const hw::Node* virt = sensors.find("hwmon.hwmon2");
    ASSERT_NE(virt, nullptr);
    EXPECT_EQ(row(*virt, "Chip", "Device"), nullptr);
    EXPECT_EQ(row(*virt, "Chip", "Driver"), nullptr);
    ASSERT_NE(row(*virt, "Temperatures", "temp1"), nullptr);
}

TEST_F(SensorsTest, DiscreteGpuPowerFromAverage) {
    TempDir t;
    add_chip(t, 0, "sys/devices/pci0000:00/0000:03:00.0");
    std::string d = "sys/devices/pci0000:00/0000:03:00.0/hwmon/hwmon0/";
    t.write(d + "name", "amdgpu\n");
    t.write(d + "power1_average", "68000000\n");
    t.write(d + "power1_label", "PPT\n");
    add_chip(t, 1, "sys/devices/pci0000:00/0000:c4:00.0");
    std::string apu = "sys/devices/pci0000:00/0000:c4:00.0/hwmon/hwmon1/";
    t.write(apu + "name", "amdgpu\n");
    t.write(apu + "power1_average", "3103000\n");
    t.write(apu + "power1_input", "3142000\n");

    const hw::Node& sensors = collect(t);
    const hw::Item* gpu = row(*sensors.find("hwmon.hwmon0"), "Power draw", "PPT");
    ASSERT_NE(gpu, nullptr);
    EXPECT_EQ(gpu->value, "68.00 W");
    const hw::Item* own = row(*sensors.find("hwmon.hwmon1"), "Power draw", "power1");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->value, "3.14 W");
    EXPECT_EQ(sensors.find("hwmon.hwmon1")->sections.back().items.size(), 1u);
}

TEST_F(SensorsTest, NothingExposedGivesTheStatusRow) {
    TempDir t;
    t.mkdir("sys/class/hwmon");
    {
        ScopedEnv no_snap("SNAP_NAME", std::nullopt);
        const hw::Node& sensors = collect(t);
        ASSERT_EQ(sensors.sections.size(), 1u);
        const hw::Item* status = row(sensors, "Status", "Status");
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->value, tr("msg.no_sensors"));
        EXPECT_TRUE(sensors.children.empty());
    }
    ScopedEnv snap("SNAP_NAME", std::string("quarvel"));
    const hw::Node& confined = collect(t);
    const hw::Item* hint = row(confined, "Status", "Status");
    ASSERT_NE(hint, nullptr);
    EXPECT_NE(hint->value.find("quarvel:hardware-observe"), std::string::npos) << hint->value;
}

TEST_F(SensorsTest, ThermalZonesWithTripPoints) {
    TempDir t;
    std::string z = "sys/devices/virtual/thermal/thermal_zone0/";
    t.symlink("../../devices/virtual/thermal/thermal_zone0", "sys/class/thermal/thermal_zone0");
    t.symlink("../../devices/virtual/thermal/cooling_device0", "sys/class/thermal/cooling_device0");
    t.write(z + "type", "TCPU\n");
    t.write(z + "temp", "51000\n");
    t.write(z + "policy", "step_wise\n");
    t.write(z + "trip_point_0_temp", "95000\n");
    t.write(z + "trip_point_0_type", "passive\n");
    t.write(z + "trip_point_1_temp", "105000\n");
    t.write(z + "trip_point_1_type", "critical\n");
    t.write(z + "trip_point_2_temp", "99000\n");
    t.write(z + "trip_point_1_hyst", "0\n");

    const hw::Node& sensors = collect(t);
    EXPECT_EQ(sensors.find("hwmon.hwmon0"), nullptr);
    const hw::Node* zones = sensors.find("thermal.zones");
    ASSERT_NE(zones, nullptr);
    ASSERT_EQ(zones->children.size(), 1u) << "cooling devices are no zones";
    const hw::Node& zone = *zones->children[0];
    EXPECT_EQ(zone.title, "thermal_zone0  TCPU");
    ASSERT_EQ(zone.sections.size(), 1u);
    const auto& items = zone.sections[0].items;
    std::vector<std::string> shown;
    for (const auto& i : items)
        shown.push_back(i.name + "=" + i.value);
    EXPECT_EQ(shown, (std::vector<std::string>{"Type=TCPU", "Temperature=51.0 °C",
                                               "Cooling policy=step_wise", "passive=95.0 °C",
                                               "critical=105.0 °C", "trip_point_2=99.0 °C"}));
}

TEST_F(SensorsTest, PowercapDomainsAndLockedEnergy) {
    TempDir t;
    std::string p = "sys/devices/virtual/powercap/intel-rapl/intel-rapl:0/";
    t.symlink("../../devices/virtual/powercap/intel-rapl/intel-rapl:0",
              "sys/class/powercap/intel-rapl:0");
    t.write(p + "name", "package-0\n");
    t.write(p + "energy_uj", "12734521886\n");
    t.write(p + "enabled", "1\n");
    t.write(p + "constraint_0_name", "long_term\n");
    t.write(p + "constraint_0_power_limit_uw", "28000000\n");
    t.write(p + "constraint_0_time_window_us", "27983872\n");
    t.write(p + "constraint_1_power_limit_uw", "64000000\n");

    const hw::Node& sensors = collect(t);
    const hw::Node* domain = sensors.find("powercap.intel-rapl:0");
    ASSERT_NE(domain, nullptr);
    EXPECT_EQ(domain->title, "intel-rapl:0  package-0");
    const std::string sec = domain->sections.at(0).title;
    ASSERT_NE(row(*domain, sec, "Energy counter"), nullptr);
    EXPECT_EQ(row(*domain, sec, "Energy counter")->value, "12,734.5 J");
    const hw::Item* lt = row(*domain, sec, "long_term");
    ASSERT_NE(lt, nullptr);
    EXPECT_EQ(lt->value, "28.0 W");
    EXPECT_EQ(lt->note, "27,983,872 µs");
    ASSERT_NE(row(*domain, sec, "constraint_1"), nullptr);
    EXPECT_EQ(row(*domain, sec, "constraint_1")->note, "");

    // Since Linux 5.10 the counter is readable by root only.
    open_to_everyone(t.path());
    ASSERT_EQ(chmod((t.path() + "/" + p + "energy_uj").c_str(), 0400), 0);
    bool locked = testing_support::as_unprivileged_user([&] {
        const hw::Node& again = collect(t);
        const hw::Item* energy =
            row(*again.find("powercap.intel-rapl:0"), sec, tr("f.energy_counter"));
        return energy && energy->needs_root && energy->value.empty();
    });
    EXPECT_TRUE(locked);
}

TEST_F(SensorsTest, BrokenEntriesDoNotStopTheBranch) {
    TempDir t;
    t.symlink("../../devices/gone/hwmon0", "sys/class/hwmon/hwmon0"); // dangling
    add_chip(t, 1, "sys/devices/platform/coretemp.0");
    std::string d = "sys/devices/platform/coretemp.0/hwmon/hwmon1/";
    t.write(d + "name", std::string("core\xfftemp\0\0", 11));
    t.write(d + "temp1_input", "99999999999999999999999\n");
    t.write(d + "temp1_label", "Package\xff\n");
    t.write(d + "temp2_input", "garbage\n");
    t.write(d + "temp3_input", "45000\n");

    const hw::Node& sensors = collect(t);
    ASSERT_NE(sensors.find("hwmon.hwmon0"), nullptr);
    const hw::Node* chip = sensors.find("hwmon.hwmon1");
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(util::valid_utf8(chip->title), chip->title);
    EXPECT_EQ(row(*chip, "Temperatures", "temp2"), nullptr);
    ASSERT_NE(row(*chip, "Temperatures", "temp3"), nullptr);
    for (const auto& s : chip->sections)
        for (const auto& i : s.items)
            EXPECT_EQ(util::valid_utf8(i.name), i.name);
}
