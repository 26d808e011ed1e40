// Pure helpers of the system branch: the texts firmware vendors leave in unfilled DMI fields,
// the SMBIOS enclosure names, hypervisor signatures and the Secure Boot variable. The
// collector reads the files; these only judge what was read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

// True for a DMI text that only says the vendor never filled the field ("To Be Filled By
// O.E.M.", "Default string", "System Serial Number" …), compared without regard to case.
bool is_dmi_placeholder(std::string_view text);

// A product UUID made only of 0 or only of F digits: the firmware has no UUID to give.
bool is_unset_uuid(std::string_view text);

// The SMBIOS enclosure name of a chassis type (1 to 36); empty for any other number.
std::string chassis_name(int64_t type);

// The hypervisor named by the lower-cased "sys_vendor product_name" of a guest, or empty.
std::string hypervisor_from_dmi(std::string_view haystack_lower);

// True when the first "flags" line of /proc/cpuinfo lists the hypervisor flag, which x86
// processors report when they run under one.
bool cpuinfo_marks_hypervisor(std::string_view cpuinfo);

// The state in an efivarfs file of the SecureBoot variable: four attribute bytes, then the
// variable's one-byte value. Nothing when the file is too short to hold the value.
std::optional<bool> secure_boot_state(std::string_view efivar_bytes);

} // namespace hw
