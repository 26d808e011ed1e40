// The identifier databases: the grammar of both files, the lookups with their fallbacks, and
// where the files are found (sysroot, Snap, odd things in place of a file).
#include "hw/ids.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using hw::Ids;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

std::string data_file(const std::string& name) {
    return testing_support::read_whole_file(testing_support::test_data("ids") + "/" + name);
}

Ids grammar_ids() {
    return Ids::from_text(data_file("pci.ids"), data_file("usb.ids"));
}

} // namespace

TEST(IdsPci, VendorsDevicesAndTheLinesAroundThem) {
    Ids ids = grammar_ids();
    EXPECT_EQ(ids.pci_device(0x0002, 0x0020), "A device");
    EXPECT_EQ(ids.pci_device(0x0001, 0x0011), "Device with trailing spaces");
    // Comment lines are skipped, wherever they stand.
    EXPECT_EQ(ids.pci_device(0x0001, 0x0012), ""); // listed without a name
    // A space-indented line is skipped without ending its vendor's block.
    EXPECT_EQ(ids.pci_device(0x0002, 0x0021), "");
    EXPECT_EQ(ids.pci_vendor(0x0021), "");
    EXPECT_EQ(ids.pci_device(0x0002, 0x0022), "Device after the skipped line");
    // A vendor without a name still owns the devices below it.
    EXPECT_EQ(ids.pci_vendor(0x0003), "");
    EXPECT_EQ(ids.pci_device(0x0003, 0x0030), "Device of a vendor without a name");
    // Devices under a damaged vendor line belong to nobody, not to the vendor before it.
    EXPECT_EQ(ids.pci_device(0x0003, 0x0040), "");
    EXPECT_EQ(ids.pci_device(0x0003, 0x0041), "");
    EXPECT_EQ(ids.pci_vendor(0x0031), "");
    // A later line for the same id replaces the earlier one.
    EXPECT_EQ(ids.pci_vendor(0x0001), "First Vendor, renamed");
    EXPECT_EQ(ids.pci_device(0x0001, 0x0010), "First device, renamed");
    // The class section has no vendors.
    EXPECT_EQ(ids.pci_vendor(0x0005), "");
    // Ids beyond 16 bits are no ids, not the id they would be cut down to.
    EXPECT_EQ(ids.pci_vendor(0x10002), "");
    EXPECT_EQ(ids.pci_device(0x0002, 0x10020), "");
}

TEST(IdsPci, SubsystemsFallBackToTheSubsystemVendor) {
    Ids ids = grammar_ids();
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0002, 0x0001, 0x0010), "First subsystem");
    EXPECT_EQ(ids.pci_subsystem(0xabcd, 0x0001, 0x0001, 0x0010), "Board by the subsystem vendor");
    EXPECT_EQ(ids.pci_subsystem(0xabcd, 0x0002, 0x0001, 0x0010), "Tabs between the ids");
    // Found under the repeated device line too.
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0005, 0x0001, 0x0010),
              "Subsystem under the repeated device");
    // Subsystems belong to the device they are listed under.
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0002, 0x0001, 0x0011), "Subsystem of 0011, not of 0010");
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0003, 0x0002, 0x0020), "Still a subsystem of 0020");
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0004, 0x0002, 0x0022), "First Vendor, renamed");
    // Unlisted: the subsystem vendor's name, or nothing.
    EXPECT_EQ(ids.pci_subsystem(0xabcd, 0x9999, 0x0001, 0x0010), "Subsystem Vendor Inc.");
    EXPECT_EQ(ids.pci_subsystem(0x7777, 0x0001, 0x0001, 0x0010), "");
}

