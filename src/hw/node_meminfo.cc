#include "hw/node_meminfo.h"

#include "util.h"

#include <limits>

namespace hw {

std::vector<std::pair<std::string, uint64_t>> parse_node_meminfo(std::string_view text) {
    std::vector<std::pair<std::string, uint64_t>> out;
    for (const auto& line : util::split(text, '\n')) {
        auto w = util::split_ws(line);
        if (w.size() != 5 || w[0] != "Node" || !util::all_digits(w[1]) || w[4] != "kB") continue;
        if (w[2].size() < 2 || w[2].back() != ':' || !util::all_digits(w[3])) continue;
        uint64_t kb = util::to_u64(w[3], std::numeric_limits<uint64_t>::max());
        if (kb > std::numeric_limits<uint64_t>::max() / 1024) continue;
        out.emplace_back(util::valid_utf8(w[2].substr(0, w[2].size() - 1)), kb * 1024);
    }
    return out;
}

} // namespace hw
