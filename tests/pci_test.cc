// The PCI branch: the resource table, the order of addresses, and the collector over the
// fixture machines and over broken trees.
#include "hw/collect_pci.h"
#include "hw/pci_parser.h"
#include "test_support.h"
#include "util.h"

#include <algorithm>
#include <gtest/gtest.h>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class PciBranch : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }
};

// The PCI branch of a tree collected over `sysroot` with the identifier files it carries.
std::unique_ptr<hw::Node> collect(const std::string& sysroot) {
    ScopedEnv root("QUARVEL_SYSROOT", sysroot);
    ScopedEnv snap("SNAP", std::nullopt);
    auto tree = std::make_unique<hw::Node>();
    hw::collect_pci_with(*tree, hw::Ids::load());
    return tree;
}

std::vector<std::string> values(const hw::Node& n, const std::string& section,
                                const std::string& label) {
    std::vector<std::string> out;
    for (const auto& s : n.sections)
        if (s.title == section)
            for (const auto& item : s.items)
                if (item.name == label) out.push_back(item.value);
    return out;
}

std::string value(const hw::Node& n, const std::string& section, const std::string& label) {
    auto v = values(n, section, label);
    return v.empty() ? "<no row>" : v.front();
}

const hw::Section* find_section(const hw::Node& n, const std::string& title) {
    for (const auto& s : n.sections)
        if (s.title == title) return &s;
    return nullptr;
}

std::vector<std::string> child_ids(const hw::Node& n) {
    std::vector<std::string> out;
    for (const auto& c : n.children)
        out.push_back(c->id);
    return out;
}

} // namespace

TEST(PciResources, DamagedLinesAreSkippedWithoutRenumbering) {
    auto r = hw::parse_pci_resources("0x1000 0x1fff\n"                 // two fields
                                     "0xzz00 0x1fff 0x200\n"           // not hexadecimal
                                     "0x2000 0x1fff 0x200\n"           // end before start
                                     "0x10000000000000000 0x1 0x200\n" // beyond 64 bits
                                     "\n"
                                     "  0x2000\t0x2fff   0x200  \n");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].index, 5u);
    EXPECT_EQ(r[0].end, 0x2fffu);
    EXPECT_TRUE(hw::parse_pci_resources("").empty());
}

TEST(PciAddresses, SortedByTheirNumbersNotNaturally) {
    std::vector<std::string> a = {"0000:00:1f.3", "0001:00:00.0",  "not-an-address",
                                  "0000:01:00.0", "10000:e0:1d.0", "0000:00:02.0",
                                  "0000:00:1f.0", "0000:00:02.1"};
    std::sort(a.begin(), a.end(), [](const std::string& x, const std::string& y) {
        return hw::pci_address_less(x, y);
    });
    EXPECT_EQ(a, (std::vector<std::string>{"0000:00:02.0", "0000:00:02.1", "0000:00:1f.0",
                                           "0000:00:1f.3", "0000:01:00.0", "0001:00:00.0",
                                           "10000:e0:1d.0", "not-an-address"}));
}

TEST_F(PciBranch, LaptopFunctionsInAddressOrderWithTheirNames) {
    auto tree = collect(testing_support::fixture("laptop-pci"));
    const hw::Node* pci = tree->find("pci");
    ASSERT_NE(pci, nullptr);
    EXPECT_EQ(pci->title, "PCI devices");
    EXPECT_EQ(pci->summary, "10 devices");
    EXPECT_EQ(child_ids(*pci),
              (std::vector<std::string>{"pci.0000:00:00.0", "pci.0000:00:02.0", "pci.0000:00:08.0",
                                        "pci.0000:00:14.0", "pci.0000:00:1c.0", "pci.0000:00:1d.0",
                                        "pci.0000:00:1f.3", "pci.0000:00:1f.4", "pci.0000:01:00.0",
                                        "pci.0000:02:00.0"}));
    EXPECT_EQ(value(*pci, "Overview", "0000:00:14.0"),
              "USB controller: Intel Corporation Tiger Lake-LP USB 3.2 Gen 2x1 xHCI Host "
              "Controller");
    // Neither the vendor nor the device is in this machine's pci.ids.
    EXPECT_EQ(value(*pci, "Overview", "0000:02:00.0"), "Unassigned class: 10ec:525a");
    const hw::Node* reader = tree->find("pci.0000:02:00.0");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->title, "10ec:525a");
    EXPECT_EQ(value(*reader, "Identification", "Vendor"), "Unknown  (0x10ec)");
    EXPECT_EQ(value(*reader, "Identification", "Device"), "Unknown  (0x525a)");
    // The subsystem is not listed: its vendor's name.
    EXPECT_EQ(value(*reader, "Identification", "Subsystem"), "Lenovo  (0x17aa:0x22d8)");

    const hw::Node* nvme = tree->find("pci.0000:01:00.0");
    ASSERT_NE(nvme, nullptr);
    EXPECT_EQ(nvme->title, "Samsung Electronics Co Ltd NVMe SSD Controller SM981/PM981/PM983");
    EXPECT_EQ(nvme->summary, "Non-Volatile memory controller");
    EXPECT_EQ(value(*nvme, "Identification", "Class"),
              "Non-Volatile memory controller, NVM Express  (0x010802)");
    EXPECT_EQ(value(*nvme, "Identification", "Subsystem"), "SSD 970 EVO  (0x144d:0xa801)");
    EXPECT_EQ(value(*nvme, "Identification", "Revision"), "0x00");
}

