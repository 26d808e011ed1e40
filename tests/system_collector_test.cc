// The system branch: facts of the fixture machines, the hypervisor search order, Secure Boot,
// and the root-only rows with and without the privileged data.
#include "hw/hardware.h"
#include "hw/root_data.h"
#include "hw/system_parsers.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::find_row;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

const std::string dmi = "sys/devices/virtual/dmi/id/";

class SystemBranch : public ::testing::Test {
protected:
    void SetUp() override {
        hw::RootData::instance() = hw::RootData();
        m_root.symlink("../../devices/virtual/dmi/id", "sys/class/dmi/id");
    }
    void TearDown() override { hw::RootData::instance() = m_saved; }

    // The value of a row of the system branch collected over the tree written so far.
    std::string value(const std::string& section, const std::string& name) const {
        auto tree = testing_support::collect(hw::collect_system, m_root.path());
        return testing_support::value(tree->find("system"), section, name);
    }

    TempDir m_root;
    hw::RootData m_saved = hw::RootData::instance();
};

// The system branch collected in this process over the sysroot already set.
std::unique_ptr<hw::Node> collect_here() {
    auto root = std::make_unique<hw::Node>();
    hw::collect_system(*root);
    return root;
}

// A row that exists but needs administrator rights, named after its file.
bool locked(const hw::Node& root, const std::string& section, const std::string& name,
            const std::string& note) {
    const hw::Item* item = find_row(root.find("system"), section, name);
    return item && item->needs_root && item->value.empty() && item->note == note;
}

} // namespace

TEST(SystemFixtures, PlaceholdersVirtualMachinesAndFirmware) {
    const char* oem = "desktop-oem-placeholders";
    testing_support::expect_facts(
        hw::collect_system,
        {
            // Placeholders leave no rows, the summary keeps the product alone.
            {oem, "system", "", "summary", "B550M Pro4"},
            {oem, "system", "Machine", "Manufacturer", "<no row>"},
            {oem, "system", "Mainboard", "Asset tag", "<no row>"},
            {"vm-qemu-seabios", "system", "", "title", "System"}, // host named localhost
            {"vm-virtualbox", "system", "Firmware", "Secure Boot", "Unknown"}, // four bytes only
            {"vm-firecracker-capture", "system", "Machine", "Virtualization",
             "Yes (hypervisor flag set)"},
            // Found through the absolute /proc/device-tree link inside the capture.
            {"arm-board-devicetree", "system", "Firmware", "Device tree model",
             "Raspberry Pi 4 Model B Rev 1.4"},
        });
}

TEST_F(SystemBranch, OddChassisTypeHypervisorOrderAndDanglingLink) {
    m_root.write(dmi + "chassis_type", "99\n"); // beyond the table: the number stays
    EXPECT_EQ(value("Chassis", "Type"), "99");
    // The hypervisor's own type comes before the processor flag.
    m_root.write("proc/cpuinfo", "processor\t: 0\nflags\t\t: fpu hypervisor lm\n");
    m_root.write("sys/hypervisor/type", "xen\n");
    m_root.symlink("gone", dmi + "board_serial");
    EXPECT_EQ(value("Mainboard", "Serial number"), "<no row>");
    EXPECT_EQ(value("Machine", "Virtualization"), "xen");
    EXPECT_EQ(hw::hypervisor_from_dmi("red hat kvm"), "KVM");
    EXPECT_EQ(hw::hypervisor_from_dmi("microsoft corporation surface laptop 5"), "");
    EXPECT_FALSE(hw::cpuinfo_marks_hypervisor("processor\t: 0\nflags\t\t: fpu hypervisor_x lm\n"));
    EXPECT_FALSE(hw::cpuinfo_marks_hypervisor("flags\t: fpu\nflags\t: hypervisor"));
    EXPECT_TRUE(hw::is_unset_uuid("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"));
    EXPECT_FALSE(hw::is_unset_uuid("00000000-0000-0000-0000-0000000000ff"));
}

// CI runs as root, where every file is readable: the checks below run as "nobody".
TEST_F(SystemBranch, RootOnlyFilesAreLockedUntilThePrivilegedDataArrives) {
    const std::string secure_boot =
        "sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";
    m_root.write(secure_boot, std::string("\x06\0\0\0\x01", 5));
    m_root.write(dmi + "sys_vendor", "LENOVO\n");
    const std::vector<std::string> attrs = {"product_serial", "product_uuid", "board_serial",
                                            "chassis_serial"};
    std::vector<std::string> locked_files = {secure_boot};
    for (const auto& attr : attrs) {
        m_root.write(dmi + attr, "from-file\n");
        locked_files.push_back(dmi + attr);
    }
    testing_support::open_up(m_root.path(), locked_files, 0400);
    ScopedEnv env("QUARVEL_SYSROOT", m_root.path());
    EXPECT_TRUE(testing_support::as_unprivileged_user([] {
        testing_support::use_english();
        auto& rd = hw::RootData::instance();
        auto before = collect_here();
        bool all_locked = locked(*before, "Machine", "Serial number", "product_serial") &&
                          locked(*before, "Machine", "UUID", "product_uuid") &&
                          locked(*before, "Mainboard", "Serial number", "board_serial") &&
                          locked(*before, "Chassis", "Serial number", "chassis_serial") &&
                          testing_support::value(before->find("system"), "Firmware",
                                                 "Secure Boot") == "not readable without root";
        bool parsed = rd.parse("V 1\nD product_serial|PF0SERIAL\nD product_uuid|0f1e-uuid\n"
                               "D board_serial|L1HF\nD chassis_serial|\nA 0|\n");
        auto after = collect_here();
        const hw::Node* system = after->find("system");
        const hw::Item* serial = find_row(system, "Machine", "Serial number");
        bool shown = serial && !serial->needs_root && serial->value == "PF0SERIAL" &&
                     serial->note == "product_serial" &&
                     testing_support::value(system, "Machine", "UUID") == "0f1e-uuid" &&
                     testing_support::value(system, "Mainboard", "Serial number") == "L1HF";
        // Read with rights and found empty: nothing is left to unlock.
        bool no_chassis_serial = !find_row(system, "Chassis", "Serial number");
        // Nor is the note that everything shown is readable as a normal user still true.
        bool noted_before = find_row(before->find("system"), "Limitations", "Note");
        bool noted_after = find_row(system, "Limitations", "Note");
        rd = hw::RootData();
        return all_locked && parsed && shown && no_chassis_serial && noted_before && !noted_after;
    }));
    // The files' owner (root in CI) reads them directly.
    EXPECT_EQ(value("Machine", "Serial number"), "from-file");
}
