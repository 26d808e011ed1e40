// Parsing numbers out of kernel text and formatting numbers for display.
#include "util.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace util {

// The German conventions are the built-in default; start-up replaces them from the language.
std::string g_decimal = ",";
std::string g_group = ".";

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the leading decimal digits of `s`; false when there are none or they overflow.
bool read_digits(std::string_view s, uint64_t& out) {
    if (s.empty() || !is_digit(s[0])) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!is_digit(c)) break;
        unsigned d = static_cast<unsigned>(c - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

// The power of ten of the first significant digit of a decimal number as from_chars matched
// it ("123.4" 2, "0.05" -2, "1e-400" -400), held far beyond any double's range.
long decimal_magnitude(std::string_view s) {
    size_t i = 0;
    long whole_digits = 0, zeros_after_point = 0;
    bool significant = false;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        if (s[i] != '0') significant = true;
        if (significant) ++whole_digits;
    }
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && is_digit(s[i]); ++i) {
            if (s[i] != '0') significant = true;
            if (!significant) ++zeros_after_point;
        }
    }
    long magnitude = whole_digits > 0 ? whole_digits - 1 : -(zeros_after_point + 1);
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        const bool negative = i < s.size() && s[i] == '-';
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
        long exponent = 0;
        for (; i < s.size() && is_digit(s[i]); ++i)
            exponent = std::min(exponent * 10 + (s[i] - '0'), 100000L);
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude;
}

// Low bits of the leading hexadecimal number after an optional "0x"; false when none.
bool read_hex(std::string_view s, uint64_t& out) {
    std::string t = lower(trim(s));
    std::string_view v = t;
    if (starts_with(v, "0x")) v.remove_prefix(2);
    if (v.empty() || hex_digit(v[0]) < 0) return false;
    uint64_t acc = 0;
    for (char c : v) {
        int d = hex_digit(c);
        if (d < 0) break;
        acc = (acc << 4) | static_cast<unsigned>(d);
    }
    out = acc;
    return true;
}

// Puts the language's separators into a number printed in the C locale ("-1234.50"). Every
// figure of a report passes here, so the result is built in one string.
std::string apply_format(std::string_view c_number) {
    std::string out;
    out.reserve(c_number.size() + c_number.size() / 3 * g_group.size() + g_decimal.size());
    size_t at = 0;
    if (!c_number.empty() && (c_number[0] == '+' || c_number[0] == '-')) out += c_number[at++];
    const size_t dot = c_number.find('.', at);
    const size_t digits = (dot == std::string_view::npos ? c_number.size() : dot) - at;
    for (size_t i = 0; i < digits; ++i) {
        if (i > 0 && (digits - i) % 3 == 0) out += g_group;
        out += c_number[at + i];
    }
    if (dot != std::string_view::npos && dot + 1 < c_number.size())
        out.append(g_decimal).append(c_number.substr(dot + 1));
    return out;
}

// A number printed by to_chars with `args`, which needs neither the locale nor printf's
// parsing of a format, and given the language's separators.
template <typename... Args> std::string formatted(Args... args) {
    char buf[512];
    const auto [end, error] = std::to_chars(buf, buf + sizeof buf, args...);
    return apply_format(error == std::errc() ? std::string_view(buf, end - buf) : "");
}

std::string fmt_size(uint64_t bytes, double factor, const char* const units[7]) {
    if (static_cast<double>(bytes) < factor) return fmt_int(bytes) + " B";
    double v = static_cast<double>(bytes);
    int step = 0;
    while (v >= factor && step < 6) {
        v /= factor;
        ++step;
    }
    int decimals = v < 10 ? 2 : v < 100 ? 1 : 0;
    return fmt_double(v, decimals) + " " + units[step];
}

} // namespace

uint64_t to_u64(std::string_view s, uint64_t def) {
    std::string t = trim(s);
    std::string_view v = t;
    if (!v.empty() && v[0] == '+') v.remove_prefix(1);
    uint64_t out;
    return read_digits(v, out) ? out : def;
}

int64_t to_i64(std::string_view s, int64_t def) {
    std::string t = trim(s);
    std::string_view v = t;
    bool negative = false;
    if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
        negative = v[0] == '-';
        v.remove_prefix(1);
    }
    uint64_t mag;
    if (!read_digits(v, mag)) return def;
    constexpr uint64_t max_pos = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (mag > max_pos + 1) return def;
        return mag == max_pos + 1 ? std::numeric_limits<int64_t>::min()
                                  : -static_cast<int64_t>(mag);
    }
    return mag > max_pos ? def : static_cast<int64_t>(mag);
}

