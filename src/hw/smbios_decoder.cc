#include "hw/smbios_decoder.h"

#include "util.h"

#include <array>

namespace hw::smbios {

namespace {

constexpr uint8_t type_memory_array = 16;
constexpr uint8_t type_memory_device = 17;
constexpr uint8_t type_end_of_table = 127;

// Shortest structures that carry the fields every version has (versions 2.1 and later);
// shorter ones are malformed and skipped whole.
constexpr size_t min_memory_array_length = 0x0F;
constexpr size_t min_memory_device_length = 0x15;

template <typename T> std::optional<T> read_le(const std::string& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<T>(v | static_cast<T>(static_cast<unsigned char>(bytes[offset + i]))
                                   << (8 * i));
    return v;
}

// Firmware strings are arbitrary bytes; control characters become '.' (as other inventory
// tools show them, so values stay comparable) and invalid UTF-8 is replaced.
std::string printable(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '.';
    }
    return util::valid_utf8(out);
}

// A width of 0 or 0xFFFF means the firmware does not know it.
uint16_t width(std::optional<uint16_t> w) {
    if (!w || *w == 0xFFFF) return 0;
    return *w;
}

// A speed word of 0xFFFF defers to a 32-bit field added in version 3.3, whose top bit is
// reserved.
uint32_t speed(const Structure& s, size_t word_offset, size_t extended_offset) {
    auto w = s.word_at(word_offset);
    if (!w) return 0;
    if (*w != 0xFFFF) return *w;
    auto ext = s.dword_at(extended_offset);
    return ext ? (*ext & 0x7FFFFFFFu) : 0;
}

void decode_size(const Structure& s, MemoryDevice& d) {
    auto code = s.word_at(0x0C);
    if (!code || *code == 0) return; // no module installed
    if (*code == 0xFFFF) {
        d.size_unknown = true;
        return;
    }
    if (*code == 0x7FFF) {
        // Modules of 32 GiB and more: size in MiB in the extended field (bits 30:0).
        auto ext = s.dword_at(0x1C);
        if (ext)
            d.size_bytes = static_cast<uint64_t>(*ext & 0x7FFFFFFFu) << 20;
        else
            d.size_unknown = true;
        return;
    }
    // Bit 15 selects the unit: set for KiB, clear for MiB.
    if (*code & 0x8000)
        d.size_bytes = static_cast<uint64_t>(*code & 0x7FFF) << 10;
    else
        d.size_bytes = static_cast<uint64_t>(*code) << 20;
}

MemoryArray decode_array(const Structure& s) {
    MemoryArray a;
    a.handle = s.handle;
    a.use = s.byte_at(0x05).value_or(0);
    uint32_t kib = s.dword_at(0x07).value_or(0);
    if (kib == 0x80000000u) {
        // 2 TiB and more: the extended field (version 2.7) holds bytes.
        a.max_capacity_bytes = s.qword_at(0x0F).value_or(0);
    } else {
        a.max_capacity_bytes = static_cast<uint64_t>(kib) << 10;
    }
    a.num_devices = s.word_at(0x0D).value_or(0);
    return a;
}

MemoryDevice decode_device(const Structure& s) {
    MemoryDevice d;
    d.handle = s.handle;
    d.array_handle = s.word_at(0x04).value_or(0xFFFE);
    d.total_width = width(s.word_at(0x08));
    d.data_width = width(s.word_at(0x0A));
    decode_size(s, d);
    d.form_factor = s.byte_at(0x0E).value_or(0);
    d.locator = s.string_at(0x10);
    d.bank = s.string_at(0x11);
    d.memory_type = s.byte_at(0x12).value_or(0);
    d.speed = speed(s, 0x15, 0x54);
    d.manufacturer = s.string_at(0x17);
    d.serial = s.string_at(0x18);
    d.asset_tag = s.string_at(0x19);
    d.part_number = s.string_at(0x1A);
    d.rank = s.byte_at(0x1B).value_or(0) & 0x0F;
    d.configured_speed = speed(s, 0x20, 0x58);
    d.configured_voltage_mv = s.word_at(0x26).value_or(0);
    return d;
}

} // namespace

