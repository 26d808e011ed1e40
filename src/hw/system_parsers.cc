#include "hw/system_parsers.h"

#include "util.h"

#include <array>
#include <utility>

namespace hw {

namespace {

// Texts of the vendors' firmware templates; a machine that still carries them tells nothing.
constexpr std::array<std::string_view, 25> placeholders = {
    "to be filled by o.e.m.",
    "to be filled by oem",
    "system manufacturer",
    "system product name",
    "system version",
    "default string",
    "not applicable",
    "none",
    "not specified",
    "unknown",
    "o.e.m.",
    "oem",
    "x.x.",
    "0123456789",
    "system serial number",
    "chassis manufacture",
    "empty",
    // Further template texts met on boards of the same firmware families.
    "not available",
    "n/a",
    "chassis version",
    "chassis serial number",
    "base board serial number",
    "asset-1234567890",
    "no asset tag",
    "type1productconfigid",
};

constexpr std::array<std::string_view, 36> chassis_names = {
    "Other",
    "Unknown",
    "Desktop",
    "Low Profile Desktop",
    "Pizza Box",
    "Mini Tower",
    "Tower",
    "Portable",
    "Laptop",
    "Notebook",
    "Hand Held",
    "Docking Station",
    "All-in-One",
    "Sub Notebook",
    "Space-saving",
    "Lunch Box",
    "Main Server Chassis",
    "Expansion Chassis",
    "SubChassis",
    "Bus Expansion Chassis",
    "Peripheral Chassis",
    "RAID Chassis",
    "Rack Mount Chassis",
    "Sealed-case PC",
    "Multi-system Chassis",
    "Compact PCI",
    "Advanced TCA",
    "Blade",
    "Blade Enclosure",
    "Tablet",
    "Convertible",
    "Detachable",
    "IoT Gateway",
    "Embedded PC",
    "Mini PC",
    "Stick PC",
};

// The first needle found in "sys_vendor product_name" names the hypervisor. Guests of Red
// Hat's KVM say "Red Hat KVM"; plain QEMU guests say "QEMU" whatever accelerates them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 13> hypervisors = {{
    {"kvm", "KVM"},
    {"qemu", "QEMU"},
    {"vmware", "VMware"},
    {"virtualbox", "Oracle VirtualBox"},
    {"innotek", "Oracle VirtualBox"},
    {"xen", "Xen"},
    {"bochs", "Bochs"},
    {"parallels", "Parallels"},
    {"microsoft corporation virtual machine", "Microsoft Hyper-V"},
    {"hyper-v", "Microsoft Hyper-V"},
    {"apple virtualization", "Apple Virtualization"},
    {"amazon ec2", "Amazon EC2"},
    {"google compute engine", "Google Compute Engine"},
}};

} // namespace

bool is_dmi_placeholder(std::string_view text) {
    std::string l = util::lower(util::trim(text));
    for (auto p : placeholders)
        if (l == p) return true;
    return false;
}

bool is_unset_uuid(std::string_view text) {
    std::string t = util::lower(util::trim(text));
    char digit = 0;
    for (char c : t) {
        if (c == '-') continue;
        if (c != '0' && c != 'f') return false;
        if (digit && c != digit) return false;
        digit = c;
    }
    return digit != 0;
}

std::string chassis_name(int64_t type) {
    if (type < 1 || type > static_cast<int64_t>(chassis_names.size())) return {};
    return std::string(chassis_names[static_cast<size_t>(type - 1)]);
}

std::string hypervisor_from_dmi(std::string_view haystack_lower) {
    for (const auto& [needle, name] : hypervisors)
        if (haystack_lower.find(needle) != std::string_view::npos) return std::string(name);
    return {};
}

bool cpuinfo_marks_hypervisor(std::string_view cpuinfo) {
    // Only the first processor's flags line is read: the flag is the same on all of them, and a
    // machine of thousands of processors has as many blocks.
    size_t at = util::starts_with(cpuinfo, "flags") ? 0 : cpuinfo.find("\nflags");
    if (at == std::string_view::npos) return false;
    if (at > 0) ++at;
    std::string_view line = cpuinfo.substr(at, cpuinfo.find('\n', at) - at);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    // Whole words: a longer flag that merely begins with the name does not count.
    for (const auto& word : util::split_ws(line.substr(colon + 1)))
        if (word == "hypervisor") return true;
    return false;
}

std::optional<bool> secure_boot_state(std::string_view efivar_bytes) {
    if (efivar_bytes.size() <= 4) return std::nullopt;
    return efivar_bytes[4] != 0;
}

} // namespace hw
