// --capture: identifying values blanked in captured files, the facts file, the identifier
// databases of this computer for a replay that lacks them, and the round trip: a captured
// machine, unpacked and replayed, gives the report it was captured with, line for line.
#include "capture.h"
#include "hw/edid.h"
#include "hw/ids.h"
#include "hw/smbios_decoder.h"
#include "redact.h"
#include "smbios_encoder.h"
#include "test_support.h"

#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>

using testing_support::plain_env;
using testing_support::read_whole_file;
using testing_support::run_quarvel;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// An EDID base block with serial number 0x01020304 and the serial text "AB12CD", whose byte
// sum is `checksum_error` off (0: valid).
std::string edid_with_serials(unsigned checksum_error) {
    std::string e(128, '\0');
    const unsigned char head[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC,
                                  0xB9, 0xA0, 0x04, 0x03, 0x02, 0x01, 11,   29,   1,    4};
    e.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
    e[54 + 3] = static_cast<char>(0xFF);
    e.replace(54 + 5, 7, "AB12CD\n");
    unsigned sum = 0;
    for (size_t i = 0; i < 127; ++i)
        sum += static_cast<unsigned char>(e[i]);
    e[127] = static_cast<char>((256 - sum % 256 + checksum_error) % 256);
    return e;
}

bool unpack(const std::string& archive, const std::string& dir) {
    std::string command = "tar -xJf '" + archive + "' -C '" + dir + "'";
    return std::system(command.c_str()) == 0;
}

} // namespace

TEST(CaptureBlank, AttributeFilesByNameOrShape) {
    struct Case {
        const char* path;
        std::string in, out;
    };
    const Case cases[] = {
        {"/sys/class/dmi/id/product_serial", "PF0AB12C\n", "00000000\n"},
        {"/sys/class/dmi/id/product_uuid", "8c1f3a52-9d0e-4b7a-a6c3-2e5f9b1d0a47\n",
         "00000000-0000-0000-0000-000000000000\n"},
        {"/sys/block/sda/device/wwid", "t10.ATA  WDC WD20 WD-WCC01", "000.000  000 0000 00-00000"},
        // A root hub's serial is its controller's address; the firmware's filler is no serial.
        {"/sys/bus/usb/devices/usb1/serial", "0000:00:14.0\n", "0000:00:14.0\n"},
        {"/sys/class/dmi/id/board_serial", "To Be Filled By O.E.M.\n", "To Be Filled By O.E.M.\n"},
        {"/sys/class/net/eth0/broadcast", "ff:ff:ff:ff:ff:ff\n", "ff:ff:ff:ff:ff:ff\n"},
        {"/proc/cpuinfo", "model name\t: X 12:34:56\n", "model name\t: X 12:34:56\n"},
        // An input device's USB serial or Bluetooth address; the other lines stay.
        {"/proc/bus/input/devices", "N: Name=\"K1\"\nU: Uniq=017C3-85C\nU: Uniq=\n\nU: Uniq=e8:ce",
         "N: Name=\"K1\"\nU: Uniq=00000-000\nU: Uniq=\n\nU: Uniq=00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(capture::blank(c.path, c.in), c.out) << c.path;
}

TEST(CaptureBlank, SmbiosSerialsAndUuidOnly) {
    using namespace smbios_encoder;
    std::string system = header(1, 0x0100);
    for (int i = 0; i < 4; ++i)
        put_at(system, 4 + i, i + 1, 1); // maker, product, version, serial
    for (int i = 0; i < 16; ++i)
        put_at(system, 0x08 + i, 0xA0 + i, 1);
    system[0x18] = 0; // wake-up type: the formatted area runs to 0x19
    Device17 module;
    module.serial = "1A2B3C4D";
    module.part_number = "M378A1K43CB2";
    std::string table = structure(system, {"Maker", "Model X", "1.0", "SN12345"}) +
                        device17(module) + end_of_table();

    auto s = hw::smbios::split_structures(capture::blank("/sys/firmware/dmi/tables/DMI", table));
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].string_at(0x05) + "|" + s[0].string_at(0x07), "Model X|0000000");
    EXPECT_EQ(s[0].qword_at(0x08).value_or(1) | s[0].qword_at(0x10).value_or(1), 0u);
    auto memory = hw::smbios::decode_memory(s);
    ASSERT_EQ(memory.devices.size(), 1u);
    EXPECT_EQ(memory.devices[0].serial + "|" + memory.devices[0].part_number,
              "00000000|M378A1K43CB2");
}

