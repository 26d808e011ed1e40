// The other direction of the exchange text: any record the elevated copy can hold is written
// and read back unchanged, whatever its texts hold (separators, escapes, line breaks, numbers
// in any form) and whatever the window's number separators are.
#include "fuzz_support.h"
#include "hw/root_data.h"
#include "same_record.h"
#include "util.h"

#include <string>
#include <vector>

FUZZ_TARGET(bytes) {
    // Fields are cut at NUL; texts arrive as the interface shows them (valid UTF-8).
    std::vector<std::string> f = util::split(bytes, '\0');
    size_t next = 0;
    auto text = [&] { return next < f.size() ? util::valid_utf8(f[next++]) : std::string(); };
    auto number = [&] { return util::to_u64(text(), 0); };
    util::set_number_format(bytes.size() % 2 ? "," : ".", bytes.size() % 3 ? "." : "");

    hw::RootData r;
    r.error = text();
    r.product_serial = text();
    r.product_uuid = text();
    r.board_serial = text();
    r.chassis_serial = text();
    r.max_capacity = number();
    r.num_slots = text();
    while (next < f.size()) {
        hw::MemoryModule m;
        for (std::string* field : {&m.locator, &m.bank})
            *field = text();
        m.size_bytes = number();
        for (std::string* field : {&m.type, &m.form_factor, &m.speed, &m.configured_speed,
                                   &m.manufacturer, &m.part_number, &m.serial, &m.asset_tag,
                                   &m.rank, &m.data_width, &m.total_width, &m.voltage})
            *field = text();
        r.memory.push_back(m);
    }

    std::string written = r.serialize();
    hw::RootData back;
    back.parse(written);
    if (!same_record(r, back)) std::abort();
    if (back.serialize() != written) std::abort();
}
