// Fuzzes the parsers of the operating-system branch with arbitrary file contents: os-release
// values stay valid UTF-8 and never grow beyond their line, and the /proc parsers accept only
// what they can show.
#include "fuzz_support.h"
#include "hw/os_parsers.h"
#include "hw/system_parsers.h"
#include "util.h"

#include <string>

using fuzz::check;

namespace {

bool digits_and(const std::string& s, char extra) {
    for (char c : s)
        if ((c < '0' || c > '9') && c != extra) return false;
    return true;
}

} // namespace

FUZZ_TARGET(text) {
    std::vector<std::string> lines = util::split(text, '\n');

    hw::OsRelease os;
    hw::parse_os_release(lines, os);
    for (const auto& [key, value] : os.values) {
        check(!key.empty() && util::valid_utf8(key) == key);
        check(util::valid_utf8(value) == value);
        check(value.size() <= text.size() * 3); // U+FFFD for each bad byte at most
    }

    if (auto la = hw::parse_loadavg(text)) {
        if (la->loads)
            for (double v : *la->loads)
                check(v >= 0 && v <= hw::max_load);
        check(digits_and(la->tasks, '/') && digits_and(la->last_pid, 0));
    }
    hw::parse_uptime(text);
    if (auto bt = hw::parse_btime(lines)) check(*bt > 0);

    hw::secure_boot_state(text);
    check(hw::chassis_name(util::to_i64(text, 0)).size() < 32);
    hw::hypervisor_from_dmi(util::lower(text));
    hw::cpuinfo_marks_hypervisor(text);
}
