#include "hw/root_data.h"

#include "hw/memory_parsers.h"
#include "hw/smbios_decoder.h"
#include "util.h"

#include <set>

namespace hw {

namespace {

const char* const dmi_id_dir = "/sys/class/dmi/id/";
const char* const table_not_readable = "SMBIOS table not readable";

constexpr size_t module_fields = 15;

// The standard's code names, with its "Unknown" treated like a missing value.
std::string code_name(const std::string& name) {
    return smbios::is_placeholder(name) ? std::string() : name;
}

std::string with_unit(uint64_t v, const char* unit) {
    // Plain integers: speeds and widths read like part names ("4800 MT/s"), never grouped.
    return v ? std::to_string(v) + unit : std::string();
}

// Millivolts with as many decimals as the value needs: 1.2 V, 1.35 V, 1.125 V. The record
// and the exchange text hold this one form whatever the language; display_voltage puts the
// language's separators in, so a text read back is never taken for a different number.
std::string voltage_text(uint16_t mv) {
    if (mv == 0) return {};
    int decimals = mv % 100 == 0 ? 1 : mv % 10 == 0 ? 2 : 3;
    std::string frac = std::to_string(1000 + mv % 1000).substr(1, static_cast<size_t>(decimals));
    return std::to_string(mv / 1000) + "." + frac + " V";
}

MemoryModule to_module(const smbios::MemoryDevice& d) {
    MemoryModule m;
    m.locator = d.locator;
    m.bank = d.bank;
    m.size_bytes = d.size_bytes;
    m.type = code_name(smbios::memory_type_name(d.memory_type));
    m.form_factor = code_name(smbios::form_factor_name(d.form_factor));
    m.speed = with_unit(d.speed, " MT/s");
    m.configured_speed = with_unit(d.configured_speed, " MT/s");
    m.manufacturer = d.manufacturer;
    m.part_number = d.part_number;
    m.serial = d.serial;
    m.asset_tag = d.asset_tag;
    m.rank = with_unit(d.rank, "");
    m.data_width = with_unit(d.data_width, " bit");
    m.total_width = with_unit(d.total_width, " bit");
    m.voltage = voltage_text(d.configured_voltage_mv);
    return m;
}

// Fields arrive from another process; what the interface shows must be valid UTF-8.
std::string shown(std::string_view field) {
    return util::valid_utf8(unescape_field(field));
}

std::string read_identity(const char* name) {
    return util::read_text(std::string(dmi_id_dir) + name);
}

} // namespace

RootData& RootData::instance() {
    static RootData data;
    return data;
}

void RootData::read_smbios_table(std::string_view table) {
    smbios::MemoryTables tables = smbios::decode_memory(smbios::split_structures(table));

    // Only arrays of system memory count: a flash-ROM array's "SYSTEM ROM" device is no
    // memory module. Tables that label no array so are taken whole.
    bool any_system = false;
    for (const auto& a : tables.arrays)
        if (a.use == smbios::array_use_system_memory) any_system = true;

    std::set<uint16_t> arrays;
    uint64_t capacity = 0;
    uint64_t slots = 0;
    for (const auto& a : tables.arrays) {
        if (any_system && a.use != smbios::array_use_system_memory) continue;
        arrays.insert(a.handle);
        capacity = saturating_add(capacity, a.max_capacity_bytes);
        slots += a.num_devices;
    }
    max_capacity = capacity;
    num_slots = slots ? std::to_string(slots) : std::string();

    memory.clear();
    for (const auto& d : tables.devices) {
        if (any_system && !arrays.count(d.array_handle)) continue;
        memory.push_back(to_module(d));
    }
}

void RootData::collect_as_root() {
    *this = RootData();
    product_serial = read_identity("product_serial");
    product_uuid = read_identity("product_uuid");
    board_serial = read_identity("board_serial");
    chassis_serial = read_identity("chassis_serial");

    std::string table = util::read_file_raw(smbios_table_path);
    if (table.empty()) {
        error = table_not_readable;
        available = !product_serial.empty() || !board_serial.empty();
        return;
    }
    read_smbios_table(table);
    available = true;
}

std::string RootData::serialize() const {
    std::string out = "V 1\n";
    if (!error.empty()) out += "E " + escape_field(error) + "\n";
    out += "D product_serial|" + escape_field(product_serial) + "\n";
    out += "D product_uuid|" + escape_field(product_uuid) + "\n";
    out += "D board_serial|" + escape_field(board_serial) + "\n";
    out += "D chassis_serial|" + escape_field(chassis_serial) + "\n";
    out += "A " + std::to_string(max_capacity) + "|" + escape_field(num_slots) + "\n";
    for (const auto& m : memory) {
        const std::string fields[module_fields] = {
            escape_field(m.locator),          escape_field(m.bank),
            std::to_string(m.size_bytes),     escape_field(m.type),
            escape_field(m.form_factor),      escape_field(m.speed),
            escape_field(m.configured_speed), escape_field(m.manufacturer),
            escape_field(m.part_number),      escape_field(m.serial),
            escape_field(m.asset_tag),        escape_field(m.rank),
            escape_field(m.data_width),       escape_field(m.total_width),
            escape_field(m.voltage),
        };
        out += "M ";
        for (size_t i = 0; i < module_fields; ++i) {
            if (i) out += '|';
            out += fields[i];
        }
        out += '\n';
    }
    return out;
}

bool RootData::parse(const std::string& text) {
    memory.clear();
    error.clear();
    bool saw_version = false;
    for (const auto& line : util::split(text, '\n')) {
        if (line.size() < 2) continue;
        std::string rest = line.substr(2);
        switch (line[0]) {
        case 'V':
            saw_version = true;
            break;
        case 'E':
            error = shown(rest);
            break;
        case 'D': {
            auto f = util::split(rest, '|');
            if (f.size() < 2) break;
            std::string value = shown(f[1]);
            if (f[0] == "product_serial")
                product_serial = value;
            else if (f[0] == "product_uuid")
                product_uuid = value;
            else if (f[0] == "board_serial")
                board_serial = value;
            else if (f[0] == "chassis_serial")
                chassis_serial = value;
            break;
        }
        case 'A': {
            auto f = util::split(rest, '|');
            max_capacity = util::to_u64(f[0], 0);
            if (f.size() >= 2) num_slots = shown(f[1]);
            break;
        }
        case 'M': {
            auto f = util::split(rest, '|');
            if (f.size() < module_fields) break;
            MemoryModule m;
            m.locator = shown(f[0]);
            m.bank = shown(f[1]);
            m.size_bytes = util::to_u64(f[2], 0);
            m.type = shown(f[3]);
            m.form_factor = shown(f[4]);
            m.speed = shown(f[5]);
            m.configured_speed = shown(f[6]);
            m.manufacturer = shown(f[7]);
            m.part_number = shown(f[8]);
            m.serial = shown(f[9]);
            m.asset_tag = shown(f[10]);
            m.rank = shown(f[11]);
            m.data_width = shown(f[12]);
            m.total_width = shown(f[13]);
            m.voltage = shown(f[14]);
            memory.push_back(std::move(m));
            break;
        }
        default:
            break;
        }
    }
    // Any protected fact counts: a machine whose table holds no module and whose serials are
    // blank (many virtual machines) was still read, and its elevation must not look failed.
    bool has_data = !memory.empty() || !product_serial.empty() || !board_serial.empty() ||
                    !product_uuid.empty() || !chassis_serial.empty() || max_capacity != 0 ||
                    !num_slots.empty();
    available = saw_version && has_data;
    return available;
}

std::string display_voltage(const std::string& text) {
    const std::string unit = " V";
    if (!util::ends_with(text, unit)) return text;
    std::string number = text.substr(0, text.size() - unit.size());
    size_t dot = number.find('.');
    std::string_view whole = std::string_view(number).substr(0, dot);
    std::string_view frac =
        dot == std::string::npos ? std::string_view() : std::string_view(number).substr(dot + 1);
    // Only the plain form the record holds; anything else is shown as it came.
    if (!util::all_digits(whole) || (dot != std::string::npos && !util::all_digits(frac)) ||
        whole.size() > 6 || frac.size() > 6)
        return text;
    return util::fmt_double(util::to_double(number, 0), static_cast<int>(frac.size())) + unit;
}

std::string escape_field(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '|':
            out += "\\p";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescape_field(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char next = s[i + 1];
            if (next == 'p' || next == 'n' || next == '\\') {
                out += next == 'p' ? '|' : next == 'n' ? '\n' : '\\';
                ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

} // namespace hw
