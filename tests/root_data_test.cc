// The SMBIOS structure walk and the type 16/17 decoding on tables written by the test encoder,
// the protected-data record with its exchange text, and --root-collect end to end.
#include "hw/root_data.h"
#include "hw/smbios_decoder.h"
#include "smbios_encoder.h"
#include "test_support.h"
#include "util.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace smbios_encoder;
using hw::smbios::decode_memory;
using hw::smbios::split_structures;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using Types = std::vector<uint8_t>;

namespace {

class RootDataTest : public ::testing::Test {
protected:
    void SetUp() override { util::set_number_format(".", ""); }
    void TearDown() override { util::set_number_format(".", ","); }
};

// Two system-memory arrays and the firmware's flash array, as workstation tables have them.
std::string workstation_table() {
    Array16 cpu0{0x3A, 0x03, 12u << 20, 2, 0, 0x0F};
    Array16 cpu1{0x3B, 0x03, 12u << 20, 1, 0, 0x0F};
    Array16 flash{0x3C, 0x05, 2048, 1, 0, 0x0F};
    auto dimm = [](uint16_t handle, uint16_t array, uint16_t size, const char* locator,
                   uint8_t type) {
        Device17 d;
        d.handle = handle, d.array_handle = array, d.size = size, d.locator = locator;
        d.type = type;
        return d;
    };
    Device17 a = dimm(0x40, 0x3A, 0x7FFF, "CPU0 DIMM1", 0x22);
    a.total_width = 72, a.speed = 4800, a.manufacturer = "Acme|Memory", a.serial = "S\\N";
    a.part_number = "PART-1", a.attributes = 2, a.extended_size = 32768;
    a.configured_speed = 4400, a.configured_voltage = 1100;
    Device17 empty = dimm(0x41, 0x3A, 0, "CPU0 DIMM2", 0x02);
    empty.form_factor = 0x02, empty.manufacturer = "NO DIMM";           // "Unknown" form factor
    Device17 kib = dimm(0x42, 0x3B, 0x8000 | 1024, "CPU1 DIMM1", 0x23); // 1 MiB in KiB
    kib.form_factor = 0x0D, kib.configured_voltage = 1125, kib.length = 0x28;
    Device17 rom = dimm(0x43, 0x3C, 0x8000 | 2048, "SYSTEM ROM", 0x09);
    return with_strings(1, 1, {"Acme", "SN"}) + array16(cpu0) + array16(cpu1) + array16(flash) +
           device17(a) + device17(empty) + device17(kib) + device17(rom) + end_of_table();
}

} // namespace

TEST_F(RootDataTest, OnlySystemMemoryArraysAndTheirDevicesCount) {
    hw::RootData r;
    r.read_smbios_table(workstation_table());
    EXPECT_EQ(r.max_capacity, 24ull << 30);
    EXPECT_EQ(r.num_slots, "3");
    ASSERT_EQ(r.memory.size(), 3u);
    hw::MemoryModule big{"CPU0 DIMM1", "BANK 0",    32ull << 30,   "DDR5",   "DIMM",
                         "4800 MT/s",  "4400 MT/s", "Acme|Memory", "PART-1", "S\\N",
                         "",           "2",         "64 bit",      "72 bit", "1.1 V"};
    EXPECT_EQ(r.memory[0], big);
    // The standard's "Unknown" is no value.
    EXPECT_EQ(r.memory[1].type + r.memory[1].form_factor, "");
    EXPECT_EQ(r.memory[2].size_bytes, 1ull << 20);
    EXPECT_EQ(r.memory[2].type + " " + r.memory[2].form_factor + " " + r.memory[2].voltage,
              "LPDDR5 SODIMM 1.125 V");

    // When no array says system memory, every array and device is taken.
    Array16 other{0x10, 0x01, 1024, 1, 0, 0x17};
    Device17 d;
    d.array_handle = 0x10;
    d.size = 0x0400;
    r.read_smbios_table(array16(other) + device17(d) + end_of_table());
    EXPECT_EQ(r.max_capacity, 1ull << 20);
    EXPECT_EQ(r.num_slots, "1");
    ASSERT_EQ(r.memory.size(), 1u);
    EXPECT_EQ(r.memory[0].size_bytes, 1ull << 30);

    // No arrays at all: nothing known about capacity or slots.
    r.read_smbios_table(device17(d));
    EXPECT_EQ(r.max_capacity, 0u);
    EXPECT_EQ(r.num_slots, "");
    EXPECT_EQ(r.memory.size(), 1u);
}