TEST(IdsPci, ClassesSubclassesAndInterfacesStayApart) {
    Ids ids = grammar_ids();
    // The class name is the subclass's, as lspci shows it; the interface has its own lookup.
    EXPECT_EQ(ids.pci_class(0x010802), "Non-Volatile memory controller");
    EXPECT_EQ(ids.pci_interface(0x010802), "NVM Express");
    EXPECT_EQ(ids.pci_interface(0x010801), "");
    EXPECT_EQ(ids.pci_class(0x0c0330), "USB controller");
    EXPECT_EQ(ids.pci_interface(0x0c0330), "XHCI");
    // Interface 00 does not stand in for subclass 00, nor subclass 00 for its class.
    EXPECT_EQ(ids.pci_class(0x0c0000), "FireWire (IEEE 1394)");
    EXPECT_EQ(ids.pci_class(0x012300), "Mass storage controller");
    EXPECT_EQ(ids.pci_class(0x010000), "SCSI storage controller");
    // A class line of the file replaces the built-in name; classes the file lacks keep it.
    // Class 12 also shows that the subclass 00 under the damaged class line after it was
    // dropped rather than given to class 12.
    EXPECT_EQ(ids.pci_class(0x120000), "Processing accelerators");
    EXPECT_EQ(ids.pci_class(0x030000), "Display controller");
    EXPECT_EQ(ids.pci_class(0x140000), "");
}

TEST(IdsPci, WithoutAFileOnlyTheBuiltInClassesAreKnown) {
    Ids ids = Ids::from_text("", "");
    EXPECT_EQ(ids.pci_class(0x030000), "Display controller");
    EXPECT_EQ(ids.pci_class(0x010802), "Mass storage controller");
    EXPECT_EQ(ids.pci_class(0xff0000), "Unassigned class");
    EXPECT_EQ(ids.pci_class(0x140000), "");
    EXPECT_EQ(ids.pci_vendor(0x8086), "");
    // USB class names are built in, whatever the files hold.
    EXPECT_EQ(ids.usb_class(0x09), "Hub");
    EXPECT_EQ(ids.usb_class(0x04), "");
    EXPECT_EQ(ids.usb_class(0x109), "");
    EXPECT_EQ(ids.pci_subsystem(0x8086, 1, 0x8086, 2), "");
    EXPECT_EQ(ids.pci_ids_path(), "");
}

TEST(IdsUsb, VendorsAndProductsButNoOtherSection) {
    Ids ids = grammar_ids();
    EXPECT_EQ(ids.usb_vendor(0x0001), "First Vendor");
    EXPECT_EQ(ids.usb_device(0x0001, 0x0002), "Second product");
    EXPECT_EQ(ids.usb_device(0x0bad, 0x0003), "Product of a vendor without a name");
    EXPECT_EQ(ids.usb_device(0x1d6b, 0x0003), "3.0 root hub");
    // Interface lines make no products; the class, HID and language sections no entries.
    EXPECT_EQ(ids.usb_device(0x0001, 0x0000), "");
    EXPECT_EQ(ids.usb_device(0x1d6b, 0x0009), "");
    EXPECT_EQ(ids.usb_device(0x0009, 0x0009), "");
    EXPECT_EQ(ids.usb_vendor(0x0009), "");
    EXPECT_EQ(ids.usb_vendor(0x000c), "");
    EXPECT_EQ(ids.usb_device(0x0409, 0x0409), "");
    EXPECT_EQ(ids.usb_device(0x1d6b, 0x0409), "");
    // PCI and USB names never mix.
    EXPECT_EQ(ids.pci_device(0x1d6b, 0x0002), "");
    EXPECT_EQ(ids.usb_device(0x0002, 0x0020), "");
}

TEST(IdsGrammar, CarriageReturnLineEndsAreNotPartOfNames) {
    Ids ids = Ids::from_text("8086  Intel Corporation\r\n"
                             "\t1237  440FX - 82441FX PMC [Natoma]\r\n"
                             "\t\t1af4 1100  Qemu virtual machine\r\n"
                             "ffff\r\n"
                             "\t0001  Device of a nameless vendor\r\n"
                             "C 03  Display controller\r\n"
                             "\t00  VGA compatible controller\r\n",
                             "1d6b  Linux Foundation\r\n\t0002  2.0 root hub\r\n");
    EXPECT_EQ(ids.pci_vendor(0x8086), "Intel Corporation");
    EXPECT_EQ(ids.pci_device(0x8086, 0x1237), "440FX - 82441FX PMC [Natoma]");
    EXPECT_EQ(ids.pci_subsystem(0x1af4, 0x1100, 0x8086, 0x1237), "Qemu virtual machine");
    EXPECT_EQ(ids.pci_device(0xffff, 0x0001), "Device of a nameless vendor");
    EXPECT_EQ(ids.pci_class(0x030000), "VGA compatible controller");
    EXPECT_EQ(ids.usb_device(0x1d6b, 0x0002), "2.0 root hub");
}

