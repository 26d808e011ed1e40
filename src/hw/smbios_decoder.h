// Decoding of the firmware's SMBIOS structure table (/sys/firmware/dmi/tables/DMI): bytes in,
// plain records out. No file access and no display formatting happens here.
//
// Offsets and encodings follow the DMTF's SMBIOS reference, DSP0134 version 3.7.0.
// Older firmware writes shorter structures of the same layout; a field that lies beyond a
// structure's formatted length is simply absent.
//
// The table comes from firmware and is treated as hostile: every read is bounds-checked, the
// walk always moves forward, and a broken structure ends the walk instead of being guessed at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw::smbios {

struct Structure {
    uint8_t type = 0;
    uint16_t handle = 0;
    // The formatted area including the 4-byte header, exactly as long as the header says.
    std::string formatted;
    // The string set in order; string number n is strings[n - 1].
    std::vector<std::string> strings;

    size_t length() const { return formatted.size(); }
    // Little-endian reads at an offset from the start of the structure; nothing when the
    // field does not lie wholly inside the formatted area.
    std::optional<uint8_t> byte_at(size_t offset) const;
    std::optional<uint16_t> word_at(size_t offset) const;
    std::optional<uint32_t> dword_at(size_t offset) const;
    std::optional<uint64_t> qword_at(size_t offset) const;
    // The string whose number is stored at `offset`, trimmed and made printable; empty for a
    // missing or out-of-range number and for the firmware's placeholder texts.
    std::string string_at(size_t offset) const;
};

// Cuts the table into structures. The walk stops at the end-of-table structure (type 127),
// at a header whose length is below 4, at a formatted area that runs past the end, and at a
// string set without its closing double NUL (that last structure is dropped: its strings
// cannot be trusted).
std::vector<Structure> split_structures(std::string_view table);

// True for the texts firmware writes in place of a value ("Not Specified", "To Be Filled By
// O.E.M." …), compared without regard to ASCII case. `s` is already trimmed.
bool is_placeholder(std::string_view s);

// Physical memory array (type 16).
struct MemoryArray {
    uint16_t handle = 0;
    uint8_t use = 0;                 // 0x03: system memory
    uint64_t max_capacity_bytes = 0; // 0: unknown
    uint16_t num_devices = 0;
};

constexpr uint8_t array_use_system_memory = 0x03;

// Memory device (type 17). Numbers are 0 when the table says "unknown" or lacks the field.
struct MemoryDevice {
    uint16_t handle = 0;
    uint16_t array_handle = 0;
    uint64_t size_bytes = 0;       // 0: no module installed, or a size the table does not give
    bool size_unknown = false;     // the table marks the size itself as unknown
    uint16_t total_width = 0;      // bits
    uint16_t data_width = 0;       // bits
    uint8_t form_factor = 0;       // code, see form_factor_name
    uint8_t memory_type = 0;       // code, see memory_type_name
    uint32_t speed = 0;            // MT/s
    uint32_t configured_speed = 0; // MT/s
    uint8_t rank = 0;
    uint16_t configured_voltage_mv = 0;
    std::string locator;
    std::string bank;
    std::string manufacturer;
    std::string serial;
    std::string asset_tag;
    std::string part_number;
};

struct MemoryTables {
    std::vector<MemoryArray> arrays;   // in table order
    std::vector<MemoryDevice> devices; // in table order
};

MemoryTables decode_memory(const std::vector<Structure>& structures);

// Names of the standard's code tables; empty for codes the standard does not define.
std::string memory_type_name(uint8_t code);
std::string form_factor_name(uint8_t code);

} // namespace hw::smbios
