#include "hw/arm_cpu_names.h"

#include "util.h"

#include <cstdint>

namespace hw {

namespace {

struct Implementer {
    uint32_t id;
    const char* name;
};

constexpr Implementer IMPLEMENTERS[] = {
    {0x41, "ARM"},       {0x42, "Broadcom"}, {0x43, "Cavium"}, {0x46, "Fujitsu"},
    {0x48, "HiSilicon"}, {0x4e, "NVIDIA"},   {0x50, "APM"},    {0x51, "Qualcomm"},
    {0x53, "Samsung"},   {0x56, "Marvell"},  {0x61, "Apple"},  {0x69, "Intel"},
    {0x6d, "Microsoft"}, {0x70, "Phytium"},  {0xc0, "Ampere"},
};

struct Part {
    uint32_t implementer;
    uint32_t id;
    const char* name;
};

// The cores a machine without a device tree is likely to have: servers, cloud machines and
// boards booted through UEFI.
constexpr Part PARTS[] = {
    {0x41, 0xc05, "Cortex-A5"},     {0x41, 0xc07, "Cortex-A7"},      {0x41, 0xc08, "Cortex-A8"},
    {0x41, 0xc09, "Cortex-A9"},     {0x41, 0xc0d, "Cortex-A17"},     {0x41, 0xc0e, "Cortex-A17"},
    {0x41, 0xc0f, "Cortex-A15"},    {0x41, 0xd01, "Cortex-A32"},     {0x41, 0xd03, "Cortex-A53"},
    {0x41, 0xd04, "Cortex-A35"},    {0x41, 0xd05, "Cortex-A55"},     {0x41, 0xd06, "Cortex-A65"},
    {0x41, 0xd07, "Cortex-A57"},    {0x41, 0xd08, "Cortex-A72"},     {0x41, 0xd09, "Cortex-A73"},
    {0x41, 0xd0a, "Cortex-A75"},    {0x41, 0xd0b, "Cortex-A76"},     {0x41, 0xd0c, "Neoverse-N1"},
    {0x41, 0xd0d, "Cortex-A77"},    {0x41, 0xd0e, "Cortex-A76AE"},   {0x41, 0xd40, "Neoverse-V1"},
    {0x41, 0xd41, "Cortex-A78"},    {0x41, 0xd42, "Cortex-A78AE"},   {0x41, 0xd43, "Cortex-A65AE"},
    {0x41, 0xd44, "Cortex-X1"},     {0x41, 0xd46, "Cortex-A510"},    {0x41, 0xd47, "Cortex-A710"},
    {0x41, 0xd48, "Cortex-X2"},     {0x41, 0xd49, "Neoverse-N2"},    {0x41, 0xd4a, "Neoverse-E1"},
    {0x41, 0xd4b, "Cortex-A78C"},   {0x41, 0xd4c, "Cortex-X1C"},     {0x41, 0xd4d, "Cortex-A715"},
    {0x41, 0xd4e, "Cortex-X3"},     {0x41, 0xd4f, "Neoverse-V2"},    {0x41, 0xd80, "Cortex-A520"},
    {0x41, 0xd81, "Cortex-A720"},   {0x41, 0xd82, "Cortex-X4"},      {0x41, 0xd84, "Neoverse-V3"},
    {0x41, 0xd85, "Cortex-X925"},   {0x41, 0xd87, "Cortex-A725"},    {0x41, 0xd8e, "Neoverse-N3"},
    {0x42, 0x516, "ThunderX2"},     {0x43, 0x0a1, "ThunderX-88XX"},  {0x43, 0x0a2, "ThunderX-81XX"},
    {0x43, 0x0a3, "ThunderX-83XX"}, {0x43, 0x0af, "ThunderX2-99xx"}, {0x46, 0x001, "A64FX"},
    {0x48, 0xd01, "Kunpeng-920"},   {0x4e, 0x003, "Denver 2"},       {0x4e, 0x004, "Carmel"},
    {0x50, 0x000, "X-Gene"},        {0x51, 0xc00, "Falkor"},         {0xc0, 0xac3, "Ampere-1"},
    {0xc0, 0xac4, "Ampere-1a"},
};

bool read_number(std::string_view text, uint32_t& out) {
    // The kernel writes both in hexadecimal with "0x"; nothing else is a number here.
    text = util::trim_view(text);
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    uint64_t v = util::parse_hex64(text.substr(2), UINT64_MAX);
    if (v > 0xfff) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

} // namespace

std::string arm_cpu_name(std::string_view implementer, std::string_view part) {
    uint32_t vendor_id = 0, part_id = 0;
    if (!read_number(implementer, vendor_id)) return {};
    const char* vendor = nullptr;
    for (const auto& i : IMPLEMENTERS)
        if (i.id == vendor_id) vendor = i.name;
    if (!vendor) return {};
    if (read_number(part, part_id))
        for (const auto& p : PARTS)
            if (p.implementer == vendor_id && p.id == part_id) {
                // "Ampere-1", not "Ampere Ampere-1".
                std::string_view name = p.name;
                return name.starts_with(vendor) ? std::string(name)
                                                : std::string(vendor) + " " + p.name;
            }
    return vendor;
}

} // namespace hw
