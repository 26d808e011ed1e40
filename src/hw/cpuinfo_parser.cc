#include "hw/cpuinfo_parser.h"

#include "util.h"

#include <algorithm>
#include <cstdint>

namespace hw {

namespace {
const std::string no_value;
} // namespace

const std::string& CpuInfoBlock::get(std::string_view key) const {
    for (const auto& f : fields)
        if (f.first == key) return f.second;
    return no_value;
}

bool CpuInfoBlock::has(std::string_view key) const {
    for (const auto& f : fields)
        if (f.first == key) return true;
    return false;
}

const std::string& CpuInfoBlock::get_any(std::span<const std::string_view> keys) const {
    for (std::string_view key : keys)
        if (const std::string& v = get(key); !v.empty()) return v;
    return no_value;
}

std::vector<CpuInfoBlock> parse_cpuinfo(std::string_view text) {
    std::vector<CpuInfoBlock> blocks;
    CpuInfoBlock current;
    auto finish = [&] {
        if (!current.fields.empty()) blocks.push_back(std::move(current));
        current = CpuInfoBlock{};
    };
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view t = util::trim_view(text.substr(start, nl - start));
        start = nl + 1;
        if (t.empty()) {
            finish();
            continue;
        }
        size_t colon = t.find(':');
        if (colon == std::string_view::npos) continue;
        current.fields.emplace_back(util::valid_utf8(util::trim_view(t.substr(0, colon))),
                                    util::valid_utf8(util::trim_view(t.substr(colon + 1))));
    }
    finish();
    return blocks;
}

std::string first_field(const std::vector<CpuInfoBlock>& blocks, std::string_view key) {
    for (const auto& b : blocks) {
        const std::string& v = b.get(key);
        if (!v.empty()) return v;
    }
    return {};
}

std::string first_field(const std::vector<CpuInfoBlock>& blocks,
                        std::span<const std::string_view> keys) {
    for (const auto& b : blocks)
        if (const std::string& v = b.get_any(keys); !v.empty()) return v;
    return {};
}

bool is_x86_cpuinfo(const std::vector<CpuInfoBlock>& blocks) {
    return !first_field(blocks, "cpu family").empty() && !first_field(blocks, "flags").empty();
}

const CpuInfoBlock* block_for_cpu(const std::vector<CpuInfoBlock>& blocks, int cpu) {
    if (cpu < 0) return nullptr;
    for (const char* key : {"processor", "cpu number"}) {
        for (const auto& b : blocks) {
            const std::string& v = b.get(key);
            if (util::all_digits(v) && util::to_u64(v, UINT64_MAX) == static_cast<uint64_t>(cpu))
                return &b;
        }
    }
    return nullptr;
}

std::string cpuinfo_model(const std::vector<CpuInfoBlock>& blocks) {
    // The processor's own name first: x86 and newer Arm kernels write "model name", older
    // 32-bit Arm kernels "Processor", POWER and SPARC "cpu", MIPS "cpu model", RISC-V
    // "uarch", LoongArch "Model Name". Only then the board ("Model" on Raspberry Pi kernels,
    // "Hardware" on Arm).
    for (const char* key : {"model name", "Processor", "cpu", "cpu model", "uarch", "Model Name",
                            "Model", "Hardware"}) {
        std::string v = first_field(blocks, key);
        if (!v.empty()) return v;
    }
    return {};
}

std::vector<std::string> split_flags(std::string_view text) {
    std::vector<std::string> out = util::split_ws(text);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace hw