TEST_F(RootDataTest, ExchangeTextRoundTripsAwkwardFieldsAndParsesStrictly) {
    hw::RootData r;
    r.read_smbios_table(workstation_table());
    r.product_serial = "A|B";
    r.board_serial = "line1\nline2";
    r.chassis_serial = "back\\slash\\";
    r.error = "partly | read";
    hw::RootData back;
    EXPECT_TRUE(back.parse(r.serialize()));
    EXPECT_EQ(back.product_serial + back.board_serial + back.chassis_serial + back.error,
              r.product_serial + r.board_serial + r.chassis_serial + r.error);
    EXPECT_EQ(back.memory, r.memory);
    EXPECT_EQ(back.max_capacity, r.max_capacity);
    EXPECT_EQ(back.num_slots, r.num_slots);

    // A module line needs fifteen fields; a version line and one known value are required.
    const std::string fourteen = "M a|b|1|c|d|e|f|g|h|i|j|k|l|m\n";
    hw::RootData p;
    EXPECT_FALSE(p.parse("V 1\n" + fourteen));
    EXPECT_TRUE(p.parse("V 1\n" + fourteen.substr(0, fourteen.size() - 1) + "|1.2 V\n"));
    ASSERT_EQ(p.memory.size(), 1u);
    EXPECT_EQ(p.memory[0].voltage, "1.2 V");
    // Numbers keep one form in the record and the text whatever the window's separators;
    // only what is shown takes them.
    util::set_number_format(",", ".");
    hw::RootData grouped;
    grouped.parse("V 1\n" + fourteen.substr(0, fourteen.size() - 1) + "|1234 V\n");
    EXPECT_EQ(grouped.memory[0].voltage, "1234 V");
    hw::RootData again;
    again.parse(grouped.serialize());
    EXPECT_EQ(again.memory, grouped.memory);
    EXPECT_EQ(hw::display_voltage("1234 V") + " " + hw::display_voltage("1.35 V"),
              "1.234 V 1,35 V");
    EXPECT_FALSE(hw::RootData().parse("V 1\nD product_serial|\n"));
    EXPECT_FALSE(hw::RootData().parse("D product_serial|X\n"));
    EXPECT_TRUE(hw::RootData().parse("V 1\nD board_serial|B\nD unknown|Z\nQ what\n"));
    hw::RootData arrays;
    arrays.parse("V 1\nA 68719476736|4\n");
    EXPECT_EQ(arrays.max_capacity, 64ull << 30);
    EXPECT_EQ(arrays.num_slots, "4");
}

TEST_F(RootDataTest, RootCollectPrintsOnlyTheExchangeText) {
    TempDir root;
    root.write("/sys/firmware/dmi/tables/DMI", workstation_table());
    root.write("/sys/class/dmi/id/product_serial", "PS-1\n");
    TempDir config;
    auto env = testing_support::plain_env(config.path(), root.path());
    env["LANGUAGE"] = "de"; // root's environment must not change the numbers
    env["LC_ALL"] = "de_DE.UTF-8";
    auto run = testing_support::run_quarvel({"--root-collect"}, env);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");

    ScopedEnv sysroot("QUARVEL_SYSROOT", root.path());
    hw::RootData here;
    here.collect_as_root();
    EXPECT_EQ(run.out, here.serialize());
    EXPECT_NE(run.out.find("|1.1 V\n"), std::string::npos);
    EXPECT_NE(run.out.find("D product_serial|PS-1\n"), std::string::npos);

    // No file is written into the configuration directory.
    EXPECT_TRUE(std::filesystem::is_empty(config.path()));

    // Without the table a UUID alone is no data: exit 1, but the exchange text all the same.
    TempDir no_table;
    no_table.write("/sys/class/dmi/id/product_uuid", "0000\n");
    auto failed = testing_support::run_quarvel(
        {"--root-collect"}, testing_support::plain_env(config.path(), no_table.path()));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err, "");
    EXPECT_EQ(failed.out, "V 1\nE SMBIOS table not readable\nD product_serial|\n"
                          "D product_uuid|0000\nD board_serial|\nD chassis_serial|\nA 0|\n");
}