std::optional<uint8_t> Structure::byte_at(size_t offset) const {
    return read_le<uint8_t>(formatted, offset);
}
std::optional<uint16_t> Structure::word_at(size_t offset) const {
    return read_le<uint16_t>(formatted, offset);
}
std::optional<uint32_t> Structure::dword_at(size_t offset) const {
    return read_le<uint32_t>(formatted, offset);
}
std::optional<uint64_t> Structure::qword_at(size_t offset) const {
    return read_le<uint64_t>(formatted, offset);
}

std::string Structure::string_at(size_t offset) const {
    auto n = byte_at(offset);
    if (!n || *n == 0 || *n > strings.size()) return {};
    std::string s = util::trim(strings[*n - 1]);
    if (is_placeholder(s)) return {};
    return printable(s);
}

bool is_placeholder(std::string_view s) {
    static const std::array<const char*, 8> placeholders = {
        "not specified",          "not available",       "unknown", "none",
        "to be filled by o.e.m.", "no module installed", "empty",   "default string",
    };
    std::string l = util::lower(s);
    for (const char* p : placeholders)
        if (l == p) return true;
    return false;
}

std::vector<Structure> split_structures(std::string_view table) {
    std::vector<Structure> out;
    size_t pos = 0;
    const size_t size = table.size();
    while (size - pos >= 4) {
        auto type = static_cast<uint8_t>(table[pos]);
        size_t length = static_cast<unsigned char>(table[pos + 1]);
        // Below the header's own size the next structure cannot be located.
        if (length < 4 || length > size - pos) break;
        Structure s;
        s.type = type;
        s.formatted.assign(table.substr(pos, length));
        s.handle = s.word_at(0x02).value_or(0);

        // The string set: NUL-terminated strings closed by an empty one. A structure without
        // strings is followed by two NULs directly.
        size_t p = pos + length;
        bool closed = false;
        if (size - p >= 2 && table[p] == '\0' && table[p + 1] == '\0') {
            p += 2;
            closed = true;
        } else {
            while (p < size) {
                size_t nul = table.find('\0', p);
                if (nul == std::string_view::npos) break;
                s.strings.emplace_back(table.substr(p, nul - p));
                p = nul + 1;
                if (p < size && table[p] == '\0') {
                    ++p;
                    closed = true;
                    break;
                }
            }
        }
        if (!closed) break;
        out.push_back(std::move(s));
        if (type == type_end_of_table) break;
        pos = p;
    }
    return out;
}

MemoryTables decode_memory(const std::vector<Structure>& structures) {
    MemoryTables t;
    for (const auto& s : structures) {
        if (s.type == type_memory_array && s.length() >= min_memory_array_length)
            t.arrays.push_back(decode_array(s));
        else if (s.type == type_memory_device && s.length() >= min_memory_device_length)
            t.devices.push_back(decode_device(s));
    }
    return t;
}

std::string memory_type_name(uint8_t code) {
    // Codes 0x15 to 0x17 are reserved.
    static const char* const names[] = {
        nullptr,        "Other",  "Unknown", "DRAM",
        "EDRAM",        "VRAM",   "SRAM",    "RAM",
        "ROM",          "FLASH",  "EEPROM",  "FEPROM",
        "EPROM",        "CDRAM",  "3DRAM",   "SDRAM",
        "SGRAM",        "RDRAM",  "DDR",     "DDR2",
        "DDR2 FB-DIMM", nullptr,  nullptr,   nullptr,
        "DDR3",         "FBD2",   "DDR4",    "LPDDR",
        "LPDDR2",       "LPDDR3", "LPDDR4",  "Logical non-volatile",
        "HBM",          "HBM2",   "DDR5",    "LPDDR5",
        "HBM3",
    };
    if (code >= std::size(names) || !names[code]) return {};
    return names[code];
}

std::string form_factor_name(uint8_t code) {
    static const char* const names[] = {
        nullptr,   "Other",  "Unknown",
        "SIMM",    "SIP",    "Chip",
        "DIP",     "ZIP",    "Proprietary Card",
        "DIMM",    "TSOP",   "Row of chips",
        "RIMM",    "SODIMM", "SRIMM",
        "FB-DIMM", "Die",
    };
    if (code >= std::size(names) || !names[code]) return {};
    return names[code];
}

} // namespace hw::smbios