TEST_F(PciBranch, DriverModuleAndOverride) {
    auto tree = collect(testing_support::fixture("laptop-pci"));
    const hw::Node* gpu = tree->find("pci.0000:00:02.0");
    ASSERT_NE(gpu, nullptr);
    EXPECT_EQ(value(*gpu, "Driver", "Driver"), "i915");
    EXPECT_EQ(value(*gpu, "Driver", "Module"), "i915");
    EXPECT_EQ(value(*gpu, "Driver", "Boot display"), "Yes");
    EXPECT_EQ(value(*gpu, "Driver", "MSI interrupts"), "155");
    // No override set: the kernel's "(null)" is no value.
    EXPECT_EQ(values(*gpu, "Driver", "Driver").size(), 1u);
    // -1 means the kernel knows no node.
    EXPECT_EQ(value(*gpu, "Driver", "NUMA node"), "<no row>");

    // The module is named after the link, not after the driver.
    EXPECT_EQ(value(*tree->find("pci.0000:00:14.0"), "Driver", "Module"), "xhci_pci");
    EXPECT_EQ(value(*tree->find("pci.0000:00:1f.4"), "Driver", "Module"), "i2c_i801");
    // A driver built into the kernel has no module.
    const hw::Node* port = tree->find("pci.0000:00:1d.0");
    EXPECT_EQ(value(*port, "Driver", "Driver"), "pcieport");
    EXPECT_EQ(value(*port, "Driver", "Module"), "<no row>");

    const hw::Node* unbound = tree->find("pci.0000:00:08.0");
    EXPECT_EQ(value(*unbound, "Driver", "Driver"), "no driver bound");
    EXPECT_EQ(value(*unbound, "Driver", "Module"), "<no row>");
    EXPECT_EQ(value(*unbound, "Driver", "Enabled"), "No");

    const hw::Node* reader = tree->find("pci.0000:02:00.0");
    EXPECT_EQ(values(*reader, "Driver", "Driver"),
              (std::vector<std::string>{"vfio-pci", "vfio-pci"}));
    const hw::Section* driver = find_section(*reader, "Driver");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->items[2].note, "driver_override");
    EXPECT_EQ(value(*reader, "Driver", "Module"), "vfio_pci");
}

TEST_F(PciBranch, ResourcesAndLinks) {
    auto tree = collect(testing_support::fixture("laptop-pci"));
    const hw::Node* gpu = tree->find("pci.0000:00:02.0");
    EXPECT_EQ(value(*gpu, "Resources", "BAR 0"),
              "0x0000006000000000 – 0x0000006000ffffff  (16.0 MiB, MEM)");
    EXPECT_EQ(value(*gpu, "Resources", "BAR 2"),
              "0x0000004000000000 – 0x000000400fffffff  (256 MiB, MEM)");
    EXPECT_EQ(value(*gpu, "Resources", "BAR 4"),
              "0x0000000000003000 – 0x000000000000303f  (64 B, I/O)");
    EXPECT_EQ(value(*gpu, "Resources", "BAR 6"),
              "0x00000000000c0000 – 0x00000000000dffff  (128 KiB, MEM)");
    EXPECT_EQ(value(*gpu, "Resources", "BAR 1"), "<no row>");
    EXPECT_EQ(find_section(*gpu, "Resources")->items.size(), 4u);
    // Integrated graphics without link files: the section stays empty.
    EXPECT_TRUE(find_section(*gpu, "PCIe link")->empty());

    // Bridge windows after the BARs, the ROM and the SR-IOV lines keep their line numbers. The
    // prefetchable 64-bit window has bit 0 set in its flags and is memory all the same.
    const hw::Node* port = tree->find("pci.0000:00:1d.0");
    const hw::Section* res = find_section(*port, "Resources");
    ASSERT_NE(res, nullptr);
    ASSERT_EQ(res->items.size(), 2u);
    EXPECT_EQ(res->items[0].name, "BAR 14");
    EXPECT_EQ(res->items[0].value, "0x00000000fe100000 – 0x00000000fe1fffff  (1.00 MiB, MEM)");
    EXPECT_EQ(res->items[0].note, "resource");
    EXPECT_EQ(res->items[1].name, "BAR 15");
    EXPECT_EQ(res->items[1].value, "0x0000006002000000 – 0x00000060021fffff  (2.00 MiB, MEM)");
    EXPECT_EQ(value(*tree->find("pci.0000:00:1c.0"), "Resources", "BAR 13"),
              "0x0000000000004000 – 0x0000000000004fff  (4.00 KiB, I/O)");

    const hw::Node* nvme = tree->find("pci.0000:01:00.0");
    EXPECT_EQ(value(*nvme, "PCIe link", "Link speed"), "8.0 GT/s PCIe");
    EXPECT_EQ(value(*nvme, "PCIe link", "Maximum link width"), "4");
    EXPECT_EQ(value(*nvme, "Driver", "MSI interrupts"),
              "136, 137, 138, 139, 140, 141, 142, 143, 144");
}

