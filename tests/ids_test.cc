// The identifier databases: the grammar of both files, the lookups with their fallbacks, and
// where the files are found (sysroot, Snap, odd things in place of a file).
#include "hw/ids.h"
#include "hw/ids_parser.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using hw::Ids;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

Ids grammar_ids() {
    auto file = [](const char* name) {
        return testing_support::read_whole_file(testing_support::test_data("ids/") + name);
    };
    return Ids::from_text(file("pci.ids"), file("usb.ids"));
}

// The sorted lines of `text`, counting into `bytes` what each read takes.
hw::SortedIdLines sorted_lines(const std::string& text, size_t& bytes) {
    return hw::SortedIdLines(
        [&text, &bytes](uint64_t at, char* out, size_t length) {
            const size_t n = at < text.size() ? std::min(length, text.size() - at) : 0;
            std::memcpy(out, text.data() + at, n);
            bytes += n;
            return n;
        },
        static_cast<uint32_t>(text.size()));
}

} // namespace

TEST(Ids, PciEntriesAmongDamagedLines) {
    Ids ids = grammar_ids();
    EXPECT_EQ(ids.pci_device(0x0001, 0x0011), "Device with trailing spaces");
    // A space-indented line is skipped without ending its vendor's block.
    EXPECT_EQ(ids.pci_device(0x0002, 0x0021), "");
    EXPECT_EQ(ids.pci_device(0x0002, 0x0022), "Device after the skipped line");
    // A vendor without a name still owns its devices; a damaged vendor line owns them.
    EXPECT_EQ(ids.pci_device(0x0003, 0x0030), "Device of a vendor without a name");
    EXPECT_EQ(ids.pci_device(0x0003, 0x0040), "");
    // A later line for the same id replaces the earlier one; the class section has no vendors.
    EXPECT_EQ(ids.pci_device(0x0001, 0x0010), "First device, renamed");
    EXPECT_EQ(ids.pci_vendor(0x0005), "");
    // Ids beyond 16 bits are no ids, not the id they would be cut down to.
    EXPECT_EQ(ids.pci_vendor(0x10002), "");

    // Subsystems belong to the device they are listed under; unlisted ones are named after
    // their vendor.
    EXPECT_EQ(ids.pci_subsystem(0xabcd, 0x0002, 0x0001, 0x0010), "Tabs between the ids");
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0002, 0x0001, 0x0011), "Subsystem of 0011, not of 0010");
    EXPECT_EQ(ids.pci_subsystem(0x0001, 0x0004, 0x0002, 0x0022), "First Vendor, renamed");
    EXPECT_EQ(ids.pci_subsystem(0x7777, 0x0001, 0x0001, 0x0010), "");

    // The class name is the subclass's, as lspci shows it; the interface has its own lookup.
    EXPECT_EQ(ids.pci_class(0x010802), "Non-Volatile memory controller");
    EXPECT_EQ(ids.pci_interface(0x010802), "NVM Express");
    // Interface 00 does not stand in for subclass 00, nor subclass 00 for its class.
    EXPECT_EQ(ids.pci_class(0x0c0000), "FireWire (IEEE 1394)");
    EXPECT_EQ(ids.pci_class(0x012300), "Mass storage controller");
    // The subclass under the damaged class line after class 12 was dropped.
    EXPECT_EQ(ids.pci_class(0x120000), "Processing accelerators");
    // Without a file the built-in base class names remain.
    EXPECT_EQ(Ids::from_text("", "").pci_class(0x010802), "Mass storage controller");
}

TEST(Ids, UsbVendorsAndProductsButNoOtherSection) {
    Ids ids = grammar_ids();
    EXPECT_EQ(ids.usb_device(0x0001, 0x0002), "Second product");
    // Interface lines make no products; the class, HID and language sections no entries.
    for (auto [vendor, product] : {std::pair{0x0001, 0x0000}, {0x0009, 0x0009}, {0x0409, 0x0409}})
        EXPECT_EQ(ids.usb_device(vendor, product), "") << vendor << ":" << product;
    // PCI and USB names never mix.
    EXPECT_EQ(ids.pci_device(0x1d6b, 0x0002), "");
    EXPECT_EQ(ids.usb_class(0x09), "Hub"); // built in, whatever the files hold
}