namespace {

Types types_of(const std::string& table) {
    Types out;
    for (const auto& s : split_structures(table))
        out.push_back(s.type);
    return out;
}

hw::smbios::MemoryDevice only_device(const Device17& d) {
    auto t = decode_memory(split_structures(device17(d)));
    EXPECT_EQ(t.devices.size(), 1u);
    return t.devices.empty() ? hw::smbios::MemoryDevice{} : t.devices[0];
}

} // namespace

TEST(SmbiosWalk, CutsStructuresInOrderAndStopsAtTheEndMarker) {
    std::string table = with_strings(0xC0, 1, {"OEM"}) + with_strings(1, 2, {"Acme", "SN-1"}) +
                        with_strings(3, 4, {"C-1"}) + with_strings(3, 5, {"C-2"}) + array16({}) +
                        end_of_table() + with_strings(1, 9, {"after the end"});
    auto s = split_structures(table);
    ASSERT_EQ(types_of(table), (Types{0xC0, 1, 3, 3, 16, 127}));
    EXPECT_EQ(s[1].handle, 2);
    EXPECT_EQ(s[1].string_at(0x05), "SN-1");
    EXPECT_TRUE(s[4].strings.empty()); // no strings: the formatted area ends in two NULs
    EXPECT_EQ(s[4].length(), 0x17u);
}

TEST(SmbiosWalk, BrokenTablesKeepWhatCameBeforeTheFault) {
    std::string good = with_strings(1, 1, {"SN-1"});
    std::string dev = device17({});
    // A header cut short, a length below the header's own size, a formatted area running
    // past the end, and string sets without their closing NULs.
    EXPECT_EQ(types_of(good + dev.substr(0, 3)), Types{1});
    EXPECT_EQ(types_of(good + structure(header(17, 5), {}, 2) + dev), Types{1});
    EXPECT_EQ(types_of(good + structure(header(17, 5) + "xx", {}, 200)), Types{1});
    EXPECT_EQ(types_of(good + dev.substr(0, dev.size() - 1)), Types{1});
    EXPECT_EQ(types_of(good + dev.substr(0, 0x5C) + "DIMM"), Types{1});
    EXPECT_TRUE(split_structures("").empty());
    EXPECT_EQ(types_of(good + dev), (Types{1, 17})); // no end marker: the table just ends
}

TEST(SmbiosWalk, StringsAreTrimmedPrintableAndNeverPlaceholders) {
    std::string f = header(2, 1);
    for (uint8_t i = 0; i < 6; ++i)
        put_at(f, 4 + i, i, 1); // string numbers 0..5 at offsets 4..9
    put_at(f, 10, 200, 1);      // beyond the string set
    auto s = split_structures(structure(f, {"  Padded  ", "to be FILLED by o.e.m.",
                                            "NO MODULE INSTALLED", "tab\there", "\xff"}))[0];
    const char* want[] = {"", "Padded", "", "", "tab.here", "\uFFFD", ""};
    for (uint8_t at = 4; at <= 10; ++at)
        EXPECT_EQ(s.string_at(at), want[at - 4]) << int(at);
    EXPECT_EQ(s.string_at(0x40), ""); // beyond the formatted area
}

