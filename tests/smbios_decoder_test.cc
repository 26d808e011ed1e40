// The SMBIOS structure walk and the type 16/17 decoding, on tables written by the test encoder
// at the byte offsets of DSP0134.
#include "hw/smbios_decoder.h"
#include "smbios_encoder.h"

#include <gtest/gtest.h>

using namespace smbios_encoder;
using hw::smbios::decode_memory;
using hw::smbios::split_structures;

namespace {

std::vector<uint8_t> types_of(const std::string& table) {
    std::vector<uint8_t> out;
    for (const auto& s : split_structures(table))
        out.push_back(s.type);
    return out;
}

hw::smbios::MemoryDevice only_device(const std::string& structure) {
    auto t = decode_memory(split_structures(structure));
    EXPECT_EQ(t.devices.size(), 1u);
    return t.devices.empty() ? hw::smbios::MemoryDevice{} : t.devices[0];
}

} // namespace

TEST(SmbiosWalk, CutsStructuresInOrderAndStopsAtTheEndMarker) {
    std::string table = oem(0xC0, 1) + system_info(2, "SN-1") + board(3, "B-1") +
                        chassis(4, "C-1") + chassis(5, "C-2") + array16({}) + end_of_table() +
                        system_info(9, "after the end");
    auto s = split_structures(table);
    EXPECT_EQ(types_of(table), (std::vector<uint8_t>{0xC0, 1, 2, 3, 3, 16, 127}));
    ASSERT_EQ(s.size(), 7u);
    EXPECT_EQ(s[1].handle, 2);
    EXPECT_EQ(s[1].strings, (std::vector<std::string>{"Quarvel Test Systems", "Bench 1", "SN-1"}));
    EXPECT_EQ(s[1].string_at(0x07), "SN-1");
    EXPECT_TRUE(s[5].strings.empty()); // a structure without strings ends in two NULs
    EXPECT_EQ(s[5].length(), 0x17u);
}

TEST(SmbiosWalk, BrokenTablesKeepWhatCameBeforeTheFault) {
    std::string good = system_info(1, "SN-1");
    std::string dev = device17({});
    // A header cut short, a length below the header's own size, a formatted area running
    // past the end, and a string set without its closing NUL.
    EXPECT_EQ(types_of(good + dev.substr(0, 3)), (std::vector<uint8_t>{1}));
    EXPECT_EQ(types_of(good + structure(header(17, 5), {}, 2) + dev), (std::vector<uint8_t>{1}));
    EXPECT_EQ(types_of(good + structure(header(17, 5) + "xx", {}, 200)), (std::vector<uint8_t>{1}));
    EXPECT_EQ(types_of(good + dev.substr(0, dev.size() - 1)), (std::vector<uint8_t>{1}));
    EXPECT_EQ(types_of(good + dev.substr(0, 0x5C) + "DIMM"), (std::vector<uint8_t>{1}));
    EXPECT_TRUE(split_structures("").empty());

    // A table without the end marker simply ends.
    EXPECT_EQ(types_of(good + dev), (std::vector<uint8_t>{1, 17}));
}

TEST(SmbiosWalk, RandomBytesNeverReadOutsideTheTable) {
    uint32_t state = 12345;
    for (int round = 0; round < 200; ++round) {
        std::string table(static_cast<size_t>(round * 7 % 300), '\0');
        for (char& c : table) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 24);
        }
        auto structures = split_structures(table);
        size_t covered = 0;
        for (const auto& s : structures)
            covered += s.length();
        EXPECT_LE(covered, table.size());
        decode_memory(structures); // must not crash or trip the sanitizers
    }
}

TEST(SmbiosStrings, PlaceholdersAndBadNumbersGiveNothing) {
    std::string f = header(2, 1);
    for (uint8_t i = 0; i < 8; ++i)
        put_at(f, 0x04 + i, i, 1); // string numbers 0..7 at offsets 4..11
    put_at(f, 0x0C, 200, 1);       // beyond the string set
    auto s = split_structures(
        structure(f, {"  Padded  ", "To Be Filled By O.E.M.", "to be FILLED by o.e.m.",
                      "NOT SPECIFIED", "Default string", "tab\there", "\xff\xfe"}))[0];
    EXPECT_EQ(s.string_at(0x04), "");
    EXPECT_EQ(s.string_at(0x05), "Padded");
    EXPECT_EQ(s.string_at(0x06), "");
    EXPECT_EQ(s.string_at(0x07), "");
    EXPECT_EQ(s.string_at(0x08), "");
    EXPECT_EQ(s.string_at(0x09), "");
    EXPECT_EQ(s.string_at(0x0A), "tab.here");
    EXPECT_EQ(s.string_at(0x0B), "\uFFFD\uFFFD");
    EXPECT_EQ(s.string_at(0x0C), "");
    EXPECT_EQ(s.string_at(0x40), ""); // beyond the formatted area
}