TEST(CaptureBlank, EdidSerialsWithTheChecksumMadeRightOnlyWhereItWas) {
    auto blanked = [](unsigned checksum_error) {
        return hw::parse_edid(
            capture::blank("/sys/class/drm/card0-DP-1/edid", edid_with_serials(checksum_error)));
    };
    hw::Edid e = blanked(0);
    EXPECT_TRUE(e.valid);
    EXPECT_EQ(e.serial_number, 0u);
    EXPECT_EQ(e.serial_text, "000000");
    EXPECT_EQ(e.product_code, 0xA0B9);
    EXPECT_FALSE(blanked(1).valid);
    // Wrong by just what the zeros take away (10 in the number, 77 in the text): the broken
    // block must not come out of the capture as a good one.
    EXPECT_FALSE(blanked(87).valid);
}

TEST(CaptureBlank, InterfacesNamedAfterTheirMacAreRenamedEverywhere) {
    using capture::Entry;
    const std::string dev = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/net/";
    capture::Tree tree;
    tree["/sys/class/net/enx00e04c680001"] = {
        Entry::Kind::link, {}, "../.." + dev.substr(4) + "enx00e04c680001", false};
    tree[dev + "enx00e04c680001"] = {Entry::Kind::directory, {}, {}, false};
    tree[dev + "enx00e04c680001/uevent"] = {
        Entry::Kind::file, "INTERFACE=enx00e04c680001\n", {}, false};
    // Already blank, and names that only look alike, stay.
    tree["/sys/class/net/wlx000000000000"] = {Entry::Kind::directory, {}, {}, false};
    tree["/proc/net/dev"] = {Entry::Kind::file,
                             " enx00e04c680001: 1 2\n wlx000000000000: 3\n xenx00e04c680001\n",
                             {},
                             false};
    capture::hide_mac_names(tree);
    std::vector<std::string> paths;
    for (const auto& [path, entry] : tree)
        paths.push_back(path);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"/proc/net/dev", "/sys/class/net/enx000000000001",
                                        "/sys/class/net/wlx000000000000", dev + "enx000000000001",
                                        dev + "enx000000000001/uevent"}));
    EXPECT_EQ(tree["/sys/class/net/enx000000000001"].target,
              "../.." + dev.substr(4) + "enx000000000001");
    EXPECT_EQ(tree[dev + "enx000000000001/uevent"].content, "INTERFACE=enx000000000001\n");
    EXPECT_EQ(tree["/proc/net/dev"].content,
              " enx000000000001: 1 2\n wlx000000000000: 3\n xenx00e04c680001\n");
}

