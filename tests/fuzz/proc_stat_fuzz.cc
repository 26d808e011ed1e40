// Kernel "stat" files: a block device's stat file, the boot time in /proc/stat, and
// /proc/uptime. (The monitor bar's processor lines and the process view's /proc/PID/stat have
// targets of their own.) Whatever the text, a parse either fails or gives counters that read
// back from the text itself, and the disk cards' rates stay finite and never negative.
#include "fuzz_support.h"
#include "hw/block_stat.h"
#include "hw/os_parsers.h"
#include "live/disk_rate_table.h"
#include "util.h"

#include <cmath>

#include <string>

FUZZ_TARGET(text) {
    if (auto st = hw::parse_block_stat(text)) {
        auto words = util::split_ws(text);
        // Every counter stands in the text as written.
        if (words.size() < 4 || util::to_u64(words[0], 0) != st->reads ||
            util::to_u64(words[2], 0) != st->read_sectors)
            std::abort();
    }
    auto lines = util::split(text, '\n');
    if (auto bt = hw::parse_btime(lines))
        if (*bt <= 0) std::abort();
    if (auto up = hw::parse_uptime(text))
        if (*up >= 9000000000000000000ull) std::abort();

    // Each line one reading of the disk's stat file, a second apart.
    live::DiskRateEntry entry;
    for (const auto& line : lines) {
        entry = live::next_disk_rate(entry, line, 1.0);
        for (double r : {entry.rate.read_bps, entry.rate.write_bps})
            if (!std::isfinite(r) || r < 0) std::abort();
    }
}
