// The system branch: facts of the fixture machines, the hypervisor search order, Secure Boot,
// and the root-only rows with and without the privileged data.
#include "hw/hardware.h"
#include "hw/root_data.h"
#include "hw/system_parsers.h"
#include "test_support.h"
#include "util.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

const std::string dmi = "sys/devices/virtual/dmi/id/";
const std::string secure_boot_var =
    "sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";

class SystemBranch : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        m_saved = hw::RootData::instance();
        hw::RootData::instance() = hw::RootData();
        m_root.symlink("../../devices/virtual/dmi/id", "sys/class/dmi/id");
    }
    void TearDown() override { hw::RootData::instance() = m_saved; }

    void write_dmi(const std::string& attr, const std::string& value) const {
        m_root.write(dmi + attr, value + "\n");
    }

    // The tree readable by everyone, except `locked` files, which only their owner may read.
    void open_up(const std::vector<std::string>& locked) const {
        namespace fs = std::filesystem;
        chmod(m_root.path().c_str(), 0755);
        for (const auto& e : fs::recursive_directory_iterator(m_root.path()))
            if (!e.is_symlink()) chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
        for (const auto& rel : locked)
            chmod((m_root.path() + "/" + rel).c_str(), 0400);
    }

    TempDir m_root;
    hw::RootData m_saved;
};

std::unique_ptr<hw::Node> collect(const std::string& sysroot) {
    ScopedEnv env("QUARVEL_SYSROOT", sysroot);
    auto root = std::make_unique<hw::Node>();
    hw::collect_system(*root);
    return root;
}

const hw::Item* row(const hw::Node& root, const std::string& section, const std::string& name) {
    if (const hw::Node* node = root.find("system"))
        for (const auto& s : node->sections)
            if (s.title == section)
                for (const auto& item : s.items)
                    if (item.name == name) return &item;
    return nullptr;
}

std::string value(const hw::Node& root, const std::string& section, const std::string& name) {
    const hw::Item* item = row(root, section, name);
    return item ? item->value : "<no row>";
}

bool locked(const hw::Node& root, const std::string& section, const std::string& name,
            const std::string& note) {
    const hw::Item* item = row(root, section, name);
    return item && item->needs_root && item->value.empty() && item->note == note;
}

} // namespace

TEST_F(SystemBranch, FactsOfTheFixtureMachines) {
    struct Fact {
        const char* machine;
        const char* section;
        const char* name;
        const char* value;
    } facts[] = {
        // Placeholders leave no rows, the summary keeps the product alone.
        {"desktop-oem-placeholders", "", "summary", "B550M Pro4"},
        {"desktop-oem-placeholders", "Machine", "Manufacturer", "<no row>"},
        {"desktop-oem-placeholders", "Machine", "Serial number", "<no row>"},
        {"desktop-oem-placeholders", "Mainboard", "Asset tag", "<no row>"},
        {"desktop-oem-placeholders", "Chassis", "Type", "Desktop (3)"},
        {"desktop-oem-placeholders", "Firmware", "Secure Boot", "No"},
        {"laptop-notebook-flatpak", "", "title", "System - thinkpad"},
        {"laptop-notebook-flatpak", "Chassis", "Type", "Notebook (10)"},
        {"laptop-notebook-flatpak", "Firmware", "UEFI bitness", "64 Bit"},
        {"laptop-notebook-flatpak", "Firmware", "Secure Boot", "Yes"},
        {"laptop-notebook-flatpak", "Firmware", "EC firmware version", "1.38"},
        {"laptop-notebook-flatpak", "Machine", "Serial number", "PF0AAAAA"},
        {"vm-qemu-seabios", "", "title", "System"}, // host named localhost
        {"vm-qemu-seabios", "Machine", "Virtualization", "QEMU"},
        {"vm-qemu-seabios", "Firmware", "Firmware type", "BIOS / Legacy"},
        {"vm-qemu-seabios", "Firmware", "Secure Boot", "<no row>"},
        // Read and empty: there is nothing to unlock.
        {"vm-qemu-seabios", "Machine", "Serial number", "<no row>"},
        {"vm-virtualbox", "Machine", "Virtualization", "Oracle VirtualBox"},
        {"vm-virtualbox", "Firmware", "Secure Boot", "Unknown"}, // four bytes only
        {"vm-hyperv", "Machine", "Virtualization", "Microsoft Hyper-V"},
        {"vm-firecracker-capture", "Machine", "Virtualization", "Yes (hypervisor flag set)"},
        {"vm-firecracker-capture", "Firmware", "Firmware type", "<no row>"},
        // Found through the absolute /proc/device-tree link inside the capture.
        {"arm-board-devicetree", "Firmware", "Device tree model", "Raspberry Pi 4 Model B Rev 1.4"},
        {"arm-board-devicetree", "Firmware", "Firmware type", "<no row>"},
    };
    std::map<std::string, std::unique_ptr<hw::Node>> trees;
    for (const auto& f : facts) {
        auto& root = trees[f.machine];
        if (!root) root = collect(testing_support::fixture(f.machine));
        const hw::Node* node = root->find("system");
        ASSERT_NE(node, nullptr) << f.machine;
        std::string got = std::string(f.name) == "summary" ? node->summary
                          : std::string(f.name) == "title" ? node->title
                                                           : value(*root, f.section, f.name);
        EXPECT_EQ(got, f.value) << f.machine << ": " << f.section << " / " << f.name;
    }
}