// One value, one stand-in of its own shape, all through the files and the facts; what is
// no address (a version, a USB port path, a netmask) and directories of /sys stay.
TEST(CaptureHide, AddressesHostAndUsersConsistentlyEverywhere) {
    using capture::Entry;
    auto file = [](std::string text) {
        return Entry{Entry::Kind::file, std::move(text), {}, false};
    };
    capture::Tree tree;
    tree["/sys/class/net/eth0/address"] = file("00:00:5e:00:53:0a\n");
    tree["/sys/class/net/eth1/address"] = file("00:00:5E:00:53:0B\n");
    tree["/sys/class/net/lo/address"] = file("00:00:00:00:00:00\n");
    tree["/sys/class/net/eth0/broadcast"] = file("ff:ff:ff:ff:ff:ff\n");
    tree["/proc/cmdline"] = file("root=UUID=8c1f3a52-9d0e-4b7a-a6c3-2e5f9b1d0a47 "
                                 "ip=10.1.2.3::10.1.2.1:255.255.255.0:ws7:eth0:off quiet\n");
    tree["/proc/self/mountinfo"] =
        file("36 1 8:2 / /home/alice rw - ext4 /dev/sda2 rw\n"
             "37 1 0:5 / /mnt/nas rw - nfs4 10.1.2.9:/srv rw,addr=10.1.2.9,clientaddr=10.1.2.3\n"
             "38 1 8:17 / /media/bob/USB\\040Key rw - vfat /dev/sdb1 rw\n");
    tree["/sys/bus/usb/devices/1-1.5.4.2/version"] = file(" 2.00\n");
    tree["/sys/class/input/input3/name"] = file("ws7 keyboard of alice\n");
    // The installer names a host after the distribution: its ID stays.
    tree["/etc/os-release"] = file("ID=ws7\n");
    tree["/home/alice"] = Entry{Entry::Kind::directory, {}, {}, false};
    tree["/sys/class/input"] = Entry{Entry::Kind::directory, {}, {}, false};

    host::Facts facts;
    facts.kernel = host::KernelName{"Linux", "ws7", "6.1.0", "#1", "x86_64"};
    facts.addresses = {{"eth0", AF_INET, "10.1.2.3", "255.255.255.0", 24, "10.1.2.255"},
                       {"eth0", AF_INET6, "fe80::200:5eff:fe00:530a", "", 64, ""},
                       {"eth0", AF_INET6, "2a01:4f8::1", "", 64, ""}};
    facts.permanent_addresses["eth1"] = "00:00:5e:00:53:0b";
    facts.fs_usage["/media/bob/USB Key"] = {};
    facts.environment["HOME"] = "/home/input";

    capture::hide_identities(tree, facts, "input");
    const std::pair<std::string, std::string> files[] = {
        {"/sys/class/net/eth0/address", "02:00:00:00:00:01\n"},
        {"/sys/class/net/eth1/address", "02:00:00:00:00:02\n"},
        {"/sys/class/net/lo/address", "00:00:00:00:00:00\n"},
        {"/sys/class/net/eth0/broadcast", "ff:ff:ff:ff:ff:ff\n"},
        {"/proc/cmdline", "root=UUID=00000000-0000-0000-0000-000000000000 "
                          "ip=192.0.2.1::192.0.2.2:255.255.255.0:host:eth0:off quiet\n"},
        {"/proc/self/mountinfo",
         "36 1 8:2 / /home/user2 rw - ext4 /dev/sda2 rw\n"
         "37 1 0:5 / /mnt/nas rw - nfs4 192.0.2.3:/srv rw,addr=192.0.2.3,clientaddr=192.0.2.1\n"
         "38 1 8:17 / /media/user3/USB\\040Key rw - vfat /dev/sdb1 rw\n"},
        {"/sys/bus/usb/devices/1-1.5.4.2/version", " 2.00\n"},
        {"/sys/class/input/input3/name", "host keyboard of user2\n"},
        {"/etc/os-release", "ID=ws7\n"},
    };
    for (const auto& [path, want] : files) {
        ASSERT_TRUE(tree.count(path)) << path;
        EXPECT_EQ(tree[path].content, want) << path;
    }
    EXPECT_TRUE(tree.count("/home/user2") && tree.count("/sys/class/input"));
    EXPECT_EQ(facts.kernel->nodename, "host");
    ASSERT_EQ(facts.addresses->size(), 3u);
    EXPECT_EQ((*facts.addresses)[0].address + " " + (*facts.addresses)[0].broadcast,
              "192.0.2.1 192.0.2.4");
    EXPECT_EQ((*facts.addresses)[1].address + " " + (*facts.addresses)[2].address,
              "fe80::1 2001:db8::2");
    EXPECT_EQ(facts.permanent_addresses["eth1"], "02:00:00:00:00:02");
    EXPECT_TRUE(facts.fs_usage.count("/media/user3/USB Key"));
    EXPECT_EQ(facts.environment["HOME"], "/home/user1");
}