TEST(Ids, CarriageReturnsGarbageAndLatin1) {
    Ids crlf = Ids::from_text("8086  Intel Corporation\r\n"
                              "\t1237  440FX - 82441FX PMC [Natoma]\r\n"
                              "\t\t1af4 1100  Qemu virtual machine\r\n",
                              "1d6b  Linux Foundation\r\n\t0002  2.0 root hub\r\n");
    EXPECT_EQ(crlf.pci_subsystem(0x1af4, 0x1100, 0x8086, 0x1237), "Qemu virtual machine");
    EXPECT_EQ(crlf.usb_device(0x1d6b, 0x0002), "2.0 root hub");

    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919) % 256);
    Ids noise = Ids::from_text(garbage, garbage);
    EXPECT_EQ(noise.pci_class(0x020000), "Network controller");
    // Bytes that are not UTF-8 in a name: the name is shown with replacements.
    Ids latin1 = Ids::from_text("1234  Soci\xe9t\xe9\n", "1234  M\xfcller\n");
    EXPECT_EQ(latin1.pci_vendor(0x1234), "Soci\uFFFDt\uFFFD");
    EXPECT_EQ(latin1.usb_vendor(0x1234), "M\uFFFDller");
}

TEST(IdsFiles, FoundUnderTheSysrootWithItsOwnLinksAndTheSnapsCopyFirst) {
    TempDir root;
    root.write("usr/share/misc/pci.ids", "1234  Captured Vendor\n");
    root.symlink("../misc/pci.ids", "usr/share/hwdata/pci.ids");
    // An absolute link, as Debian makes for usb.ids, must stay inside the capture.
    root.write("var/lib/usbutils/usb.ids", "5678  Captured USB Vendor\n");
    root.symlink("/var/lib/usbutils/usb.ids", "usr/share/misc/usb.ids");
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    {
        ScopedEnv snap("SNAP", std::nullopt);
        Ids ids = Ids::load();
        EXPECT_EQ(ids.pci_ids_path(), "/usr/share/hwdata/pci.ids");
        EXPECT_EQ(ids.pci_vendor(0x1234), "Captured Vendor");
        EXPECT_EQ(ids.usb_vendor(0x5678), "Captured USB Vendor");
    }
    root.write("snap/quarvel/x1/usr/share/hwdata/pci.ids", "1234  Snap copy\n");
    ScopedEnv snap("SNAP", "/snap/quarvel/x1");
    EXPECT_EQ(Ids::load().pci_vendor(0x1234), "Snap copy");
}

TEST(IdsFiles, OddOrUnreadableThingsInPlaceOfTheFileArePassedOver) {
    TempDir root;
    root.mkdir("usr/share/hwdata/pci.ids");                         // a directory
    root.symlink("../../gone/usb.ids", "usr/share/hwdata/usb.ids"); // a dangling link
    root.write("usr/share/misc/pci.ids", "1234  Found further down\n");
    root.write("usr/share/misc/usb.ids", "");
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    ScopedEnv snap("SNAP", std::nullopt);
    Ids ids = Ids::load();
    EXPECT_EQ(ids.pci_vendor(0x1234), "Found further down");
    EXPECT_EQ(ids.usb_ids_path(), "/usr/share/misc/usb.ids");

    TempDir locked;
    locked.write("usr/share/hwdata/pci.ids", "1234  Unreadable copy\n");
    locked.write("usr/share/misc/pci.ids", "1234  Readable copy\n");
    testing_support::open_up(locked.path(), {"usr/share/hwdata/pci.ids"});
    ScopedEnv other("QUARVEL_SYSROOT", locked.path());
    EXPECT_TRUE(testing_support::as_unprivileged_user(
        [] { return Ids::load().pci_vendor(0x1234) == "Readable copy"; }));
}

