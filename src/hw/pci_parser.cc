#include "hw/pci_parser.h"

#include "util.h"

#include <array>
#include <optional>

namespace hw {

namespace {

// The whole of `s` as a hexadecimal number of at most `max_digits` digits, "0x" allowed.
std::optional<uint64_t> whole_hex(std::string_view s, size_t max_digits) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty() || s.size() > max_digits) return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        int d = util::hex_digit(c);
        if (d < 0) return std::nullopt;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    return v;
}

// domain, bus, device, function
std::optional<std::array<uint64_t, 4>> address_numbers(std::string_view s) {
    size_t c1 = s.find(':');
    size_t c2 = c1 == std::string_view::npos ? c1 : s.find(':', c1 + 1);
    size_t dot = c2 == std::string_view::npos ? c2 : s.find('.', c2 + 1);
    if (dot == std::string_view::npos) return std::nullopt;
    auto domain = whole_hex(s.substr(0, c1), 8);
    auto bus = whole_hex(s.substr(c1 + 1, c2 - c1 - 1), 8);
    auto device = whole_hex(s.substr(c2 + 1, dot - c2 - 1), 8);
    auto function = whole_hex(s.substr(dot + 1), 8);
    if (!domain || !bus || !device || !function) return std::nullopt;
    return std::array<uint64_t, 4>{*domain, *bus, *device, *function};
}

} // namespace

std::vector<PciResource> parse_pci_resources(std::string_view text) {
    std::vector<PciResource> out;
    size_t index = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        size_t this_index = index++;
        auto f = util::split_ws(line);
        if (f.size() < 3) continue;
        auto start = whole_hex(f[0], 16);
        auto end = whole_hex(f[1], 16);
        auto flags = whole_hex(f[2], 16);
        if (!start || !end || !flags) continue;
        if (*start == 0 && *end == 0) continue; // not assigned
        if (*end < *start) continue;
        out.push_back({this_index, *start, *end, *flags});
    }
    return out;
}

bool pci_address_less(std::string_view a, std::string_view b) {
    auto na = address_numbers(a);
    auto nb = address_numbers(b);
    if (na && nb && *na != *nb) return *na < *nb;
    if (na.has_value() != nb.has_value()) return na.has_value();
    return a < b;
}

} // namespace hw
