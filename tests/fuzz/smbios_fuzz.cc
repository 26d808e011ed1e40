// Fuzzes the SMBIOS structure walk and the memory decoding with arbitrary table bytes: no
// read outside the table, no endless walk, valid UTF-8 in every text, and a record that
// survives the exchange text unchanged.
#include "hw/root_data.h"
#include "hw/smbios_decoder.h"
#include "util.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool utf8(const std::string& s) {
    return util::valid_utf8(s) == s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    util::set_number_format(".", "");
    std::string table(reinterpret_cast<const char*>(data), size);

    auto structures = hw::smbios::split_structures(table);
    size_t covered = 0;
    for (const auto& s : structures) {
        check(s.length() >= 4);
        covered += s.length();
        for (size_t off = 0; off < 0x70; ++off)
            check(utf8(s.string_at(off)));
    }
    check(covered <= size);

    hw::RootData r;
    r.read_smbios_table(table);
    for (const auto& m : r.memory)
        for (const auto* text : {&m.locator, &m.bank, &m.manufacturer, &m.part_number, &m.serial,
                                 &m.asset_tag, &m.type, &m.form_factor})
            check(utf8(*text));

    hw::RootData back;
    back.parse(r.serialize());
    check(back.memory == r.memory);
    check(back.max_capacity == r.max_capacity);
    check(back.num_slots == r.num_slots);
    return 0;
}
