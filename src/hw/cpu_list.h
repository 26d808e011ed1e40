// The kernel's two ways of writing a set of CPUs: lists ("0-3,8,10-11") and hexadecimal
// masks ("00000000,0000ff0f", least significant word last).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hw {

// A range contributes at most this many numbers, and a whole text at most
// cpu_list_total_limit, so a garbage file cannot exhaust memory.
constexpr int cpu_list_range_limit = 4096;
constexpr size_t cpu_list_total_limit = 65536;

// CPU numbers in the order of the text; empty parts are skipped and numbers that do not parse
// count as 0, as the kernel never writes either.
std::vector<int> parse_cpu_list(std::string_view text);

// The CPUs whose bits are set, ascending. Empty when any word is not hexadecimal.
std::vector<int> parse_cpu_mask(std::string_view text);

// Sorted, duplicates removed, negatives dropped.
std::vector<int> cpu_set(std::vector<int> cpus);

// The kernel's list syntax for a set of CPUs: "0-3,8". Input in any order.
std::string format_cpu_list(std::vector<int> cpus);

// The same set written the same way whatever the source text looked like; a list text is
// preferred, the mask is the fallback of old kernels. Empty when neither says anything.
std::string canonical_cpu_list(std::string_view list_text, std::string_view mask_text);

} // namespace hw
