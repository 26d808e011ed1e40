// Fuzzes the parser of the exchange text that the window receives from the elevated copy:
// whatever arrives, the parsed record is valid UTF-8 and writes out to a text that parses
// back to the same record.
#include "hw/root_data.h"
#include "util.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool same(const hw::RootData& a, const hw::RootData& b) {
    return a.error == b.error && a.memory == b.memory && a.product_serial == b.product_serial &&
           a.product_uuid == b.product_uuid && a.board_serial == b.board_serial &&
           a.chassis_serial == b.chassis_serial && a.max_capacity == b.max_capacity &&
           a.num_slots == b.num_slots;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The window's separators differ from the elevated copy's.
    util::set_number_format(",", ".");
    std::string text(reinterpret_cast<const char*>(data), size);

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
    check(same(first, second));
    check(second.serialize() == written);
    return 0;
}