TEST(CaptureFacts, ReadBackAsWrittenAndOddLinesSkipped) {
    host::Facts f;
    f.kernel = host::KernelName{"Linux", "pc\twith tab", "6.1.0", "#1 SMP\nx", "x86_64"};
    f.page_size = 4096;
    f.effective_uid = 0;
    f.addresses.emplace();
    f.addresses->push_back({"eth0", AF_INET6, "fe80::1", "ffff::", 64, ""});
    f.permanent_addresses["eth0"] = "00:00:5e:00:53:01";
    f.fs_usage["/"] = {100, 50, 40, 10, 5};
    f.environment["LANG"] = "de_DE.UTF-8";
    f.pci_ids = "";
    std::string text = host::format_facts(f);
    auto back =
        host::parse_facts(text + "address\teth1\t4\t1.2.3.4\t\t999\t\nunknown\t1\npage_size\tx\n");
    ASSERT_TRUE(back);
    EXPECT_EQ(host::format_facts(*back), text);
    EXPECT_EQ(back->kernel->nodename + "|" + back->kernel->version, "pc\twith tab|#1 SMP\nx");
    EXPECT_EQ(back->effective_uid, 0u);
    EXPECT_EQ(back->pci_ids, "");
    EXPECT_EQ(back->addresses->size(), 1u); // the line with a prefix of 999 bits is skipped
    EXPECT_FALSE(host::parse_facts("quarvel-capture 2\n"));
}

// Over a capture that left a database out, the names come from this computer's; a machine
// that had none, and a hand-made tree without facts, stay without.
TEST(CaptureIds, ThisComputersDatabaseOnlyForACaptureThatLeftItOut) {
    hw::Ids here = hw::Ids::load();
    ASSERT_FALSE(here.pci_ids_path().empty()) << "this computer needs pci.ids (packages.txt)";
    struct Case {
        const char* facts;
        bool falls_back;
    };
    for (const Case& c :
         {Case{"quarvel-capture 1\nids\tpci.ids\t/usr/share/misc/pci.ids\n", true},
          Case{"quarvel-capture 1\n", true}, Case{"quarvel-capture 1\nids\tpci.ids\t\n", false},
          Case{nullptr, false}}) {
        TempDir machine;
        machine.mkdir("sys");
        if (c.facts) machine.write(".quarvel-capture", c.facts);
        ScopedEnv root("QUARVEL_SYSROOT", machine.path());
        hw::Ids ids = hw::Ids::load();
        std::string label = c.facts ? c.facts : "no facts";
        EXPECT_EQ(ids.pci_ids_path(), c.falls_back ? here.pci_ids_path() : "") << label;
        EXPECT_EQ(ids.pci_ids_from_this_computer(), c.falls_back) << label;
        EXPECT_EQ(ids.pci_vendor(0x8086), c.falls_back ? here.pci_vendor(0x8086) : "") << label;
    }
}

TEST(CaptureCommandLine, NeedsAWritableArchiveAndLeavesNoHalfOfOne) {
    TempDir config, out;
    auto env = plain_env(config.path(), testing_support::fixture("empty-machine"));
    auto usage = run_quarvel({"--capture"}, env);
    EXPECT_EQ(usage.exit_code, 2);
    EXPECT_EQ(usage.err, "Usage: quarvel --capture FILE.tar.xz [--no-redact]\n");
    std::string missing = out.path() + "/no/such/dir/c.tar.xz";
    auto failed = run_quarvel({"--capture", missing}, env);
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err.rfind("Could not write " + missing + ": ", 0), 0u) << failed.err;
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(run_quarvel({"--capture", ""}, env).exit_code, 2) << "not to standard output";

    // The disk fills up half-way (the file size limit stands in for it): an earlier capture
    // stays whole.
    const std::string old = out.path() + "/old.tar.xz";
    testing_support::TempDir::write_file(old, "an earlier capture");
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    const struct rlimit small = {1024, before.rlim_max};
    auto handler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    auto full = run_quarvel({"--capture", old},
                            plain_env(config.path(), testing_support::fixture("laptop-intel")));
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(full.exit_code, 1) << full.err;
    EXPECT_TRUE(testing_support::read_whole_file(old) == "an earlier capture");
}

