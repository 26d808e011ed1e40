// Facts only the administrator may read: the memory modules of the firmware's SMBIOS table
// and the serial numbers and UUID of product, board and chassis. They are read in-process
// when the program runs as root, or by an elevated copy (--root-collect) that prints them in
// the line-oriented exchange text which the window parses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

// The firmware's SMBIOS table as the kernel exports it: only root may read it.
constexpr const char* smbios_table_path = "/sys/firmware/dmi/tables/DMI";

// One SMBIOS memory device; everything is display-ready text except the size.
struct MemoryModule {
    std::string locator;
    std::string bank;
    uint64_t size_bytes = 0; // 0: empty slot
    std::string type;
    std::string form_factor;
    std::string speed;            // "4800 MT/s"
    std::string configured_speed; // "4800 MT/s"
    std::string manufacturer;
    std::string part_number;
    std::string serial;
    std::string asset_tag;
    std::string rank;        // "2"
    std::string data_width;  // "64 bit"
    std::string total_width; // "72 bit"
    std::string voltage;     // "1.2 V", always with "." (see display_voltage)

    bool operator==(const MemoryModule&) const = default;
};

struct RootData {
    bool available = false;
    std::string error;
    std::vector<MemoryModule> memory; // table order, empty slots included
    std::string product_serial;
    std::string product_uuid;
    std::string board_serial;
    std::string chassis_serial;
    uint64_t max_capacity = 0; // bytes; 0: unknown
    std::string num_slots;     // empty: unknown

    // The process's record.
    static RootData& instance();

    // Reads the local machine (or the capture under QUARVEL_SYSROOT); replaces everything.
    void collect_as_root();
    // Replaces the memory fields from an SMBIOS structure table.
    void read_smbios_table(std::string_view table);

    std::string serialize() const;
    // Replaces the record's content from an exchange text; returns the new `available`.
    bool parse(const std::string& text);
};

// A module's voltage ("1.35 V") with the separators of the language in force.
std::string display_voltage(const std::string& text);

// Exchange-text field escaping: '|' as "\p", newline as "\n", backslash as "\\".
std::string escape_field(std::string_view s);
std::string unescape_field(std::string_view s);

} // namespace hw