TEST_F(PciBranch, VirtualMachineWithoutLinksOrIdentifierFiles) {
    auto tree = collect(testing_support::fixture("vm-virtio-pci"));
    const hw::Node* pci = tree->find("pci");
    ASSERT_NE(pci, nullptr);
    EXPECT_EQ(pci->children.size(), 6u);
    for (const auto& c : pci->children)
        EXPECT_TRUE(find_section(*c, "PCIe link")->empty()) << c->id;
    // No pci.ids: numbers, and the built-in base class names.
    const hw::Node* net = tree->find("pci.0000:00:03.0");
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->title, "1af4:1041");
    EXPECT_EQ(net->summary, "Network controller");
    EXPECT_EQ(value(*pci, "Overview", "0000:00:03.0"), "Network controller: 1af4:1041");
    EXPECT_EQ(value(*net, "Identification", "Subsystem"), "(0x1af4:0x1041)");
    EXPECT_EQ(value(*net, "Driver", "Driver"), "virtio-pci");
    EXPECT_EQ(value(*net, "Driver", "Module"), "<no row>");
    // The host bridge has no subsystem ids at all.
    EXPECT_EQ(value(*tree->find("pci.0000:00:00.0"), "Identification", "Subsystem"), "<no row>");
    EXPECT_EQ(value(*tree->find("pci.0000:00:01.0"), "Resources", "BAR 0"),
              "0x0000004000000000 – 0x000000400007ffff  (512 KiB, MEM)");
}

TEST_F(PciBranch, NoPciBusGivesAnEmptyBranch) {
    TempDir root;
    root.write("sys/class/net/lo/mtu", "65536\n");
    auto tree = collect(root.path());
    const hw::Node* pci = tree->find("pci");
    ASSERT_NE(pci, nullptr);
    EXPECT_EQ(pci->summary, "0 devices");
    EXPECT_TRUE(pci->children.empty());
    ASSERT_NE(find_section(*pci, "Overview"), nullptr);
    EXPECT_TRUE(find_section(*pci, "Overview")->empty());
}

TEST_F(PciBranch, BrokenFunctionDirectoriesGiveNumbersNotCrashes) {
    TempDir root;
    const std::string dev = "sys/devices/pci0000:00/0000:00:03.0";
    root.symlink("../../../devices/pci0000:00/0000:00:03.0", "sys/bus/pci/devices/0000:00:03.0");
    root.write(dev + "/vendor", "0x1234abcd\n"); // not a 16-bit id
    root.write(dev + "/device", "garbage\n");
    root.write(dev + "/class", "");
    root.write(dev + "/driver_override", "\n");
    static const char resource[] = "0xffff\0\0\0 0x1 0x2\n\xff\xfe\n";
    root.write(dev + "/resource", std::string(resource, sizeof resource - 1));
    root.write(dev + "/numa_node", "0\n");
    // A function that went away while its link stayed.
    root.symlink("../../../devices/pci0000:00/0000:00:09.0", "sys/bus/pci/devices/0000:00:09.0");
    root.write("usr/share/hwdata/pci.ids", "abcd  Must not be the vendor of 0x1234abcd\n"
                                           "\t0000  Must not be its device either\n");
    auto tree = collect(root.path());
    const hw::Node* pci = tree->find("pci");
    ASSERT_NE(pci, nullptr);
    EXPECT_EQ(pci->summary, "1 device");
    ASSERT_EQ(pci->children.size(), 1u);
    const hw::Node& d = *pci->children[0];
    EXPECT_EQ(d.title, "1234abcd:0000");
    EXPECT_EQ(value(d, "Identification", "Vendor"), "Unknown  (0x1234abcd)");
    EXPECT_EQ(value(d, "Identification", "Class"), "Unclassified device  (0x000000)");
    EXPECT_EQ(value(d, "Driver", "Driver"), "no driver bound");
    EXPECT_EQ(values(d, "Driver", "Driver").size(), 1u); // an empty override is no override
    EXPECT_EQ(value(d, "Driver", "NUMA node"), "0");
    EXPECT_TRUE(find_section(d, "Resources")->empty());
}
