// Names of Arm processors from the implementer and part numbers the kernel writes into
// /proc/cpuinfo ("CPU implementer : 0x41", "CPU part : 0xd0c"). Arm servers and cloud
// machines booted through ACPI write no other name for their processor.
#pragma once

#include <string>
#include <string_view>

namespace hw {

// "ARM Neoverse-N1"; the implementer's name alone for a part not listed; empty when the
// implementer is not listed or a number does not read.
std::string arm_cpu_name(std::string_view implementer, std::string_view part);

} // namespace hw