// The real files are too large to hold whole: their lines are found by halving, or the file is
// read through in pieces. Every name must come out as it does from the same text held whole,
// also where a line spans two pieces, for a vendor listed twice in a row and for one out of
// order (both of which only the read through finds as the whole text does).
TEST(IdsFiles, ALargeFileHalvedOrReadInPiecesNamesAsTheWholeText) {
    std::string pci = "# a comment\n", usb;
    for (uint32_t v = 0x1000; v < 0x1000 + 3000; ++v) {
        char line[160];
        std::snprintf(line, sizeof line, "%04x  Vendor %u with a longer name\n", v, v);
        pci += line;
        usb += line;
        for (uint32_t d = 1; d <= 3; ++d) {
            std::snprintf(line, sizeof line, "\t%04x  Device %u of %u\n\t\t%04x %04x  Board %u\n",
                          d, d, v, v - 1, d, d);
            pci += line;
            usb += std::string_view(line).substr(0, std::string_view(line).find('\n') + 1);
        }
        if (v == 0x1000) pci += "1000  Vendor listed again\n\t0009  Device under the second line\n";
        if (v == 0x1002) pci += "\t0003  Device listed again\n";
        if (v == 0x1004) pci += "\t000A  Device out of order\n";
    }
    pci += "0100  Vendor out of order\n\t0001  Its device\n0A0B  Capitals out of order\n";
    pci += "C 01  Mass storage controller\n\t08  Non-Volatile memory controller\n\t\t02  NVM "
           "Express\n";
    TempDir root;
    root.write("usr/share/misc/pci.ids", pci);
    root.write("usr/share/misc/usb.ids", usb + "C 00  (Defined at Interface level)\n");
    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    ScopedEnv snap("SNAP", std::nullopt);
    Ids whole = Ids::from_text(pci, usb);
    auto same_names = [&](const Ids& pieces, uint32_t v) {
        ASSERT_EQ(pieces.pci_vendor(v), whole.pci_vendor(v)) << v;
        for (uint32_t d : {1u, 3u, 9u, 0xau}) {
            ASSERT_EQ(pieces.pci_device(v, d), whole.pci_device(v, d)) << v << " " << d;
            ASSERT_EQ(pieces.pci_subsystem(v - 1, d, v, d), whole.pci_subsystem(v - 1, d, v, d));
            ASSERT_EQ(pieces.pci_subsystem(v, 7, v, d), whole.pci_subsystem(v, 7, v, d));
            ASSERT_EQ(pieces.usb_device(v, d), whole.usb_device(v, d)) << v << " " << d;
        }
        ASSERT_EQ(pieces.usb_vendor(v), whole.usb_vendor(v));
    };
    // Halving finds every line in order until the first it misses; from then on the tables of
    // the read through answer. Vendor lines fall at every place within the pages and pieces.
    for (const Ids& pieces : {Ids::on_demand(), Ids::load()}) {
        for (uint32_t v = 0x1000 + 2999; v > 0x1000; --v)
            same_names(pieces, v);
        EXPECT_EQ(pieces.pci_subsystem(0x1bb6, 2, 0x1bb7, 2), "Board 2");
        EXPECT_EQ(pieces.pci_device(0x1002, 3), "Device listed again");
        EXPECT_EQ(pieces.pci_device(0x1004, 0xa), "Device out of order");
        EXPECT_EQ(pieces.pci_subsystem(0x1001, 3, 0x1002, 3), "Board 3");
        EXPECT_EQ(pieces.pci_class(0x010802), "Non-Volatile memory controller");
        EXPECT_EQ(pieces.pci_interface(0x010802), "NVM Express");
        EXPECT_EQ(pieces.pci_class(0x0c0330), "Serial bus controller");
        EXPECT_EQ(pieces.pci_device(0x1000, 9), "Device under the second line");
        EXPECT_EQ(pieces.pci_vendor(0x1000), "Vendor listed again");
        EXPECT_EQ(pieces.pci_device(0x0100, 1), "Its device");
        for (uint32_t v : {0x1000u, 0x0100u, 0x0fffu, 0x1000u + 3000})
            same_names(pieces, v);
        EXPECT_EQ(pieces.pci_vendor(0x0fff), "");
    }

    // A vendor that halving misses is looked for among the file's top-level lines first: an
    // absent one needs no read through, one out of order (in capitals here) still has one.
    Ids fresh = Ids::on_demand();
    EXPECT_EQ(fresh.pci_vendor(0x0fff), "");
    EXPECT_EQ(fresh.pci_vendor(0x0a0b), "Capitals out of order");

    // The file cut short in place after it was read through (an editor saving over it): the
    // names not yet read are missing, nothing worse.
    Ids before_the_cut = Ids::load();
    root.write("usr/share/misc/pci.ids", "");
    EXPECT_EQ(before_the_cut.pci_device(0x1001, 1), "");
    EXPECT_EQ(before_the_cut.pci_vendor(0x1001), "Vendor 4097 with a longer name");
}

