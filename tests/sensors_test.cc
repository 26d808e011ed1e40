// The sensors branch over small trees shaped like the kernel's: relative links, sparse and
// empty channels, legacy layouts, placeholder limits and garbage.
#include "hw/hardware.h"
#include "hw/hwmon.h"
#include "test_support.h"

#include <gtest/gtest.h>

using testing_support::rows;
using Rows = std::vector<std::string>;

namespace {

class Sensors : public ::testing::Test {
protected:
    const hw::Node& collect() {
        m_tree = testing_support::collect(hw::collect_sensors, m_dir.path());
        return *m_tree->find("sensors");
    }
    // A chip registered the way current kernels do it; returns its directory.
    std::string chip(int n, const std::string& device_dir, const std::string& name) const {
        std::string dir = device_dir + "/hwmon/hwmon" + std::to_string(n);
        m_dir.symlink("../../" + dir.substr(4), "sys/class/hwmon/hwmon" + std::to_string(n));
        if (!name.empty()) m_dir.write(dir + "/name", name + "\n");
        return dir + "/";
    }
    void write(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& f) {
        for (const auto& [file, text] : f)
            m_dir.write(dir + file, text + "\n");
    }

    testing_support::TempDir m_dir;
    std::unique_ptr<hw::Node> m_tree;
};

} // namespace

TEST(HwmonChannels, NumberedInputsAndThePowerAverage) {
    std::vector<std::string> entries = {
        "in0_input",      "in_foo_input",   "intrusion0_input",
        "power1_average", "power2_average", "power2_input",
        "temp6_input",    "temp10_input",   "power3_average_interval"};
    std::vector<std::string> got;
    for (const char* prefix : {"in", "power", "temp"})
        for (const auto& c : hw::hwmon::channels(entries, prefix))
            got.push_back(c.stem + "=" + c.reading);
    // power1 has only an average; power2's input wins over its average.
    EXPECT_EQ(got, (Rows{"in0=in0_input", "power1=power1_average", "power2=power2_input",
                         "temp6=temp6_input", "temp10=temp10_input"}));
    for (const char* garbage : {"", "n/a", "nan", "inf"})
        EXPECT_EQ(hw::hwmon::temp_value(garbage), "") << garbage;
}

TEST_F(Sensors, ChannelsLimitsAlarmsAndAveragePower) {
    write(chip(0, "sys/devices/platform/nct6775.656", "nct6798"), {{"temp1_input", "34000"},
                                                                   {"temp1_max", "80000"},
                                                                   {"temp2_input", "41500"},
                                                                   {"temp2_label", "CPUTIN"},
                                                                   {"temp3_input", ""},
                                                                   {"fan3_input", "0"},
                                                                   {"fan3_min", "300"},
                                                                   {"fan3_alarm", "1"}});
    // Discrete amdgpu cards report power only as an average.
    write(chip(1, "sys/devices/pci0000:00/0000:03:00.0", "amdgpu"),
          {{"power1_average", "68000000"}, {"power1_label", "PPT"}});
    // Alarms per limit instead of per channel, and a remote diode left open: its reading is
    // no temperature, so it is marked and not the machine's highest.
    write(chip(2, "sys/devices/pci0000:00/0000:00:1f.3/i2c-0/0-004c", "lm90"),
          {{"temp1_input", "38000"},
           {"temp1_max", "35000"},
           {"temp1_max_alarm", "1"},
           {"temp1_crit_alarm", "0"},
           {"temp2_input", "127000"},
           {"temp2_fault", "1"}});

    const hw::Node& sensors = collect();
    const hw::Node* nct = sensors.find("hwmon.hwmon0");
    EXPECT_EQ(rows(nct, "Temperatures"), (Rows{"temp1=34.0 °C (max 80.0 °C)", "CPUTIN=41.5 °C"}));
    EXPECT_EQ(rows(nct, "Fans"), Rows{"fan3=0 rpm (min 300 rpm, alarm)"});
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon1"), "Power draw"), Rows{"PPT=68.00 W"});
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon2"), "Temperatures"),
              (Rows{"temp1=38.0 °C (max 35.0 °C, max alarm)", "temp2=127.0 °C (fault)"}));
    EXPECT_EQ(sensors.summary, "41.5 °C max");
}