TEST(SmbiosMemory, FieldsExistOnlyInRecordsLongEnoughForThem) {
    Device17 d;
    d.size = 0x2000;
    d.speed = 3200;
    d.manufacturer = "Acme";
    d.attributes = 0x12; // rank 2 in bits 3:0
    d.configured_speed = 2933;
    d.configured_voltage = 1200;
    struct Expect {
        size_t length;
        bool speed, strings, rank, configured_speed, voltage;
    };
    for (auto e :
         {Expect{0x15, 0, 0, 0, 0, 0}, Expect{0x1B, 1, 1, 0, 0, 0}, Expect{0x1C, 1, 1, 1, 0, 0},
          Expect{0x22, 1, 1, 1, 1, 0}, Expect{0x28, 1, 1, 1, 1, 1}, Expect{0x5C, 1, 1, 1, 1, 1}}) {
        SCOPED_TRACE(e.length);
        d.length = e.length;
        auto m = only_device(d);
        EXPECT_EQ(m.size_bytes, 8ull << 30);
        EXPECT_EQ(m.locator, "DIMM A1");
        EXPECT_EQ(m.speed, e.speed ? 3200u : 0u);
        EXPECT_EQ(m.manufacturer, e.strings ? "Acme" : "");
        EXPECT_EQ(m.rank, e.rank ? 2 : 0);
        EXPECT_EQ(m.configured_speed, e.configured_speed ? 2933u : 0u);
        EXPECT_EQ(m.configured_voltage_mv, e.voltage ? 1200 : 0);
    }
    d.length = 0x14; // below the oldest layout: not a memory device
    EXPECT_TRUE(decode_memory(split_structures(device17(d))).devices.empty());
}

TEST(SmbiosMemory, SizeEncodings) {
    struct Case {
        uint16_t word;
        uint32_t extended;
        size_t length;
        uint64_t bytes;
        bool unknown;
    };
    for (auto c : {Case{0, 0, 0x5C, 0, false}, Case{0xFFFF, 0, 0x5C, 0, true},
                   Case{0x4000, 0, 0x5C, 16ull << 30, false},
                   Case{0x8000 | 512, 0, 0x5C, 512ull << 10, false},
                   Case{0x7FFF, 32768, 0x5C, 32ull << 30, false},
                   Case{0x7FFF, 0x80000000u | 65536, 0x22, 64ull << 30, false},
                   Case{0x7FFF, 32768, 0x1C, 0, true}}) {
        SCOPED_TRACE(c.word);
        Device17 d;
        d.size = c.word;
        d.extended_size = c.extended;
        d.length = c.length;
        auto m = only_device(d);
        EXPECT_EQ(m.size_bytes, c.bytes);
        EXPECT_EQ(m.size_unknown, c.unknown);
    }
}

TEST(SmbiosMemory, ExtendedSpeedsUnknownWidthsAndCapacity) {
    Device17 d;
    d.speed = 0xFFFF;
    d.extended_speed = 8400;
    d.configured_speed = 0xFFFF;
    d.extended_configured_speed = 0x80000000u | 7200; // top bit reserved
    d.total_width = 0xFFFF;
    d.data_width = 0;
    auto m = only_device(d);
    EXPECT_EQ(m.speed, 8400u);
    EXPECT_EQ(m.configured_speed, 7200u);
    EXPECT_EQ(m.total_width, 0);
    EXPECT_EQ(m.data_width, 0);
    d.length = 0x28; // the extended speeds came with version 3.3
    EXPECT_EQ(only_device(d).speed, 0u);

    auto t = decode_memory(
        split_structures(array16({1, 3, 0x80000000u, 4, 6ull << 40, 0x17}) + // extended capacity
                         array16({2, 3, 0x80000000u, 4, 0, 0x0F}) + // no extended field to defer to
                         array16({3, 3, 64u << 20, 4, 0, 0x0F}) + array16({4, 3, 1, 1, 0, 0x0E})));
    ASSERT_EQ(t.arrays.size(), 3u); // the 14-byte array is malformed
    EXPECT_EQ(t.arrays[0].max_capacity_bytes, 6ull << 40);
    EXPECT_EQ(t.arrays[1].max_capacity_bytes, 0u);
    EXPECT_EQ(t.arrays[2].max_capacity_bytes, 64ull << 30);
    EXPECT_EQ(t.arrays[2].num_devices, 4);
}
