#include "hw/cpu_list.h"

#include "util.h"

#include <algorithm>
#include <climits>

namespace hw {

namespace {

int to_cpu_number(std::string_view s) {
    int64_t v = util::to_i64(s, 0);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

std::vector<int> parse_cpu_list(std::string_view text) {
    std::vector<int> out;
    for (const auto& raw : util::split(text, ',')) {
        std::string part = util::trim(raw);
        if (part.empty()) continue;
        // A leading "-" belongs to the first number, so the range dash is searched after it.
        size_t dash = part.find('-', 1);
        if (dash == std::string::npos) {
            if (out.size() >= cpu_list_total_limit) break;
            out.push_back(to_cpu_number(part));
            continue;
        }
        int64_t first = to_cpu_number(std::string_view(part).substr(0, dash));
        int64_t last = to_cpu_number(std::string_view(part).substr(dash + 1));
        int64_t taken = 0;
        for (int64_t n = first; n <= last && taken < cpu_list_range_limit; ++n, ++taken) {
            if (out.size() >= cpu_list_total_limit) return out;
            out.push_back(static_cast<int>(n));
        }
    }
    return out;
}

std::vector<int> parse_cpu_mask(std::string_view text) {
    std::string t = util::trim(text);
    if (t.empty()) return {};
    auto words = util::split(t, ',');
    if (words.size() * 32 > cpu_list_total_limit) return {};
    std::vector<int> out;
    // Words are 32 bits each, the most significant first; the first may be short. Walking
    // them from the last, and each word from its last digit, gives the CPUs in ascending
    // order without sorting.
    for (size_t w = 0; w < words.size(); ++w) {
        const std::string word = util::trim(words[words.size() - 1 - w]);
        if (word.empty() || word.size() > 8) return {};
        int base = static_cast<int>(w * 32);
        for (size_t i = 0; i < word.size(); ++i) {
            int d = util::hex_digit(word[word.size() - 1 - i]);
            if (d < 0) return {};
            for (int b = 0; b < 4; ++b)
                if (d & (1 << b)) out.push_back(base + static_cast<int>(i) * 4 + b);
        }
    }
    return out;
}

std::vector<int> cpu_set(std::vector<int> cpus) {
    cpus.erase(std::remove_if(cpus.begin(), cpus.end(), [](int n) { return n < 0; }), cpus.end());
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    return cpus;
}

std::string format_cpu_list(std::vector<int> cpus) {
    cpus = cpu_set(std::move(cpus));
    std::string out;
    for (size_t i = 0; i < cpus.size();) {
        size_t j = i;
        // Runs stop at the range limit so that what is written here always reads back whole.
        while (j + 1 < cpus.size() && cpus[j + 1] == cpus[j] + 1 &&
               j + 1 - i < static_cast<size_t>(cpu_list_range_limit))
            ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(cpus[i]);
        if (j > i) out += '-' + std::to_string(cpus[j]);
        i = j + 1;
    }
    return out;
}

std::string canonical_cpu_list(std::string_view list_text, std::string_view mask_text) {
    std::string list = util::trim(list_text);
    if (!list.empty()) return format_cpu_list(parse_cpu_list(list));
    return format_cpu_list(parse_cpu_mask(mask_text));
}

} // namespace hw