// Every fixture machine, and this computer (the empty name).
class CaptureRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(CaptureRoundTrip, ReplayGivesTheCapturedReportLineForLineAndBlanksIdentifiers) {
    std::string sysroot = GetParam().empty() ? "" : testing_support::fixture(GetParam());
    TempDir config, work;
    for (bool blank : {false, true}) {
        std::string dir = work.path() + (blank ? "/blank" : "/exact");
        work.mkdir(blank ? "blank" : "exact");
        std::vector<std::string> args = {"--capture", dir + ".tar.xz"};
        if (!blank) args.push_back("--no-redact");
        auto run = run_quarvel(args, plain_env(config.path(), sysroot));
        ASSERT_EQ(run.exit_code, 0) << run.err << " signal " << run.term_signal;
        EXPECT_EQ(run.out, "Capture written: " + dir + ".tar.xz\n");
        ASSERT_TRUE(unpack(dir + ".tar.xz", dir));
        auto replay = run_quarvel({"--report"}, plain_env(config.path(), dir));
        ASSERT_EQ(replay.exit_code, 0) << replay.err << " signal " << replay.term_signal;
        std::string captured = read_whole_file(dir + capture::report_path);
        if (!blank) {
            auto want = util::split(testing_support::mask_time(captured), '\n');
            ASSERT_GT(want.size(), 3u);
            EXPECT_EQ(util::split(testing_support::mask_time(replay.out), '\n'), want);
            // A capture of the unpacked capture holds the same machine, session facts included.
            const std::string again = work.path() + "/again";
            work.mkdir("again");
            auto recapture = run_quarvel({"--capture", again + ".tar.xz", "--no-redact"},
                                         plain_env(config.path(), dir));
            ASSERT_EQ(recapture.exit_code, 0) << recapture.err;
            ASSERT_TRUE(unpack(again + ".tar.xz", again));
            auto second = run_quarvel({"--report"}, plain_env(config.path(), again));
            EXPECT_EQ(util::split(testing_support::mask_time(second.out), '\n'), want);
            continue;
        }
        // What the exact capture's report shows must not be in the blanked one's replay, nor
        // in the report it carries.
        ScopedEnv root("QUARVEL_SYSROOT", work.path() + "/exact");
        testing_support::use_english();
        auto tree = hw::collect_all();
        for (const hw::Item* row : testing_support::identifier_rows(*tree)) {
            // "0", "123" stand for other figures too; zeros are blank already.
            if (row->value.size() < 6 || row->value.find_first_not_of("0:-.") == std::string::npos)
                continue;
            EXPECT_EQ(replay.out.find(row->value), std::string::npos) << row->value;
            EXPECT_EQ(captured.find(row->value), std::string::npos) << row->value;
        }
        // Nor its host name and addresses, in any field of the blanked capture's facts.
        auto exact = host::parse_facts(read_whole_file(work.path() + "/exact" + host::facts_path));
        ASSERT_TRUE(exact);
        std::vector<std::string> told;
        // "localhost" names no machine and stays.
        if (exact->kernel && !exact->kernel->nodename.empty() &&
            exact->kernel->nodename != "(none)" &&
            util::lower(exact->kernel->nodename) != "localhost")
            told.push_back(exact->kernel->nodename);
        for (const auto& a : exact->addresses.value_or(std::vector<host::InterfaceAddress>{}))
            for (const auto* value : {&a.address, &a.broadcast})
                if (redact::address_kind(*value)) told.push_back(*value);
        std::string facts = read_whole_file(dir + host::facts_path);
        std::set<std::string> fields;
        for (const auto& line : util::split(facts, '\n'))
            for (const auto& field : util::split(line, '\t'))
                fields.insert(field);
        for (const auto& value : told)
            EXPECT_FALSE(fields.count(value)) << value;
    }
}

std::vector<std::string> machines_and_this_computer() {
    auto all = testing_support::fixture_machines();
    all.insert(all.begin(), "");
    return all;
}

INSTANTIATE_TEST_SUITE_P(Machines, CaptureRoundTrip,
                         ::testing::ValuesIn(machines_and_this_computer()),
                         testing_support::machine_test_name);
