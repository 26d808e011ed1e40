// Blanking of identifying values in captured files: serial numbers and UUIDs become zeros of
// the same length, so that every format stays intact and a replay shows where a value was
// without showing it.
#include "capture.h"

#include "hw/system_parsers.h"
#include "redact.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace capture {

namespace {

bool is_alnum(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

void zero_text(std::string& s, size_t from, size_t count) {
    for (size_t i = from; i < from + count && i < s.size(); ++i)
        if (is_alnum(s[i])) s[i] = '0';
}

// One-value attribute files that hold a serial number or a UUID of the machine or a device.
constexpr std::string_view serial_files[] = {
    "serial",        "product_serial", "board_serial", "chassis_serial",
    "serial_number", "product_uuid",   "wwid"};

// SMBIOS structures and the offsets of the string numbers that name serial numbers: system
// (1), base board (2), chassis (3), processor (4), memory device (17).
struct SerialField {
    uint8_t type;
    size_t offset;
};
constexpr SerialField smbios_serials[] = {{1, 0x07}, {2, 0x07}, {3, 0x07}, {4, 0x20}, {17, 0x18}};
constexpr size_t smbios_uuid_offset = 0x08; // system structure, 16 bytes

// Walks the table with the decoder's caution: a structure that does not fit ends the walk.
void blank_smbios(std::string& t) {
    size_t pos = 0;
    while (t.size() - pos >= 4) {
        auto type = static_cast<uint8_t>(t[pos]);
        size_t len = static_cast<uint8_t>(t[pos + 1]);
        if (len < 4 || len > t.size() - pos) break;
        std::vector<std::pair<size_t, size_t>> strings; // start, length
        size_t q = pos + len;
        bool closed = false;
        if (t.size() - q >= 2 && t[q] == '\0' && t[q + 1] == '\0') {
            q += 2;
            closed = true;
        } else {
            while (q < t.size()) {
                size_t end = t.find('\0', q);
                if (end == std::string::npos) break;
                strings.emplace_back(q, end - q);
                q = end + 1;
                if (q < t.size() && t[q] == '\0') {
                    ++q;
                    closed = true;
                    break;
                }
            }
        }
        if (!closed) break;
        for (const auto& field : smbios_serials) {
            if (field.type != type || field.offset >= len) continue;
            size_t n = static_cast<uint8_t>(t[pos + field.offset]);
            if (n == 0 || n > strings.size()) continue;
            auto [start, size] = strings[n - 1];
            if (!hw::is_dmi_placeholder(util::trim(std::string_view(t).substr(start, size))))
                zero_text(t, start, size);
        }
        // All zeros is the firmware's own "no UUID".
        if (type == 1 && len >= smbios_uuid_offset + 16)
            std::fill_n(t.begin() + static_cast<std::ptrdiff_t>(pos + smbios_uuid_offset), 16,
                        '\0');
        if (type == 127) break;
        pos = q;
    }
}

// The serial number of the base block (bytes 12-15) and its serial text descriptors (tag
// 0xFF). The checksum is made right again only when it was right, and a broken block stays
// broken even where the zeros happen to take away just what its checksum was off by.
void blank_edid(std::string& e) {
    static const unsigned char header[8] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    if (e.size() < 128 || std::memcmp(e.data(), header, sizeof header) != 0) return;
    auto sum = [&e](size_t n) {
        unsigned s = 0;
        for (size_t i = 0; i < n; ++i)
            s += static_cast<uint8_t>(e[i]);
        return s;
    };
    bool valid = sum(128) % 256 == 0;
    std::fill_n(e.begin() + 12, 4, '\0');
    for (size_t d = 54; d + 18 <= 126; d += 18)
        if (e[d] == 0 && e[d + 1] == 0 && static_cast<uint8_t>(e[d + 3]) == 0xFF)
            zero_text(e, d + 5, 13);
    if (valid)
        e[127] = static_cast<char>((256 - sum(127) % 256) % 256);
    else if (sum(128) % 256 == 0)
        e[127] = static_cast<char>(static_cast<uint8_t>(e[127]) + 1);
}

// "U: Uniq=" carries an input device's USB serial number or Bluetooth address.
void blank_input_devices(std::string& t) {
    static constexpr std::string_view key = "U: Uniq=";
    for (size_t at = t.find(key); at != std::string::npos; at = t.find(key, at + 1)) {
        if (at > 0 && t[at - 1] != '\n') continue;
        size_t start = at + key.size();
        zero_text(t, start, t.find('\n', start) - start);
    }
}

} // namespace

void hide_mac_names(Tree& tree) {
    std::map<std::string, std::string, std::less<>> names;
    std::set<std::string> taken;
    for (const auto& [path, entry] : tree) {
        std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
        if (redact::mac_named_interface_at(name, 0) == name.size()) taken.emplace(name);
    }
    unsigned long long number = 0;
    for (const auto& name : taken) {
        // Blank already: it tells nothing.
        if (name.find_first_not_of('0', 3) == std::string::npos) continue;
        std::string renamed;
        do {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%012llx", ++number);
            renamed = name.substr(0, 3) + digits;
        } while (taken.count(renamed));
        names.emplace(name, renamed);
    }
    if (names.empty()) return;
    auto rename = [&names](std::string_view name) {
        auto it = names.find(name);
        return it == names.end() ? std::string(name) : it->second;
    };
    Tree renamed;
    for (auto& [path, entry] : tree) {
        entry.target = redact::replace_mac_named_interfaces(entry.target, rename);
        entry.content = redact::replace_mac_named_interfaces(entry.content, rename);
        renamed.emplace(redact::replace_mac_named_interfaces(path, rename), std::move(entry));
    }
    tree = std::move(renamed);
}

std::string blank(const std::string& path, std::string content) {
    std::string name = util::base_name(path);
    if (name == "DMI" && util::ends_with(path, "/dmi/tables/DMI")) {
        blank_smbios(content);
        return content;
    }
    if (path == "/proc/bus/input/devices") {
        blank_input_devices(content);
        return content;
    }
    if (name == "edid") {
        blank_edid(content);
        return content;
    }
    std::string text = util::trim(content);
    bool serial =
        std::find(std::begin(serial_files), std::end(serial_files), name) != std::end(serial_files);
    bool shaped = redact::is_uuid(text);
    if (serial && (redact::is_bus_address(text) || hw::is_dmi_placeholder(text))) return content;
    return serial || shaped ? zeros(std::move(content)) : content;
}

std::string zeros(std::string s) {
    zero_text(s, 0, s.size());
    return s;
}

} // namespace capture
