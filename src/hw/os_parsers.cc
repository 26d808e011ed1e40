#include "hw/os_parsers.h"

#include "util.h"

namespace hw {

namespace {

// "12.34" or "12": what the kernel writes for loads and seconds. Anything else (signs,
// exponents, "nan") is refused before a number parser can make sense of it.
bool plain_decimal(std::string_view s) {
    size_t dot = s.find('.');
    if (dot == std::string_view::npos) return util::all_digits(s);
    return util::all_digits(s.substr(0, dot)) && util::all_digits(s.substr(dot + 1));
}

} // namespace

std::string OsRelease::get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

std::string os_release_value(std::string_view raw) {
    std::string v = util::trim(raw);
    if (v.size() < 2) return v;
    char q = v.front();
    if ((q != '"' && q != '\'') || v.back() != q) return v;
    std::string_view inner = std::string_view(v).substr(1, v.size() - 2);
    if (q == '\'') return std::string(inner);
    std::string out;
    for (size_t i = 0; i < inner.size(); ++i) {
        char c = inner[i];
        if (c == '\\' && i + 1 < inner.size()) {
            char next = inner[i + 1];
            if (next == '"' || next == '\\' || next == '$' || next == '`') {
                out += next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

void parse_os_release(const std::vector<std::string>& lines, OsRelease& table) {
    for (const auto& raw : lines) {
        std::string line = util::trim(raw);
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = util::trim(std::string_view(line).substr(0, eq));
        if (key.empty()) continue;
        table.values.emplace(util::valid_utf8(key),
                             util::valid_utf8(os_release_value(line.substr(eq + 1))));
    }
}

std::optional<LoadAverage> parse_loadavg(std::string_view text) {
    auto f = util::split_ws(text);
    if (f.size() < 5) return std::nullopt;
    LoadAverage la;
    if (plain_decimal(f[0]) && plain_decimal(f[1]) && plain_decimal(f[2])) {
        // A load beyond max_load is none the kernel wrote, and showing it filled the row with
        // hundreds of digits.
        std::array<double, 3> loads{};
        bool possible = true;
        for (size_t i = 0; i < 3; ++i) {
            loads[i] = util::to_double(f[i], 0);
            possible = possible && loads[i] <= max_load;
        }
        if (possible) la.loads = loads;
    }
    size_t slash = f[3].find('/');
    if (slash != std::string::npos && util::all_digits(f[3].substr(0, slash)) &&
        util::all_digits(f[3].substr(slash + 1)))
        la.tasks = f[3];
    if (util::all_digits(f[4])) la.last_pid = f[4];
    return la;
}

std::optional<uint64_t> parse_uptime(std::string_view text) {
    auto f = util::split_ws(text);
    if (f.empty() || !plain_decimal(f[0])) return std::nullopt;
    double seconds = util::to_double(f[0], -1);
    // Beyond this a conversion to whole seconds would overflow.
    if (seconds < 0 || seconds >= 9.0e18) return std::nullopt;
    return static_cast<uint64_t>(seconds);
}

std::optional<int64_t> parse_btime(const std::vector<std::string>& stat_lines) {
    for (const auto& line : stat_lines) {
        if (!util::starts_with(line, "btime ")) continue;
        int64_t t = util::to_i64(line.substr(6), -1);
        if (t <= 0) return std::nullopt;
        return t;
    }
    return std::nullopt;
}

} // namespace hw