double to_double(std::string_view s, double def) {
    std::string t = trim(s);
    std::string_view v = t;
    if (!v.empty() && v[0] == '+') {
        v.remove_prefix(1);
        // from_chars would take the sign left behind: "+-5" is no number.
        if (!v.empty() && v[0] == '-') return def;
    }
    if (v.empty()) return def;
    double out = 0;
    auto res = std::from_chars(v.data(), v.data() + v.size(), out);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone when it does not fit; as the C routine does, a
        // number too large is ±HUGE_VAL and one too small is 0.
        const bool negative = v[0] == '-';
        const std::string_view number(v.data() + negative,
                                      static_cast<size_t>(res.ptr - v.data()) - negative);
        const double sign = negative ? -1 : 1;
        return decimal_magnitude(number) > 0 ? sign * std::numeric_limits<double>::infinity()
                                             : sign * 0.0;
    }
    return res.ec == std::errc() ? out : def;
}

uint32_t parse_hex(std::string_view s, uint32_t def) {
    uint64_t v;
    return read_hex(s, v) ? static_cast<uint32_t>(v) : def;
}

uint64_t parse_hex64(std::string_view s, uint64_t def) {
    uint64_t v;
    return read_hex(s, v) ? v : def;
}

std::string to_hex(uint32_t v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*x", digits, v);
    return buf;
}

void set_number_format(const std::string& decimal_sep, const std::string& group_sep) {
    if (!decimal_sep.empty()) g_decimal = decimal_sep;
    g_group = group_sep;
}

std::string fmt_int(uint64_t v) {
    return formatted(v);
}

std::string fmt_signed(int64_t v) {
    return formatted(v);
}

std::string fmt_double(double v, int decimals) {
    // As printf's "%.*f": a negative precision is none given, six places.
    return formatted(v, std::chars_format::fixed, decimals < 0 ? 6 : decimals);
}

std::string fmt_percent(double v, int decimals) {
    return fmt_double(v, decimals) + " %";
}

std::string fmt_bytes(uint64_t bytes) {
    static const char* const units[7] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    return fmt_size(bytes, 1024.0, units);
}

std::string fmt_bytes_si(uint64_t bytes) {
    static const char* const units[7] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    return fmt_size(bytes, 1000.0, units);
}

std::string fmt_bytes_both(uint64_t bytes) {
    if (bytes < 1024) return fmt_int(bytes) + " B";
    return fmt_bytes(bytes) + " (" + fmt_bytes_si(bytes) + ")";
}

std::string fmt_hz(uint64_t hz) {
    double v = static_cast<double>(hz);
    if (hz >= 1000000000ULL) return fmt_double(v / 1e9, 2) + " GHz";
    if (hz >= 1000000ULL) return fmt_double(v / 1e6, 0) + " MHz";
    if (hz >= 1000ULL) return fmt_double(v / 1000, 0) + " kHz";
    return fmt_int(hz) + " Hz";
}

std::string fmt_khz(uint64_t khz) {
    // A garbage value beyond the 64-bit range in Hz is shown saturated, never wrapped.
    if (khz > std::numeric_limits<uint64_t>::max() / 1000)
        return fmt_hz(std::numeric_limits<uint64_t>::max());
    return fmt_hz(khz * 1000);
}

std::string fmt_mhz(double mhz) {
    if (!(mhz > 0)) return {};
    double hz = std::floor(mhz * 1e6 + 0.5);
    if (hz >= 1.8e19) hz = 1.8e19;
    return fmt_hz(static_cast<uint64_t>(hz));
}

std::string fmt_duration(uint64_t seconds) {
    unsigned long long d = seconds / 86400, h = seconds % 86400 / 3600, m = seconds % 3600 / 60,
                       s = seconds % 60;
    char buf[64];
    if (d == 0)
        std::snprintf(buf, sizeof buf, "%02llu:%02llu:%02llu", h, m, s);
    else
        std::snprintf(buf, sizeof buf, "%llu d %02llu:%02llu:%02llu", d, h, m, s);
    return buf;
}

std::string fmt_columns(const std::vector<std::string>& tokens, size_t max_line_chars) {
    if (tokens.empty()) return {};
    size_t width = 0;
    for (auto& t : tokens)
        width = std::max(width, t.size());
    size_t column = width + 2;
    size_t per_line = std::max<size_t>(2, max_line_chars / column);
    std::string out;
    for (size_t i = 0; i < tokens.size(); ++i) {
        out += tokens[i];
        bool last_of_all = i + 1 == tokens.size();
        bool last_of_line = (i + 1) % per_line == 0;
        if (last_of_all) break;
        if (last_of_line)
            out += '\n';
        else
            out.append(column - tokens[i].size(), ' ');
    }
    return out;
}

} // namespace util
