// Parsers of the files behind the operating-system branch: os-release, /proc/loadavg,
// /proc/uptime and the boot time in /proc/stat. Text in, plain values out.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

struct OsRelease {
    std::map<std::string, std::string> values;

    bool empty() const { return values.empty(); }
    // The value, or empty when the key is absent.
    std::string get(const std::string& key) const;
};

// Adds the assignments of an os-release file that the table does not hold yet, so the first
// occurrence of a key wins. Comment lines and lines without '=' are skipped.
void parse_os_release(const std::vector<std::string>& lines, OsRelease& table);

// A value as the file's shell-like syntax means it: surrounding double or single quotes
// removed, and inside double quotes the backslash escapes \" \\ \$ \` decoded.
std::string os_release_value(std::string_view raw);

struct LoadAverage {
    // The 1, 5 and 15 minute averages; nothing when one of them is not a plain number.
    std::optional<std::array<double, 3>> loads;
    std::string tasks;    // "running/total" as written; empty when not of that form
    std::string last_pid; // empty when not a number
};

// The largest load the kernel can write: it keeps each in an unsigned long with 11 bits of
// fraction, so the whole part of any it wrote stays within 2^53.
constexpr double max_load = 9007199254740992.0;

// /proc/loadavg; nothing when it has fewer than five fields.
std::optional<LoadAverage> parse_loadavg(std::string_view text);

// Whole seconds since boot, the first figure of /proc/uptime.
std::optional<uint64_t> parse_uptime(std::string_view text);

// The boot time in seconds since the epoch from the "btime" line of /proc/stat.
std::optional<int64_t> parse_btime(const std::vector<std::string>& stat_lines);

} // namespace hw
