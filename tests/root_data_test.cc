// The protected-data record: reading an SMBIOS table into modules, the exchange text between
// the elevated copy and the window, and the --root-collect mode end to end.
#include "hw/root_data.h"
#include "smbios_encoder.h"
#include "test_support.h"
#include "util.h"

#include <dirent.h>
#include <gtest/gtest.h>

using namespace smbios_encoder;
using testing_support::ScopedEnv;
using testing_support::TempDir;

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
    Device17 a{.handle = 0x40,
               .array_handle = 0x3A,
               .total_width = 72,
               .size = 0x7FFF,
               .locator = "CPU0 DIMM1",
               .type = 0x22,
               .speed = 4800,
               .manufacturer = "Acme|Memory",
               .serial = "S\\N",
               .part_number = "PART-1",
               .attributes = 2,
               .extended_size = 32768,
               .configured_speed = 4400,
               .configured_voltage = 1100};
    Device17 empty{.handle = 0x41,
                   .array_handle = 0x3A,
                   .form_factor = 0x02, // "Unknown"
                   .locator = "CPU0 DIMM2",
                   .type = 0x02,
                   .manufacturer = "NO DIMM"};
    Device17 kib{.handle = 0x42,
                 .array_handle = 0x3B,
                 .size = 0x8000 | 1024, // 1 MiB in KiB
                 .form_factor = 0x0D,
                 .locator = "CPU1 DIMM1",
                 .type = 0x23,
                 .configured_voltage = 1125,
                 .length = 0x28};
    Device17 rom{.handle = 0x43,
                 .array_handle = 0x3C,
                 .size = 0x8000 | 2048,
                 .locator = "SYSTEM ROM",
                 .type = 0x09};
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
    EXPECT_EQ(r.memory[1].size_bytes, 0u);
    EXPECT_EQ(r.memory[1].type, "");        // the standard's "Unknown" is no value
    EXPECT_EQ(r.memory[1].form_factor, ""); // likewise
    EXPECT_EQ(r.memory[2].size_bytes, 1ull << 20);
    EXPECT_EQ(r.memory[2].type, "LPDDR5");
    EXPECT_EQ(r.memory[2].form_factor, "SODIMM");
    EXPECT_EQ(r.memory[2].voltage, "1.125 V");

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

TEST_F(RootDataTest, ExchangeTextRoundTripsAwkwardFields) {
    hw::RootData r;
    r.read_smbios_table(workstation_table());
    r.product_serial = "A|B";
    r.board_serial = "line1\nline2";
    r.chassis_serial = "back\\slash\\";
    r.error = "partly | read";
    std::string text = r.serialize();
    EXPECT_NE(text.find("D product_serial|A\\pB\n"), std::string::npos);
    EXPECT_NE(text.find("D board_serial|line1\\nline2\n"), std::string::npos);
    EXPECT_NE(text.find("E partly \\p read\n"), std::string::npos);
    EXPECT_EQ(text.substr(0, 4), "V 1\n");

    hw::RootData back;
    EXPECT_TRUE(back.parse(text));
    EXPECT_EQ(back.product_serial, "A|B");
    EXPECT_EQ(back.board_serial, "line1\nline2");
    EXPECT_EQ(back.chassis_serial, "back\\slash\\");
    EXPECT_EQ(back.error, "partly | read");
    EXPECT_EQ(back.memory, r.memory);
    EXPECT_EQ(back.max_capacity, r.max_capacity);
    EXPECT_EQ(back.num_slots, r.num_slots);

    EXPECT_EQ(hw::unescape_field("a\\xb\\"), "a\\xb\\"); // unknown escapes stay as written
}

TEST_F(RootDataTest, ParseRules) {
    const std::string fourteen = "M a|b|1|c|d|e|f|g|h|i|j|k|l|m\n";
    hw::RootData r;
    EXPECT_FALSE(r.parse("V 1\n" + fourteen));
    EXPECT_TRUE(r.memory.empty());
    EXPECT_TRUE(r.parse("V 1\n" + fourteen.substr(0, fourteen.size() - 1) + "|1.2 V\n"));
    ASSERT_EQ(r.memory.size(), 1u);
    EXPECT_EQ(r.memory[0].size_bytes, 1u);
    EXPECT_EQ(r.memory[0].voltage, "1.2 V");

    hw::RootData fresh;
    EXPECT_FALSE(fresh.parse("V 1\nD product_serial|\n"));
    EXPECT_FALSE(fresh.parse("D product_serial|X\n")); // no version line
    EXPECT_TRUE(fresh.parse("V 1\nD board_serial|B\nD unknown|Z\nQ what\n"));

    hw::RootData arrays;
    arrays.parse("V 1\nA 0|\n");
    EXPECT_EQ(arrays.max_capacity, 0u);
    EXPECT_EQ(arrays.num_slots, "");
    arrays.parse("V 1\nA 68719476736|4\n");
    EXPECT_EQ(arrays.max_capacity, 64ull << 30);
    EXPECT_EQ(arrays.num_slots, "4");
    arrays.parse("V 1\nA junk\n");
    EXPECT_EQ(arrays.max_capacity, 0u);
    EXPECT_EQ(arrays.num_slots, "4"); // not set by this line, kept
}

TEST_F(RootDataTest, TheWindowShowsTheVoltageWithItsOwnSeparator) {
    util::set_number_format(",", ".");
    hw::RootData r;
    r.parse("V 1\nM A|B|1|DDR4|DIMM|3200 MT/s||M|P|S||1|64 bit|64 bit|1.35 V\n"
            "M A|B|1|DDR4|DIMM|||M|P|S||1|||odd 1.2 V\n");
    ASSERT_EQ(r.memory.size(), 2u);
    EXPECT_EQ(r.memory[0].voltage, "1,35 V");
    EXPECT_EQ(r.memory[0].speed, "3200 MT/s");
    EXPECT_EQ(r.memory[1].voltage, "odd 1.2 V");
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
    hw::RootData parsed;
    EXPECT_TRUE(parsed.parse(run.out));
    EXPECT_EQ(parsed.memory, here.memory);
    EXPECT_EQ(parsed.product_serial, "PS-1");

    // No file is written into the configuration directory.
    DIR* dir = opendir(config.path().c_str());
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (auto* e = readdir(dir))
        entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    closedir(dir);
    EXPECT_EQ(entries, 0);

    // Without the table only a product or board serial makes the data available.
    TempDir no_table;
    no_table.write("/sys/class/dmi/id/product_uuid", "0000\n");
    auto failed = testing_support::run_quarvel(
        {"--root-collect"}, testing_support::plain_env(config.path(), no_table.path()));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err, "");
    EXPECT_EQ(failed.out, "V 1\nE SMBIOS table not readable\nD product_serial|\n"
                          "D product_uuid|0000\nD board_serial|\nD chassis_serial|\nA 0|\n");
    no_table.write("/sys/class/dmi/id/board_serial", "BS-2\n");
    auto serial_only = testing_support::run_quarvel(
        {"--root-collect"}, testing_support::plain_env(config.path(), no_table.path()));
    EXPECT_EQ(serial_only.exit_code, 0);
    EXPECT_NE(serial_only.out.find("D board_serial|BS-2\n"), std::string::npos);
}
