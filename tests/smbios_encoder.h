// A small SMBIOS table writer for the tests: structures are built field by field at the
// offsets of DSP0134, then cut to the length a given firmware version writes, so the decoder
// meets every record size real tables carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace smbios_encoder {

// Writes `v` little-endian in `bytes` bytes at `offset`, growing `out` as needed.
inline void put_at(std::string& out, size_t offset, uint64_t v, int bytes) {
    if (out.size() < offset + static_cast<size_t>(bytes)) out.resize(offset + bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        out[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string header(uint8_t type, uint16_t handle) {
    std::string h(4, '\0');
    put_at(h, 0, type, 1);
    put_at(h, 2, handle, 2);
    return h;
}

// The formatted area (its length byte set here, or to `declared_length` for broken tables)
// followed by the string set: NUL-terminated strings closed by one more NUL, two NULs when
// there are none.
inline std::string structure(std::string formatted, const std::vector<std::string>& strings,
                             int declared_length = -1) {
    formatted[1] = static_cast<char>(declared_length >= 0 ? declared_length : formatted.size());
    for (const auto& s : strings)
        formatted += s + '\0';
    if (strings.empty()) formatted += '\0';
    return formatted + '\0';
}

inline std::string end_of_table() {
    return structure(header(127, 0xFEFF), {});
}

// A structure of `type` whose bytes 4, 5 … hold the numbers of `strings` in order: enough
// for system (1), base board (2), chassis (3) and OEM structures.
inline std::string with_strings(uint8_t type, uint16_t handle,
                                const std::vector<std::string>& strings) {
    std::string f = header(type, handle);
    for (size_t i = 0; i < strings.size(); ++i)
        put_at(f, 4 + i, i + 1, 1);
    return structure(f, strings);
}

struct Array16 {
    uint16_t handle = 0x1000;
    uint8_t use = 0x03; // system memory
    uint32_t max_capacity_kib = 0;
    uint16_t num_devices = 0;
    uint64_t extended_capacity_bytes = 0;
    size_t length = 0x17; // 2.7 and later; 0x0F before
};

inline std::string array16(const Array16& a) {
    std::string f = header(16, a.handle);
    put_at(f, 0x04, 0x03, 1); // on the system board
    put_at(f, 0x05, a.use, 1);
    put_at(f, 0x07, a.max_capacity_kib, 4);
    put_at(f, 0x0B, 0xFFFE, 2);
    put_at(f, 0x0D, a.num_devices, 2);
    put_at(f, 0x0F, a.extended_capacity_bytes, 8);
    f.resize(a.length);
    return structure(f, {});
}

// A memory device with every field up to version 3.7; `length` cuts it to an older size:
// 0x15 (2.1), 0x1B (2.3), 0x1C (2.6), 0x22 (2.7), 0x28 (2.8), 0x54 (3.2), 0x5C (3.3).
struct Device17 {
    uint16_t handle = 0x1100, array_handle = 0x1000, total_width = 64, data_width = 64;
    uint16_t size = 0; // the raw size word
    uint8_t form_factor = 0x09;
    std::string locator = "DIMM A1", bank = "BANK 0";
    uint8_t type = 0x1A;
    uint16_t speed = 0;
    std::string manufacturer{}, serial{}, asset_tag{}, part_number{};
    uint8_t attributes = 0;
    uint32_t extended_size = 0;
    uint16_t configured_speed = 0, configured_voltage = 0;
    uint32_t extended_speed = 0, extended_configured_speed = 0;
    size_t length = 0x5C;
};

inline std::string device17(const Device17& d) {
    std::vector<std::string> strings;
    auto number = [&](const std::string& s) -> uint8_t {
        if (s.empty()) return 0;
        strings.push_back(s);
        return static_cast<uint8_t>(strings.size());
    };
    std::string f = header(17, d.handle);
    put_at(f, 0x04, d.array_handle, 2);
    put_at(f, 0x06, 0xFFFE, 2);
    put_at(f, 0x08, d.total_width, 2);
    put_at(f, 0x0A, d.data_width, 2);
    put_at(f, 0x0C, d.size, 2);
    put_at(f, 0x0E, d.form_factor, 1);
    put_at(f, 0x10, number(d.locator), 1);
    put_at(f, 0x11, number(d.bank), 1);
    put_at(f, 0x12, d.type, 1);
    put_at(f, 0x15, d.speed, 2);
    put_at(f, 0x17, number(d.manufacturer), 1);
    put_at(f, 0x18, number(d.serial), 1);
    put_at(f, 0x19, number(d.asset_tag), 1);
    put_at(f, 0x1A, number(d.part_number), 1);
    put_at(f, 0x1B, d.attributes, 1);
    put_at(f, 0x1C, d.extended_size, 4);
    put_at(f, 0x20, d.configured_speed, 2);
    put_at(f, 0x26, d.configured_voltage, 2);
    put_at(f, 0x54, d.extended_speed, 4);
    put_at(f, 0x58, d.extended_configured_speed, 4);
    f.resize(d.length);
    return structure(f, strings);
}

} // namespace smbios_encoder
