#include "hw/ids_parser.h"

#include "util.h"

#include <cstring>
#include <limits>

namespace hw {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\0';
}

std::string_view trim_view(std::string_view s) {
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return s;
}

// Exactly `digits` hexadecimal digits at the start of `s`, followed by white space or nothing.
// Stricter than "parse what you can": "12zz" or "80861" are no ids at all, and a line whose
// id is damaged must not become an entry under some other number.
bool take_id(std::string_view& s, size_t digits, uint32_t& id) {
    if (s.size() < digits) return false;
    uint32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = util::hex_digit(s[i]);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    if (s.size() > digits && !is_space(s[digits])) return false;
    id = v;
    s.remove_prefix(digits);
    return true;
}

std::string_view usable(std::string_view text) {
    // Offsets are kept in 32 bits.
    return text.substr(0, std::min<size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
}

// Calls f(depth, body) for every line that may hold an entry, until f returns false. Blank
// lines, comment lines and lines indented with anything but tabs are passed over without
// touching the caller's state: a line indented with spaces has no depth one can trust, and
// it must not end the block of the vendor or device above it.
template <typename F> void for_each_line(std::string_view text, F&& f) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* line_end = nl ? nl : end;
        std::string_view line(p, static_cast<size_t>(line_end - p));
        p = nl ? nl + 1 : end;
        if (line.empty() || line[0] == '#') continue;
        size_t depth = 0;
        while (depth < line.size() && line[depth] == '\t')
            ++depth;
        std::string_view body = line.substr(depth);
        if (body.empty() || is_space(body[0])) continue;
        if (!f(depth, body)) return;
    }
}

// Room for the entries of a text of this size: a candidate line takes a dozen bytes or more
// (the real files average about 35), so the tables never grow through copies of themselves.
// Room that is reserved but not used costs no memory pages.
size_t room_for(std::string_view text) {
    return text.size() / 12 + 16;
}

} // namespace

std::string_view name_at(std::string_view text, std::optional<uint32_t> offset) {
    if (!offset || *offset > text.size()) return {};
    std::string_view rest = text.substr(*offset);
    return trim_view(rest.substr(0, rest.find('\n')));
}

void parse_pci_ids(std::string_view whole, PciIdTables& out) {
    std::string_view text = usable(whole);
    auto offset_of = [&](std::string_view s) {
        return static_cast<uint32_t>(s.data() - text.data());
    };
    out.vendors.reserve(room_for(text) / 8);
    out.devices.reserve(room_for(text));

    bool class_section = false;
    // The parent each depth hangs under; cleared when its line was unusable.
    bool have_vendor = false, have_class = false, have_subclass = false;
    uint32_t vendor = 0, cls = 0, subclass = 0;

    for_each_line(text, [&](size_t depth, std::string_view body) {
        uint32_t id = 0;
        if (depth == 0) {
            have_subclass = false;
            if (body.size() > 2 && body[0] == 'C' && body[1] == ' ') {
                class_section = true;
                body.remove_prefix(2);
                have_class = take_id(body, 2, id);
                if (have_class) {
                    cls = id;
                    out.classes.add(cls, offset_of(body));
                }
            } else if (class_section) {
                have_class = false;
            } else {
                have_vendor = take_id(body, 4, id);
                if (have_vendor) {
                    vendor = id;
                    out.vendors.add(vendor, offset_of(body));
                }
            }
        } else if (depth == 1) {
            if (class_section) {
                have_subclass = have_class && take_id(body, 2, id);
                if (have_subclass) {
                    subclass = id;
                    out.subclasses.add(cls << 8 | subclass, offset_of(body));
                }
            } else if (have_vendor && take_id(body, 4, id)) {
                out.devices.add(vendor << 16 | id, offset_of(body));
            }
        } else if (depth == 2) {
            if (class_section) {
                if (have_subclass && take_id(body, 2, id))
                    out.interfaces.add(cls << 16 | subclass << 8 | id, offset_of(body));
            }
            // Subsystem lines are read from the text when asked for.
        }
        return true;
    });

    out.vendors.finish();
    out.devices.finish();
    out.classes.finish();
    out.subclasses.finish();
    out.interfaces.finish();
}

std::string_view pci_subsystem_name(std::string_view whole, const PciIdTables& tables,
                                    uint32_t device, uint32_t subsystem) {
    std::string_view text = usable(whole);
    std::string_view found;
    // A device listed twice has its subsystems under both lines; the last line wins, as
    // everywhere in the file.
    for (uint32_t offset : tables.devices.find_all(device)) {
        size_t nl = text.find('\n', offset);
        if (nl == std::string_view::npos) break;
        for_each_line(text.substr(nl + 1), [&](size_t depth, std::string_view body) {
            if (depth < 2) return false; // the next device, vendor or section
            uint32_t sub_vendor = 0, sub_device = 0;
            if (depth != 2 || !take_id(body, 4, sub_vendor)) return true;
            std::string_view rest = body;
            while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t'))
                rest.remove_prefix(1);
            if (rest.size() == body.size()) return true; // the two ids must stand apart
            if (!take_id(rest, 4, sub_device)) return true;
            if ((sub_vendor << 16 | sub_device) == subsystem) found = trim_view(rest);
            return true;
        });
    }
    return found;
}

void parse_usb_ids(std::string_view whole, UsbIdTables& out) {
    std::string_view text = usable(whole);
    auto offset_of = [&](std::string_view s) {
        return static_cast<uint32_t>(s.data() - text.data());
    };
    out.vendors.reserve(room_for(text) / 8);
    out.devices.reserve(room_for(text));

    // Vendors come first; every other top-level section starts with a keyword ("C 09",
    // "HID 01", "L 0409" …), which ends the vendor list's scope for the lines below it.
    bool have_vendor = false;
    uint32_t vendor = 0;
    for_each_line(text, [&](size_t depth, std::string_view body) {
        uint32_t id = 0;
        if (depth == 0) {
            have_vendor = take_id(body, 4, id);
            if (have_vendor) {
                vendor = id;
                out.vendors.add(vendor, offset_of(body));
            }
        } else if (depth == 1 && have_vendor && take_id(body, 4, id)) {
            out.devices.add(vendor << 16 | id, offset_of(body));
        }
        return true;
    });
    out.vendors.finish();
    out.devices.finish();
}

} // namespace hw
