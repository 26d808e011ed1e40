// The processor parsers on arbitrary kernel text: /proc/cpuinfo, CPU lists and masks, cache
// sizes and node meminfo. Every result must be bounded and valid UTF-8 where it is shown.
#include "fuzz_support.h"
#include "hw/cpu_cache.h"
#include "hw/cpu_list.h"
#include "hw/cpu_topology.h"
#include "hw/cpuinfo_parser.h"
#include "hw/node_meminfo.h"
#include "util.h"

#include <algorithm>
#include <functional>
#include <string>

FUZZ_TARGET(text) {

    auto blocks = hw::parse_cpuinfo(text);
    for (const auto& b : blocks)
        for (const auto& [k, v] : b.fields)
            if (util::valid_utf8(k) != k || util::valid_utf8(v) != v) std::abort();
    std::string model = hw::cpuinfo_model(blocks);
    if (util::valid_utf8(model) != model) std::abort();
    hw::block_for_cpu(blocks, 0);
    hw::split_flags(hw::first_field(blocks, "flags"));

    for (const auto& [key, bytes] : hw::parse_node_meminfo(text))
        if (util::valid_utf8(key) != key) std::abort();
    hw::parse_cache_size(text);

    auto list = hw::parse_cpu_list(text);
    if (list.size() > hw::cpu_list_total_limit) std::abort();
    auto mask = hw::parse_cpu_mask(text);
    if (mask.size() > hw::cpu_list_total_limit) std::abort();
    if (std::adjacent_find(mask.begin(), mask.end(), std::greater_equal<int>()) != mask.end())
        std::abort(); // ascending, each CPU once
    // Lists near the limit cost milliseconds to sort under the fuzzer's instrumentation; the
    // parsers above have met them, the consumers below learn nothing new from them.
    if (list.size() > 256 || mask.size() > 256) return;
    std::string canonical = hw::format_cpu_list(list);
    // The canonical form reads back as the same set.
    if (hw::format_cpu_list(hw::parse_cpu_list(canonical)) != canonical) std::abort();

    hw::CacheTally tally;
    hw::CacheEntry e;
    e.level = 2;
    e.type = "Unified";
    e.size_bytes = hw::parse_cache_size(text);
    e.shared_list = text;
    tally.add(0, e);
    tally.add(1, e);
    for (const auto& t : tally.totals())
        hw::cache_total_text(t);

    std::vector<hw::CpuTopology> topo = {{0, text, text, canonical}, {1, "0", "1", ""}};
    hw::count_cores(topo);
    hw::count_sockets(topo, blocks);
}
