#include "hw/swap_table.h"

#include "util.h"

#include <sstream>

namespace hw {

std::vector<SwapEntry> parse_swaps(std::string_view text) {
    std::vector<SwapEntry> out;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        // Filename Type Size Used Priority, separated by runs of blanks; the name arrives
        // with its own blanks escaped, so splitting on white space is safe.
        std::istringstream fields(line);
        std::string path, type, size, used, priority;
        if (!(fields >> path >> type >> size >> used >> priority)) continue;
        constexpr uint64_t bad = UINT64_MAX;
        SwapEntry e;
        e.path = util::unescape_octal(path);
        e.type = type;
        e.size_kib = util::to_u64(size, bad);
        e.used_kib = util::to_u64(used, bad);
        e.priority = util::to_i64(priority, INT64_MIN);
        if (e.size_kib == bad || e.used_kib == bad || e.priority == INT64_MIN) continue;
        if (e.path.empty() || e.path[0] != '/') continue;
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace hw
