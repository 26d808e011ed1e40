// The sensors branch over small trees shaped like the kernel's: relative links, sparse and
// empty channels, legacy layouts, placeholder limits and garbage.
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

    const hw::Node& collect(const TempDir& dir) {
        ScopedEnv sysroot("QUARVEL_SYSROOT", dir.path());
        m_root = std::make_unique<hw::Node>();
        hw::collect_sensors(*m_root);
        return *m_root->find("sensors");
    }

    std::unique_ptr<hw::Node> m_root;
};

// "label=value (note)" of the rows of one section, or of the first section when empty.
std::vector<std::string> rows(const hw::Node* node, const std::string& section = "") {
    std::vector<std::string> out;
    if (!node) return {"no node"};
    for (const auto& s : node->sections)
        if (section.empty() || s.title == section) {
            for (const auto& i : s.items)
                out.push_back(i.name + "=" + i.value + (i.note.empty() ? "" : " (" + i.note + ")"));
            break;
        }
    return out;
}

// A chip registered the way current kernels do it; returns its directory.
std::string chip(const TempDir& t, int n, const std::string& device_dir, const std::string& name) {
    std::string dir = device_dir + "/hwmon/hwmon" + std::to_string(n);
    t.symlink("../../" + dir.substr(4), "sys/class/hwmon/hwmon" + std::to_string(n));
    if (!name.empty()) t.write(dir + "/name", name + "\n");
    return dir + "/";
}

} // namespace

TEST(HwmonChannels, NumberedInputsAndThePowerAverage) {
    util::set_number_format(".", ",");
    std::vector<std::string> entries = {"in0_input",
                                        "in1_input",
                                        "in_foo_input",
                                        "intrusion0_alarm",
                                        "intrusion0_input",
                                        "power1_average",
                                        "power2_average",
                                        "power2_input",
                                        "temp1_average",
                                        "temp2_input",
                                        "temp6_input",
                                        "temp10_input",
                                        "power3_average_interval"};
    std::vector<std::string> got;
    for (const char* prefix : {"in", "power", "temp"})
        for (const auto& c : hw::hwmon::channels(entries, prefix))
            got.push_back(c.stem + "=" + c.reading);
    EXPECT_EQ(got,
              (std::vector<std::string>{"in0=in0_input", "in1=in1_input", "power1=power1_average",
                                        "power2=power2_input", "temp2=temp2_input",
                                        "temp6=temp6_input", "temp10=temp10_input"}));
    EXPECT_EQ(hw::hwmon::temp_value("-273150"), "-273.1 °C");
    EXPECT_EQ(hw::hwmon::power_value("41045000"), "41.05 W");
    for (const char* garbage : {"", "n/a", "nan", "inf"})
        EXPECT_EQ(hw::hwmon::temp_value(garbage), "") << garbage;
    EXPECT_EQ(hw::hwmon::rpm_value("-5"), "");
}

TEST_F(SensorsTest, ChannelsWithLabelsLimitsAndAlarms) {
    TempDir t;
    std::string d = chip(t, 0, "sys/devices/platform/nct6775.656", "nct6798");
    t.write(d + "temp1_input", "34000\n");
    t.write(d + "temp1_max", "80000\n");
    t.write(d + "temp1_crit", "100000\n");
    t.write(d + "temp1_alarm", "0\n");
    t.write(d + "temp2_input", "41500\n");
    t.write(d + "temp2_label", "CPUTIN\n");
    t.write(d + "temp3_input", ""); // an absent channel
    t.write(d + "fan3_input", "0\n");
    t.write(d + "fan3_min", "300\n");
    t.write(d + "fan3_alarm", "1\n");
    t.write(d + "curr1_input", "8750\n");
    std::string gpu = chip(t, 1, "sys/devices/pci0000:00/0000:03:00.0", "amdgpu");
    t.write(gpu + "power1_average", "68000000\n");
    t.write(gpu + "power1_label", "PPT\n");

    const hw::Node& sensors = collect(t);
    const hw::Node* nct = sensors.find("hwmon.hwmon0");
    ASSERT_NE(nct, nullptr);
    EXPECT_EQ(nct->title, "hwmon0  nct6798");
    EXPECT_EQ(
        rows(nct, "Temperatures"),
        (std::vector<std::string>{"temp1=34.0 °C (max 80.0 °C, crit 100.0 °C)", "CPUTIN=41.5 °C"}));
    EXPECT_EQ(rows(nct, "Fans"), (std::vector<std::string>{"fan3=0 rpm (min 300 rpm, alarm)"}));
    EXPECT_EQ(rows(nct, "Currents"), (std::vector<std::string>{"curr1=8.750 A"}));
    // Groups the chip lacks leave no empty sections.
    EXPECT_EQ(nct->sections.size(), 4u);
    // Discrete amdgpu cards report power only as an average.
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon1"), "Power draw"),
              (std::vector<std::string>{"PPT=68.00 W"}));
    EXPECT_EQ(sensors.summary, "41.5 °C max");
}