TEST(IdsGrammar, GarbageGivesNoNamesAndShownNamesAreValidUtf8) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919) % 256);
    Ids ids = Ids::from_text(garbage, garbage);
    EXPECT_EQ(ids.pci_vendor(0x8086), "");
    EXPECT_EQ(ids.pci_class(0x020000), "Network controller");

    // A file with bytes that are not UTF-8 in a name: the name is shown with replacements.
    Ids latin1 = Ids::from_text("1234  Soci\xe9t\xe9 G\xe9n\xe9rale\n\t0001  Carte \xff\n",
                                "1234  M\xfcller GmbH\n");
    EXPECT_EQ(latin1.pci_vendor(0x1234), "Soci\uFFFDt\uFFFD G\uFFFDn\uFFFDrale");
    EXPECT_EQ(latin1.pci_device(0x1234, 0x0001), "Carte \uFFFD");
    EXPECT_EQ(latin1.usb_vendor(0x1234), "M\uFFFDller GmbH");
}

TEST(IdsFiles, FoundUnderTheSysrootWithTheCapturesOwnLinks) {
    TempDir root;
    root.write("usr/share/misc/pci.ids", "1234  Captured Vendor\n");
    root.symlink("../misc/pci.ids", "usr/share/hwdata/pci.ids");
    // An absolute link, as Debian makes for usb.ids, must stay inside the capture.
    root.write("var/lib/usbutils/usb.ids", "5678  Captured USB Vendor\n");
    root.symlink("/var/lib/usbutils/usb.ids", "usr/share/misc/usb.ids");
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    ScopedEnv snap("SNAP", std::nullopt);
    Ids ids = Ids::load();
    EXPECT_EQ(ids.pci_ids_path(), "/usr/share/hwdata/pci.ids");
    EXPECT_EQ(ids.usb_ids_path(), "/usr/share/misc/usb.ids");
    EXPECT_EQ(ids.pci_vendor(0x1234), "Captured Vendor");
    EXPECT_EQ(ids.usb_vendor(0x5678), "Captured USB Vendor");
}

TEST(IdsFiles, TheSnapsOwnCopyComesFirst) {
    TempDir root;
    root.write("usr/share/hwdata/pci.ids", "1234  Host copy\n");
    root.write("snap/quarvel/x1/usr/share/hwdata/pci.ids", "1234  Snap copy\n");
    root.write("snap/quarvel/x1/usr/share/misc/usb.ids", "1234  Snap USB copy\n");
    root.write("var/lib/usbutils/usb.ids", "1234  Host USB copy\n");
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    ScopedEnv snap("SNAP", "/snap/quarvel/x1");
    Ids ids = Ids::load();
    EXPECT_EQ(ids.pci_ids_path(), "/snap/quarvel/x1/usr/share/hwdata/pci.ids");
    EXPECT_EQ(ids.pci_vendor(0x1234), "Snap copy");
    EXPECT_EQ(ids.usb_vendor(0x1234), "Snap USB copy");
}