TEST(SmbiosMemory, FieldsExistOnlyInRecordsLongEnoughForThem) {
    Device17 d;
    d.size = 0x2000;
    d.speed = 3200;
    d.manufacturer = "Acme";
    d.part_number = "P-1";
    d.attributes = 0x12; // rank 2 in bits 3:0
    d.configured_speed = 2933;
    d.configured_voltage = 1200;
    struct Expect {
        size_t length;
        bool speed, strings, rank, configured_speed, voltage;
    };
    for (auto e :
         {Expect{0x15, false, false, false, false, false},
          Expect{0x1B, true, true, false, false, false},
          Expect{0x1C, true, true, true, false, false}, Expect{0x22, true, true, true, true, false},
          Expect{0x28, true, true, true, true, true}, Expect{0x5C, true, true, true, true, true}}) {
        SCOPED_TRACE(e.length);
        d.length = e.length;
        auto m = only_device(device17(d));
        EXPECT_EQ(m.size_bytes, 8ull << 30);
        EXPECT_EQ(m.locator, "DIMM A1");
        EXPECT_EQ(m.memory_type, 0x1A);
        EXPECT_EQ(m.speed, e.speed ? 3200u : 0u);
        EXPECT_EQ(m.manufacturer, e.strings ? "Acme" : "");
        EXPECT_EQ(m.part_number, e.strings ? "P-1" : "");
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
        auto m = only_device(device17(d));
        EXPECT_EQ(m.size_bytes, c.bytes);
        EXPECT_EQ(m.size_unknown, c.unknown);
    }
}

TEST(SmbiosMemory, ExtendedSpeedsWidthsAndCapacity) {
    Device17 d;
    d.speed = 0xFFFF;
    d.extended_speed = 8400;
    d.configured_speed = 0xFFFF;
    d.extended_configured_speed = 0x80000000u | 7200; // top bit reserved
    d.total_width = 0xFFFF;
    d.data_width = 0;
    auto m = only_device(device17(d));
    EXPECT_EQ(m.speed, 8400u);
    EXPECT_EQ(m.configured_speed, 7200u);
    EXPECT_EQ(m.total_width, 0);
    EXPECT_EQ(m.data_width, 0);
    d.length = 0x28; // the extended speed fields came with version 3.3
    m = only_device(device17(d));
    EXPECT_EQ(m.speed, 0u);

    Array16 big;
    big.max_capacity_kib = 0x80000000u;
    big.extended_capacity_bytes = 6ull << 40;
    Array16 old;
    old.max_capacity_kib = 0x80000000u;
    old.length = 0x0F; // no extended field to defer to
    Array16 plain;
    plain.max_capacity_kib = 64u << 20;
    plain.num_devices = 4;
    Array16 truncated;
    truncated.length = 0x0E;
    auto t = decode_memory(
        split_structures(array16(big) + array16(old) + array16(plain) + array16(truncated)));
    ASSERT_EQ(t.arrays.size(), 3u);
    EXPECT_EQ(t.arrays[0].max_capacity_bytes, 6ull << 40);
    EXPECT_EQ(t.arrays[1].max_capacity_bytes, 0u);
    EXPECT_EQ(t.arrays[2].max_capacity_bytes, 64ull << 30);
    EXPECT_EQ(t.arrays[2].num_devices, 4);
}

TEST(SmbiosMemory, CodeNames) {
    EXPECT_EQ(hw::smbios::memory_type_name(0x1A), "DDR4");
    EXPECT_EQ(hw::smbios::memory_type_name(0x22), "DDR5");
    EXPECT_EQ(hw::smbios::memory_type_name(0x23), "LPDDR5");
    EXPECT_EQ(hw::smbios::memory_type_name(0x18), "DDR3");
    EXPECT_EQ(hw::smbios::memory_type_name(0x24), "HBM3");
    EXPECT_EQ(hw::smbios::memory_type_name(0x16), ""); // reserved
    EXPECT_EQ(hw::smbios::memory_type_name(0x25), "");
    EXPECT_EQ(hw::smbios::memory_type_name(0), "");
    EXPECT_EQ(hw::smbios::form_factor_name(0x0D), "SODIMM");
    EXPECT_EQ(hw::smbios::form_factor_name(0x10), "Die");
    EXPECT_EQ(hw::smbios::form_factor_name(0x11), "");
}
