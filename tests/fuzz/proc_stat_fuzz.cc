// Kernel "stat" files: whitespace-separated counters after a name, as in a block device's
// stat file and the lines of /proc/stat. (The process list's own /proc/PID/stat reader is
// fuzzed beside it where it lives.) Whatever the text, a parse either fails or gives counters
// that read back from the text itself.
#include "hw/block_stat.h"
#include "hw/os_parsers.h"
#include "util.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
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
    return 0;
}
