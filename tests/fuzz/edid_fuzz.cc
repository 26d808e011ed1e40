// EDID blocks come from monitors, adapters and cables and are often malformed; the decoder
// must never read outside the bytes it is given, and what it decodes must be showable.
#include "hw/edid.h"
#include "util.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    hw::Edid e = hw::parse_edid(bytes);
    for (const auto* text : {&e.manufacturer, &e.monitor_name, &e.serial_text})
        if (util::valid_utf8(*text) != *text) std::abort();
    if (!e.valid && (!e.modes.empty() || !e.manufacturer.empty())) std::abort();
    if (e.pref_width < 0 || e.pref_height < 0) std::abort();
    return 0;
}