TEST(IdsFiles, OddThingsInPlaceOfTheFileGiveNumbersNotCrashes) {
    TempDir root;
    // A directory where the file should be is passed over for the next place.
    root.mkdir("usr/share/hwdata/pci.ids");
    root.write("usr/share/misc/pci.ids", "1234  Found further down\n");
    // A link that leads nowhere, and an empty file.
    root.symlink("../../gone/usb.ids", "usr/share/hwdata/usb.ids");
    root.write("usr/share/misc/usb.ids", "");
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    ScopedEnv snap("SNAP", std::nullopt);
    Ids ids = Ids::load();
    EXPECT_EQ(ids.pci_ids_path(), "/usr/share/misc/pci.ids");
    EXPECT_EQ(ids.pci_vendor(0x1234), "Found further down");
    EXPECT_EQ(ids.usb_ids_path(), "/usr/share/misc/usb.ids");
    EXPECT_EQ(ids.usb_vendor(0x1234), "");

    TempDir nothing;
    ScopedEnv empty("QUARVEL_SYSROOT", nothing.path());
    Ids none = Ids::load();
    EXPECT_EQ(none.pci_ids_path(), "");
    EXPECT_EQ(none.usb_ids_path(), "");
    EXPECT_EQ(none.pci_class(0x060400), "Bridge");
}

TEST(IdsFiles, UnreadableFileIsPassedOver) {
    TempDir root;
    root.write("usr/share/hwdata/pci.ids", "1234  Unreadable copy\n");
    root.write("usr/share/misc/pci.ids", "1234  Readable copy\n");
    for (const char* dir : {"", "/usr", "/usr/share", "/usr/share/hwdata", "/usr/share/misc"})
        chmod((root.path() + dir).c_str(), 0755);
    chmod((root.path() + "/usr/share/misc/pci.ids").c_str(), 0644);
    chmod((root.path() + "/usr/share/hwdata/pci.ids").c_str(), 0);
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    ScopedEnv snap("SNAP", std::nullopt);
    EXPECT_TRUE(testing_support::as_unprivileged_user([] {
        Ids ids = Ids::load();
        return ids.pci_ids_path() == "/usr/share/misc/pci.ids" &&
               ids.pci_vendor(0x1234) == "Readable copy";
    }));
}

// The files of the distribution's packages, which every user's machine has after set-up.
TEST(IdsRealFiles, WellKnownIdsAndClassFallbacks) {
    ScopedEnv sysroot("QUARVEL_SYSROOT", std::nullopt);
    ScopedEnv snap("SNAP", std::nullopt);
    Ids ids = Ids::load();
    if (ids.pci_ids_path().empty() || ids.usb_ids_path().empty())
        GTEST_SKIP() << "pci.ids or usb.ids is not installed (packages pci.ids, usb.ids)";
    EXPECT_EQ(ids.pci_vendor(0x8086), "Intel Corporation");
    EXPECT_EQ(ids.pci_vendor(0x10de), "NVIDIA Corporation");
    EXPECT_EQ(ids.pci_device(0x8086, 0x1237), "440FX - 82441FX PMC [Natoma]");
    EXPECT_EQ(ids.pci_device(0x1af4, 0x1041), "Virtio 1.0 network device");
    EXPECT_EQ(ids.pci_subsystem(0x144d, 0xa801, 0x144d, 0xa808), "SSD 970 EVO");
    EXPECT_EQ(ids.pci_subsystem(0x17aa, 0x0001, 0x8086, 0x9a49), "Lenovo");
    EXPECT_EQ(ids.pci_class(0x0c0330), "USB controller");
    EXPECT_EQ(ids.pci_interface(0x0c0330), "XHCI");
    EXPECT_EQ(ids.pci_class(0x010802), "Non-Volatile memory controller");
    EXPECT_EQ(ids.pci_interface(0x010802), "NVM Express");
    EXPECT_EQ(ids.pci_class(0x0c0000), "FireWire (IEEE 1394)");
    EXPECT_EQ(ids.pci_class(0x060400), "PCI bridge");
    EXPECT_EQ(ids.pci_class(0x01ab00), "Mass storage controller");
    EXPECT_EQ(ids.usb_vendor(0x1d6b), "Linux Foundation");
    EXPECT_EQ(ids.usb_device(0x1d6b, 0x0003), "3.0 root hub");
    EXPECT_EQ(ids.usb_vendor(0x046d), "Logitech, Inc.");
    EXPECT_EQ(ids.usb_vendor(0x0009), "");
}
