// /proc/cpuinfo: paragraphs of "key : value" lines, one per processor on most
// architectures, with machine-wide paragraphs before or after them on some.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hw {

struct CpuInfoBlock {
    std::vector<std::pair<std::string, std::string>> fields; // in file order

    // The value of the first pair whose key is exactly `key`; empty when there is none.
    const std::string& get(std::string_view key) const;
    bool has(std::string_view key) const;
    // The value of the first of `keys` this paragraph has a value for.
    const std::string& get_any(std::span<const std::string_view> keys) const;
};

// Facts each architecture writes under its own key, in the order they are looked for.
// BogoMIPS: x86 "bogomips", Arm, LoongArch and MIPS "BogoMIPS", s390 "bogomips per cpu".
inline constexpr std::string_view BOGOMIPS_KEYS[] = {"bogomips", "BogoMIPS", "bogomips per cpu"};
// Address sizes: x86 "address sizes", LoongArch "Address Sizes".
inline constexpr std::string_view ADDRESS_SIZE_KEYS[] = {"address sizes", "Address Sizes"};
// The clock in MHz: x86 and MIPS "cpu MHz", LoongArch "CPU MHz", s390 "cpu MHz dynamic",
// POWER "clock" ("3425.000000MHz", which reads as its leading number).
inline constexpr std::string_view MHZ_KEYS[] = {"cpu MHz", "CPU MHz", "cpu MHz dynamic", "clock"};
// Feature flags: x86 "flags", Arm and LoongArch "Features", s390 "features".
inline constexpr std::string_view FLAG_KEYS[] = {"flags", "Features", "features"};

// Keys and values are trimmed (keys are padded with tabs or spaces) and made valid UTF-8;
// a line without ":" is ignored, a blank line ends a paragraph, empty paragraphs are dropped.
std::vector<CpuInfoBlock> parse_cpuinfo(std::string_view text);

// The first non-empty value of `key` in any paragraph. Machine-wide facts sit in the first
// paragraph on x86 but after the processors on 32-bit Arm, or before them on s390.
std::string first_field(const std::vector<CpuInfoBlock>& blocks, std::string_view key);
// The same for a fact with several keys: the first paragraph with a value for any of them.
std::string first_field(const std::vector<CpuInfoBlock>& blocks,
                        std::span<const std::string_view> keys);

// The paragraph of logical CPU `cpu`: the one whose "processor" (s390: "cpu number") is that
// number. Offline CPUs have none, so the position in the file says nothing.
const CpuInfoBlock* block_for_cpu(const std::vector<CpuInfoBlock>& blocks, int cpu);

// Whether the paragraphs are those of an x86 kernel: only it writes "cpu family" beside "flags".
bool is_x86_cpuinfo(const std::vector<CpuInfoBlock>& blocks);

// The processor's name as the kernel writes it on each architecture, else the board's name
// (Arm boards), else empty: the caller has the device tree as a last resort.
std::string cpuinfo_model(const std::vector<CpuInfoBlock>& blocks);

// Flag words of a "flags" / "Features" / "bugs" value: split at white space, sorted.
std::vector<std::string> split_flags(std::string_view text);

} // namespace hw
