// The SMBIOS structure walk and the type 16/17 decoding, on tables written by the test encoder
// at the byte offsets of DSP0134.
#include "hw/smbios_decoder.h"
#include "smbios_encoder.h"

#include <gtest/gtest.h>

using namespace smbios_encoder;
using hw::smbios::decode_memory;
using hw::smbios::split_structures;
using Types = std::vector<uint8_t>;

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
    EXPECT_EQ(types_of(table), (Types{0xC0, 1, 3, 3, 16, 127}));
    ASSERT_EQ(s.size(), 6u);
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
    EXPECT_EQ(s.string_at(4), "");
    EXPECT_EQ(s.string_at(5), "Padded");
    EXPECT_EQ(s.string_at(6), "");
    EXPECT_EQ(s.string_at(7), "");
    EXPECT_EQ(s.string_at(8), "tab.here");
    EXPECT_EQ(s.string_at(9), "\uFFFD");
    EXPECT_EQ(s.string_at(10), "");
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