TEST_F(SystemBranch, OddChassisTypesHypervisorOrderUnnamedHostDanglingLink) {
    for (const char* type : {"0", "99"}) {
        write_dmi("chassis_type", type);
        EXPECT_EQ(value(*collect(m_root.path()), "Chassis", "Type"), type);
    }
    m_root.write("proc/cpuinfo", "processor\t: 0\nflags\t\t: fpu hypervisor lm\n");
    m_root.write("sys/hypervisor/type", "xen\n");
    m_root.write("proc/sys/kernel/hostname", "(none)\n");
    m_root.symlink("gone", dmi + "board_serial");
    auto root = collect(m_root.path());
    EXPECT_EQ(row(*root, "Mainboard", "Serial number"), nullptr);
    EXPECT_EQ(value(*root, "Machine", "Virtualization"), "xen");
    EXPECT_EQ(root->find("system")->title, "System");
    EXPECT_EQ(hw::hypervisor_from_dmi("red hat kvm"), "KVM");
    EXPECT_EQ(hw::hypervisor_from_dmi("microsoft corporation surface laptop 5"), "");
    EXPECT_FALSE(hw::cpuinfo_marks_hypervisor({"flags\t\t: fpu hypervisor_x lm"}));
    EXPECT_TRUE(hw::is_unset_uuid("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"));
    EXPECT_FALSE(hw::is_unset_uuid("00000000-0000-0000-0000-0000000000ff"));
}

// CI runs as root, where every file is readable: the checks below run as "nobody".
TEST_F(SystemBranch, UnreadableSecureBootVariableSaysSo) {
    m_root.write(secure_boot_var, std::string("\x06\0\0\0\x01", 5));
    open_up({secure_boot_var});
    ScopedEnv env("QUARVEL_SYSROOT", m_root.path());
    EXPECT_TRUE(testing_support::as_unprivileged_user([] {
        hw::Node r;
        hw::collect_system(r);
        return value(r, "Firmware", "Secure Boot") == "not readable without root";
    }));
}

TEST_F(SystemBranch, RootOnlyRowsAreLockedUntilThePrivilegedDataArrives) {
    write_dmi("sys_vendor", "LENOVO");
    for (const char* attr : {"product_serial", "product_uuid", "board_serial", "chassis_serial"})
        write_dmi(attr, "from-file");
    write_dmi("board_name", "20XW");
    write_dmi("chassis_type", "10");
    open_up({dmi + "product_serial", dmi + "product_uuid", dmi + "board_serial",
             dmi + "chassis_serial"});
    ScopedEnv env("QUARVEL_SYSROOT", m_root.path());
    EXPECT_TRUE(testing_support::as_unprivileged_user([] {
        auto& rd = hw::RootData::instance();
        hw::Node before;
        hw::collect_system(before);
        bool all_locked = locked(before, "Machine", "Serial number", "product_serial") &&
                          locked(before, "Machine", "UUID", "product_uuid") &&
                          locked(before, "Mainboard", "Serial number", "board_serial") &&
                          locked(before, "Chassis", "Serial number", "chassis_serial");
        bool parsed = rd.parse("V 1\nD product_serial|PF0SERIAL\nD product_uuid|0f1e-uuid\n"
                               "D board_serial|L1HF\nD chassis_serial|\nA 0|\n");
        hw::Node after;
        hw::collect_system(after);
        const hw::Item* serial = row(after, "Machine", "Serial number");
        bool shown = serial && !serial->needs_root && serial->value == "PF0SERIAL" &&
                     serial->note == "product_serial" &&
                     value(after, "Machine", "UUID") == "0f1e-uuid" &&
                     value(after, "Mainboard", "Serial number") == "L1HF";
        // Read with rights and found empty: nothing is left to unlock.
        bool no_chassis_serial = row(after, "Chassis", "Serial number") == nullptr;
        rd = hw::RootData();
        return all_locked && parsed && shown && no_chassis_serial;
    }));
    // The files' owner (root in CI) reads them directly.
    EXPECT_EQ(value(*collect(m_root.path()), "Machine", "Serial number"), "from-file");
}

TEST(SystemReport, IdentifierDatabasePathsOrTheMissingNote) {
    TempDir machine, config;
    machine.write("usr/share/misc/pci.ids", "8086  Intel Corporation\n");
    auto run = testing_support::run_quarvel(
        {"--report"}, testing_support::plain_env(config.path(), machine.path()));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("pci.ids                         /usr/share/misc/pci.ids\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("usb.ids                         not installed — device names fall "
                           "back to numeric IDs\n"),
              std::string::npos);
}