TEST_F(Sensors, DeviceLinksLegacyLayoutsAndGarbage) {
    // A device link of "../.." names the device two levels up, not "..".
    std::string dell = chip(0, "sys/devices/platform/dell_smm_hwmon", "dell_smm");
    m_dir.symlink("../..", dell + "device");
    // Old drivers keep name and channels in the device's directory.
    m_dir.symlink("../../../it87.656", chip(1, "sys/devices/platform/it87.656", "") + "device");
    write("sys/devices/platform/it87.656/", {{"name", "it8728"}, {"fan1_input", "2650"}});
    // No device link at all, a padded name, garbage and bytes that are no UTF-8.
    std::string virt = "sys/devices/virtual/hwmon/hwmon2/";
    m_dir.symlink("../../devices/virtual/hwmon/hwmon2", "sys/class/hwmon/hwmon2");
    m_dir.write(virt + "name", std::string("acpi\xfftz\0\0", 9));
    write(virt,
          {{"temp1_input", "garbage"}, {"temp2_input", "27800"}, {"temp2_label", "Zone\xfe"}});
    m_dir.symlink("../../devices/gone/hwmon3", "sys/class/hwmon/hwmon3"); // dangling

    const hw::Node& sensors = collect();
    EXPECT_EQ(testing_support::value(sensors.find("hwmon.hwmon0"), "Chip", "Device"),
              "dell_smm_hwmon");
    EXPECT_EQ(sensors.find("hwmon.hwmon1")->title, "hwmon1  it8728");
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon1"), "Fans"), Rows{"fan1=2,650 rpm"});
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon2"), "Chip"), Rows{"Name=acpi\uFFFDtz (name)"});
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon2"), "Temperatures"), Rows{"Zone\uFFFD=27.8 °C"});
}

TEST_F(Sensors, ThermalTripsAndLockedEnergyCounter) {
    m_dir.symlink("../../devices/virtual/thermal/thermal_zone0", "sys/class/thermal/thermal_zone0");
    m_dir.symlink("../../devices/virtual/thermal/cooling_device0",
                  "sys/class/thermal/cooling_device0");
    write("sys/devices/virtual/thermal/thermal_zone0/", {{"type", "TCPU"},
                                                         {"temp", "51000"},
                                                         {"trip_point_0_temp", "95000"},
                                                         {"trip_point_0_type", "passive"},
                                                         {"trip_point_1_temp", "99000"}});
    std::string p = "sys/devices/virtual/powercap/intel-rapl/intel-rapl:0/";
    m_dir.symlink("../../devices/virtual/powercap/intel-rapl/intel-rapl:0",
                  "sys/class/powercap/intel-rapl:0");
    write(p, {{"name", "package-0"}, {"energy_uj", "12734521886"}});

    const hw::Node* zones = collect().find("thermal.zones");
    ASSERT_EQ(zones ? zones->children.size() : 0u, 1u) << "cooling devices are no zones";
    EXPECT_EQ(
        rows(zones->children[0].get(), zones->children[0]->sections[0].title),
        (Rows{"Type=TCPU (type)", "Temperature=51.0 °C (temp)",
              "passive=95.0 °C (trip_point_0_temp)", "trip_point_1=99.0 °C (trip_point_1_temp)"}));

    // Since Linux 5.10 the counter is readable by root only: a lock, not "0.0 J".
    testing_support::open_up(m_dir.path(), {p + "energy_uj"}, 0400);
    EXPECT_TRUE(testing_support::as_unprivileged_user([&] {
        const hw::Node* domain = collect().find("powercap.intel-rapl:0");
        const hw::Item* row = testing_support::find_row(domain, "", "Energy counter");
        return row && row->needs_root && row->value.empty();
    }));
}

TEST_F(Sensors, EnergyHumidityAndChassisIntrusion) {
    // A SMU energy counter, a humidity sensor and a case switch, in the kernel's units.
    write(chip(0, "sys/devices/platform/amd_energy.0", "amd_energy"),
          {{"energy1_input", "123456789012"}, {"energy1_label", "Esocket0"}});
    write(chip(1, "sys/devices/platform/soc/i2c-1/1-0044", "sht3x"),
          {{"temp1_input", "21500"}, {"humidity1_input", "45250"}, {"humidity1_max", "80000"}});
    write(chip(2, "sys/devices/platform/nct6775.656", "nct6798"),
          {{"intrusion0_alarm", "1"},
           {"intrusion1_alarm", "0"},
           {"intrusion1_beep", "1"},
           {"intrusion_alarm", "1"},
           {"intrusion2_alarm", "garbage"}});

    const hw::Node& sensors = collect();
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon0"), "Energy"), Rows{"Esocket0=123,456.8 J"});
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon1"), "Humidity"),
              Rows{"humidity1=45.2 %RH (max 80.0 %RH)"});
    EXPECT_EQ(rows(sensors.find("hwmon.hwmon2"), "Chassis intrusion"),
              (Rows{"intrusion0=Yes (intrusion0_alarm)", "intrusion1=No (intrusion1_alarm)"}));
}
