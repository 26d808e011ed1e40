// EDID blocks come from monitors, adapters and cables and are often malformed; the decoder
// must never read outside the bytes it is given, and what it decodes must be showable. The
// capture's blanking changes the serial numbers and nothing else a reader decodes.
#include "capture.h"
#include "fuzz_support.h"
#include "hw/edid.h"
#include "util.h"

#include <string>

FUZZ_TARGET(bytes) {
    hw::Edid e = hw::parse_edid(bytes);
    for (const auto* text : {&e.manufacturer, &e.monitor_name, &e.serial_text})
        if (util::valid_utf8(*text) != *text) std::abort();
    if (!e.valid && (!e.modes.empty() || !e.manufacturer.empty())) std::abort();
    if (e.pref_width < 0 || e.pref_height < 0) std::abort();

    const std::string blanked =
        capture::blank("/sys/class/drm/card0-DP-1/edid", std::string(bytes));
    hw::Edid b = hw::parse_edid(blanked);
    if (blanked.size() != bytes.size() || b.valid != e.valid) std::abort();
    if (e.valid && (b.serial_number != 0 || b.manufacturer != e.manufacturer ||
                    b.product_code != e.product_code || b.monitor_name != e.monitor_name ||
                    b.modes != e.modes || b.year != e.year ||
                    b.serial_text.find_first_of("123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "abcdefghijklmnopqrstuvwxyz") != std::string::npos))
        std::abort();
}
