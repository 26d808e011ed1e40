// Fuzzes the parser of the exchange text that the window receives from the elevated copy:
// whatever arrives, the parsed record is valid UTF-8 and writes out to a text that parses
// back to the same record.
#include "fuzz_support.h"
#include "hw/root_data.h"
#include "same_record.h"
#include "util.h"

#include <string>

using fuzz::check;

FUZZ_TARGET(text) {
    // The window's separators differ from the elevated copy's.
    util::set_number_format(",", ".");

    hw::RootData first;
    bool ok = first.parse(text);
    check(!ok || text.find('V') != std::string::npos);
    for (const auto* s :
         {&first.error, &first.product_serial, &first.board_serial, &first.num_slots})
        check(util::valid_utf8(*s) == *s);
    for (const auto& m : first.memory)
        check(util::valid_utf8(m.voltage) == m.voltage && util::valid_utf8(m.serial) == m.serial);

    std::string written = first.serialize();
    hw::RootData second;
    check(second.parse(written) || !ok);
    check(same_record(first, second));
    check(second.serialize() == written);
}
