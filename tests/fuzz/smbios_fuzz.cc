// Fuzzes the SMBIOS structure walk and the memory decoding with arbitrary table bytes: no
// read outside the table, no endless walk, valid UTF-8 in every text, and a record that
// survives the exchange text unchanged. The capture's blanking walks the same bytes: it
// leaves every structure where it was and no serial number readable.
#include "capture.h"
#include "fuzz_support.h"
#include "hw/root_data.h"
#include "hw/smbios_decoder.h"
#include "hw/system_parsers.h"
#include "util.h"

#include <string>
#include <utility>

using fuzz::check;
using fuzz::utf8;

FUZZ_TARGET(table) {
    util::set_number_format(".", "");

    auto structures = hw::smbios::split_structures(table);
    size_t covered = 0;
    for (const auto& s : structures) {
        check(s.length() >= 4);
        covered += s.length();
        for (size_t off = 0; off < 0x70; ++off)
            check(utf8(s.string_at(off)));
    }
    check(covered <= table.size());

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

    const std::string blanked = capture::blank("/sys/firmware/dmi/tables/DMI", table);
    check(blanked.size() == table.size());
    auto after = hw::smbios::split_structures(blanked);
    check(after.size() == structures.size());
    for (size_t i = 0; i < after.size(); ++i) {
        const auto& a = after[i];
        check(a.type == structures[i].type && a.length() == structures[i].length());
        check(a.strings.size() == structures[i].strings.size());
        for (auto [type, offset] :
             {std::pair{1, 0x07}, {2, 0x07}, {3, 0x07}, {4, 0x20}, {17, 0x18}}) {
            auto n = a.byte_at(static_cast<size_t>(offset));
            if (a.type != type || !n || *n == 0 || *n > a.strings.size()) continue;
            const std::string& serial = a.strings[*n - 1];
            check(serial.find_first_of(
                      "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") ==
                      std::string::npos ||
                  hw::is_dmi_placeholder(util::trim(serial)));
        }
        if (a.type == 1 && a.length() >= 0x18)
            check(a.formatted.substr(0x08, 16) == std::string(16, '\0'));
    }
}