// Halving reads a few pages for a line, also past a block of hundreds of kilobytes, and tells
// where the line's block ends; a line out of order is not found.
TEST(IdsFiles, HalvingReadsAFewPagesAndFindsTheBlockOfALine) {
    std::string text = "# comment\n";
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> blocks;
    for (uint32_t v = 0x0001; v <= 0x4000; v += 3) {
        const auto start = static_cast<uint32_t>(text.size());
        char line[64];
        std::snprintf(line, sizeof line, "%04x  Vendor\n", v);
        text += line;
        for (int d = 1; d <= (v == 0x2002 ? 20000 : 2); ++d) {
            std::snprintf(line, sizeof line, "\t%04x  Device\n\t\t0002 0003  Board\n", d);
            text += line;
        }
        blocks[v] = {start, static_cast<uint32_t>(text.size())};
    }
    const auto classes = static_cast<uint32_t>(text.size());
    text += "C 02  Network controller\n\t00  Ethernet controller\nffff  Out of order\n";
    size_t bytes = 0;
    hw::SortedIdLines lines = sorted_lines(text, bytes);
    // The first lookup lands in the large block and scans it; later ones know it.
    for (uint32_t v : {0x2002u, 0x0001u, 0x1fffu, 0x2005u, 0x3ffdu}) {
        bytes = 0;
        ASSERT_EQ(lines.find(v), blocks[v]) << v;
        EXPECT_LT(bytes, v == 0x2002 ? text.size() : 32'768u) << v;
    }
    EXPECT_EQ(lines.line(blocks[0x2005].first), "2005  Vendor");
    // Under a vendor its devices, each up to the next device (the last up to the vendor's end),
    // also in the large block.
    const auto [vendor, vendor_end] = blocks[0x2005];
    EXPECT_EQ(lines.find_under(blocks[0x2005], 1), std::make_pair(vendor + 13, vendor + 46));
    EXPECT_EQ(lines.find_under(blocks[0x2005], 2), std::make_pair(vendor + 46, vendor_end));
    EXPECT_EQ(lines.find_under(blocks[0x2005], 3), std::nullopt);
    bytes = 0;
    EXPECT_EQ(lines.find_under(blocks[0x2002], 12345),
              std::make_pair(blocks[0x2002].first + 13 + 12344 * 33,
                             blocks[0x2002].first + 13 + 12345 * 33));
    EXPECT_LT(bytes, 32'768u);
    EXPECT_EQ(lines.find(hw::SortedIdLines::class_key(2)), std::make_pair(classes, classes + 50));
    for (uint32_t absent : {0x0000u, 0x0002u, 0x4001u, 0xffffu})
        EXPECT_EQ(lines.find(absent), std::nullopt) << absent;
}

// Only a line one tab deep whose four digits are the device's, in either case, may name it;
// also at the text's start or end and wherever it falls against the sixteen-byte steps.
TEST(IdsParser, MayListDeviceOnlyForItsOwnLine) {
    const std::string filler = "8086  Vendor\n\t0001  Other\n\t\t0d57 0001  Board\n";
    struct Case {
        std::string line;
        bool may;
    } cases[] = {
        {"\t0d57  Name", true},  {"\t0D57  Name", true},      {"\t0d57", true},
        {"\t0d57\tName", true},  {"\t\t0d57 0001  B", false}, {"\t0d571  Name", false},
        {"\t0d58  Name", false}, {"  0d57  Name", false},     {"#\t0d57  Name", false},
        {"0d57  Vendor", false},
    };
    for (const Case& c : cases)
        for (size_t before = 0; before < 40; ++before) {
            const std::string head = filler.substr(0, before);
            for (const std::string& text :
                 {head + (head.empty() || head.back() == '\n' ? "" : "\n") + c.line,
                  c.line + "\n" + filler + filler.substr(0, before)})
                EXPECT_EQ(hw::may_list_device(text, 0x0d57), c.may) << c.line << " @" << before;
        }
    EXPECT_FALSE(hw::may_list_device("", 0x0d57));
}

// A device line whose tab ends one page and whose id starts the next is still found.
TEST(IdsFiles, HalvingFindsALineCutByAPage) {
    std::string text = "0001  V\n\t0001  D\n\t\t" + std::string(475, 'x') + "\n";
    for (uint32_t d = 2; d < 1000; ++d) {
        char line[16];
        std::snprintf(line, sizeof line, "\t%04x  D\n", d);
        text += line;
    }
    text += "0002  W\n";
    ASSERT_EQ(text.compare(4095, 7, "\t0192  "), 0);
    size_t bytes = 0;
    hw::SortedIdLines lines = sorted_lines(text, bytes);
    const auto vendor = lines.find(1);
    ASSERT_TRUE(vendor);
    EXPECT_EQ(lines.find_under(*vendor, 0x0192), std::make_pair(4095u, 4104u));
}
