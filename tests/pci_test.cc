// The PCI branch: the resource table, the order of addresses, and the collector over the
// fixture machines and over broken trees.
#include "hw/collect_pci.h"
#include "hw/pci_parser.h"
#include "test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

using testing_support::value;

namespace {

const auto collector = testing_support::with_ids(hw::collect_pci_with);

} // namespace

TEST(PciParser, DamagedResourceLinesKeepTheirNumbersAndAddressesSortByValue) {
    auto r = hw::parse_pci_resources("0x1000 0x1fff\n"                 // two fields
                                     "0x2000 0x1fff 0x200\n"           // end before start
                                     "0x10000000000000000 0x1 0x200\n" // beyond 64 bits
                                     "  0x2000\t0x2fff   0x200  \n");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].index, 3u);
    EXPECT_EQ(r[0].end, 0x2fffu);

    std::vector<std::string> a = {"0001:00:00.0",  "not-an-address", "0000:01:00.0",
                                  "10000:e0:1d.0", "0000:00:1f.0",   "0000:00:02.0"};
    std::sort(a.begin(), a.end(), hw::pci_address_less);
    EXPECT_EQ(a, (std::vector<std::string>{"0000:00:02.0", "0000:00:1f.0", "0000:01:00.0",
                                           "0001:00:00.0", "10000:e0:1d.0", "not-an-address"}));
}

TEST(PciBranch, FactsOfTheFixtureMachines) {
    const char* laptop = "laptop-pci";
    auto trees = testing_support::expect_facts(
        collector,
        {
            // Neither the vendor nor the device is in this machine's pci.ids.
            {laptop, "pci", "Overview", "0000:02:00.0", "Unassigned class: 10ec:525a"},
            // The subsystem is not listed: its vendor's name.
            {laptop, "pci.0000:02:00.0", "Identification", "Subsystem", "Lenovo  (0x17aa:0x22d8)"},
            // The module is named after the link, not after the driver; a built-in has none.
            {laptop, "pci.0000:02:00.0", "Driver", "Module", "vfio_pci"},
            {laptop, "pci.0000:00:1d.0", "Driver", "Module", "<no row>"},
            // -1: no node.
            {laptop, "pci.0000:00:02.0", "Driver", "NUMA node", "<no row>"},
            // 64-bit addresses; the ROM after the BARs keeps its line number.
            {laptop, "pci.0000:00:02.0", "Resources", "BAR 0",
             "0x0000006000000000 – 0x0000006000ffffff  (16.0 MiB, MEM)"},
            {laptop, "pci.0000:00:02.0", "Resources", "BAR 6",
             "0x00000000000c0000 – 0x00000000000dffff  (128 KiB, MEM)"},
            // The prefetchable 64-bit bridge window has bit 0 set and is memory all the same.
            {laptop, "pci.0000:00:1d.0", "Resources", "BAR 15",
             "0x0000006002000000 – 0x00000060021fffff  (2.00 MiB, MEM)"},
            // No pci.ids: numbers, and the built-in base class names.
            {"vm-virtio-pci", "pci", "Overview", "0000:00:03.0", "Network controller: 1af4:1041"},
        });
    const hw::Node& tree = *trees[laptop];
    // No override set: the kernel's "(null)" is no value; a set one is a second row.
    EXPECT_EQ(value(tree.find("pci.0000:00:02.0"), "Driver", "Driver", 1), "<no row>");
    const hw::Item* override_row =
        testing_support::find_row(tree.find("pci.0000:02:00.0"), "Driver", "Driver", 1);
    ASSERT_TRUE(override_row);
    EXPECT_EQ(override_row->value + " " + override_row->note, "vfio-pci driver_override");
}

TEST(PciBranch, BrokenFunctionDirectoriesGiveNumbersNotCrashes) {
    testing_support::TempDir root;
    const std::string dev = "sys/devices/pci0000:00/0000:00:03.0";
    root.symlink("../../../devices/pci0000:00/0000:00:03.0", "sys/bus/pci/devices/0000:00:03.0");
    root.write(dev + "/vendor", "0x1234abcd\n"); // not a 16-bit id
    root.write(dev + "/device", "garbage\n");
    root.write(dev + "/driver_override", "\n");
    static const char resource[] = "0xffff\0\0\0 0x1 0x2\n\xff\xfe\n";
    root.write(dev + "/resource", std::string(resource, sizeof resource - 1));
    root.write(dev + "/numa_node", "0\n");
    // A function that went away while its link stayed.
    root.symlink("../../../devices/pci0000:00/0000:00:09.0", "sys/bus/pci/devices/0000:00:09.0");
    root.write("usr/share/hwdata/pci.ids", "abcd  Must not be the vendor of 0x1234abcd\n"
                                           "\t0000  Must not be its device either\n");
    auto tree = testing_support::collect(collector, root.path());
    const hw::Node* pci = tree->find("pci");
    ASSERT_EQ(pci->children.size(), 1u);
    const hw::Node* d = pci->children[0].get();
    EXPECT_EQ(d->title, "1234abcd:0000");
    EXPECT_EQ(value(d, "Identification", "Vendor"), "Unknown  (0x1234abcd)");
    // An empty override is no override.
    EXPECT_EQ(testing_support::rows(d, "Driver"),
              (std::vector<std::string>{"Driver=no driver bound", "NUMA node=0 (numa_node)"}));
    EXPECT_EQ(testing_support::rows(d, "Resources"), std::vector<std::string>{});
}

TEST(PciBranch, ManyFunctionsReadOnTwoThreadsKeepTheirOrderAndTheirOwnFacts) {
    testing_support::TempDir root;
    std::vector<std::string> addresses;
    for (int i = 0; i < 70; ++i) {
        char address[16];
        std::snprintf(address, sizeof address, "0000:%02x:00.0", i);
        addresses.push_back(address);
        const std::string dev = "sys/devices/pci0000:00/" + addresses.back();
        root.symlink("../../../devices/pci0000:00/" + addresses.back(),
                     "sys/bus/pci/devices/" + addresses.back());
        root.write(dev + "/vendor", "0x8086\n");
        root.write(dev + "/device", "0x" + std::to_string(1000 + i) + "\n");
    }
    auto tree = testing_support::collect(collector, root.path());
    const hw::Node* pci = tree->find("pci");
    ASSERT_EQ(pci->children.size(), addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
        EXPECT_EQ(pci->children[i]->id, "pci." + addresses[i]);
        EXPECT_EQ(value(pci->children[i].get(), "Identification", "Device"),
                  "Unknown  (0x" + std::to_string(1000 + i) + ")");
        EXPECT_EQ(pci->sections.at(0).items.at(i).name, addresses[i]);
    }
}