TEST_F(SensorsTest, DeviceLinksLegacyLayoutsAndGarbage) {
    TempDir t;
    // A device link of "../.." names the device two levels up, not "..".
    std::string dell = chip(t, 0, "sys/devices/platform/dell_smm_hwmon", "dell_smm");
    t.symlink("../..", dell + "device");
    t.symlink("../../../bus/platform/drivers/dell_smm_hwmon",
              "sys/devices/platform/dell_smm_hwmon/driver");
    // Old drivers keep name and channels in the device's directory.
    t.symlink("../../../it87.656", chip(t, 1, "sys/devices/platform/it87.656", "") + "device");
    t.write("sys/devices/platform/it87.656/name", "it8728\n");
    t.write("sys/devices/platform/it87.656/fan1_input", "2650\n");
    // No device link at all, a padded name, garbage and an unreadable-looking value.
    t.symlink("../../devices/virtual/hwmon/hwmon2", "sys/class/hwmon/hwmon2");
    t.write("sys/devices/virtual/hwmon/hwmon2/name", std::string("acpi\xfftz\0\0", 9));
    t.write("sys/devices/virtual/hwmon/hwmon2/temp1_input", "garbage\n");
    t.write("sys/devices/virtual/hwmon/hwmon2/temp2_input", "27800\n");
    t.write("sys/devices/virtual/hwmon/hwmon2/temp2_label", "Zone\xfe\n");
    t.symlink("../../devices/gone/hwmon3", "sys/class/hwmon/hwmon3"); // dangling

    const hw::Node& sensors = collect(t);
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon0"), "Chip"),
              (std::vector<std::string>{"Name=dell_smm (name)", "Device=dell_smm_hwmon (device)",
                                        "Driver=dell_smm_hwmon (driver)"}));
    EXPECT_EQ(sensors.find("hwmon.hwmon1")->title, "hwmon1  it8728");
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon1"), "Fans"),
              (std::vector<std::string>{"fan1=2,650 rpm"}));
    const hw::Node* virt = sensors.find("hwmon.hwmon2");
    EXPECT_EQ(rows(virt, "Chip"), (std::vector<std::string>{"Name=acpi\uFFFDtz (name)"}));
    EXPECT_EQ(rows(virt, "Temperatures"), (std::vector<std::string>{"Zone\uFFFD=27.8 °C"}));
    EXPECT_NE(sensors.find("hwmon.hwmon3"), nullptr);
}

TEST_F(SensorsTest, NothingExposedGivesTheStatusRow) {
    TempDir t;
    t.mkdir("sys/class/hwmon");
    ScopedEnv no_snap("SNAP_NAME", std::nullopt);
    EXPECT_EQ(rows(&collect(t)),
              (std::vector<std::string>{"Status=" + std::string(tr("msg.no_sensors"))}));
    ScopedEnv snap("SNAP_NAME", std::string("quarvel"));
    auto hint = rows(&collect(t));
    ASSERT_EQ(hint.size(), 1u);
    EXPECT_NE(hint[0].find("quarvel:hardware-observe"), std::string::npos) << hint[0];
}

TEST_F(SensorsTest, ThermalZonesAndPowerCapping) {
    TempDir t;
    std::string z = "sys/devices/virtual/thermal/thermal_zone0/";
    t.symlink("../../devices/virtual/thermal/thermal_zone0", "sys/class/thermal/thermal_zone0");
    t.symlink("../../devices/virtual/thermal/cooling_device0", "sys/class/thermal/cooling_device0");
    t.write(z + "type", "TCPU\n");
    t.write(z + "temp", "51000\n");
    t.write(z + "trip_point_0_temp", "95000\n");
    t.write(z + "trip_point_0_type", "passive\n");
    t.write(z + "trip_point_1_temp", "105000\n");
    t.write(z + "trip_point_1_type", "critical\n");
    t.write(z + "trip_point_1_hyst", "0\n");
    t.write(z + "trip_point_2_temp", "99000\n");
    std::string p = "sys/devices/virtual/powercap/intel-rapl/intel-rapl:0/";
    t.symlink("../../devices/virtual/powercap/intel-rapl/intel-rapl:0",
              "sys/class/powercap/intel-rapl:0");
    t.write(p + "name", "package-0\n");
    t.write(p + "energy_uj", "12734521886\n");
    t.write(p + "constraint_0_name", "long_term\n");
    t.write(p + "constraint_0_power_limit_uw", "28000000\n");
    t.write(p + "constraint_0_time_window_us", "27983872\n");
    t.write(p + "constraint_1_power_limit_uw", "64000000\n");

    const hw::Node& sensors = collect(t);
    const hw::Node* zones = sensors.find("thermal.zones");
    ASSERT_EQ(zones ? zones->children.size() : 0u, 1u) << "cooling devices are no zones";
    EXPECT_EQ(zones->children[0]->title, "thermal_zone0  TCPU");
    EXPECT_EQ(rows(zones->children[0].get()),
              (std::vector<std::string>{"Type=TCPU (type)", "Temperature=51.0 °C (temp)",
                                        "passive=95.0 °C (trip_point_0_temp)",
                                        "critical=105.0 °C (trip_point_1_temp)",
                                        "trip_point_2=99.0 °C (trip_point_2_temp)"}));
    EXPECT_EQ(
        rows(sensors.find("powercap.intel-rapl:0")),
        (std::vector<std::string>{"Name=package-0 (name)", "Energy counter=12,734.5 J (energy_uj)",
                                  "long_term=28.0 W (27,983,872 µs)", "constraint_1=64.0 W"}));

    // Since Linux 5.10 the counter is readable by root only: a lock, not "0.0 J".
    namespace fs = std::filesystem;
    for (const auto& e : fs::recursive_directory_iterator(t.path()))
        if (!e.is_symlink()) chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
    chmod(t.path().c_str(), 0755);
    ASSERT_EQ(chmod((t.path() + "/" + p + "energy_uj").c_str(), 0400), 0);
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        for (const auto& item : collect(t).find("powercap.intel-rapl:0")->sections[0].items)
            if (item.name == "Energy counter") return item.needs_root && item.value.empty();
        return false;
    }));
}
