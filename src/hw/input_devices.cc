#include "hw/input_devices.h"

#include "util.h"

namespace hw {

namespace {

// The text after the first "=", as the kernel writes "P: Phys=…" and "H: Handlers=…".
std::string after_equals(std::string_view value) {
    size_t eq = value.find('=');
    return eq == std::string_view::npos ? std::string() : util::trim(value.substr(eq + 1));
}

std::string unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

} // namespace

std::string input_field(std::string_view line, std::string_view key) {
    size_t pos = 0;
    while ((pos = line.find(key, pos)) != std::string_view::npos) {
        size_t eq = pos + key.size();
        // Only a whole word: "Product=" must not match inside "SubProduct=".
        bool word_start = pos == 0 || line[pos - 1] == ' ' || line[pos - 1] == '\t';
        if (word_start && eq < line.size() && line[eq] == '=') {
            size_t end = line.find_first_of(" \t", eq + 1);
            return std::string(line.substr(
                eq + 1, end == std::string_view::npos ? std::string_view::npos : end - eq - 1));
        }
        pos = eq;
    }
    return {};
}

std::vector<InputDevice> parse_input_devices(std::string_view text) {
    std::vector<InputDevice> out;
    InputDevice cur;
    bool has_content = false;
    auto finish = [&] {
        if (has_content) out.push_back(std::move(cur));
        cur = InputDevice{};
        has_content = false;
    };

    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view raw =
            text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? text.size() + 1 : nl + 1;

        std::string line = util::trim(raw);
        if (line.empty()) {
            finish();
            continue;
        }
        if (line.size() <= 2 || line[1] != ':') continue;
        std::string value = util::trim(std::string_view(line).substr(2));
        switch (line[0]) {
        case 'I':
            cur.bus = input_field(value, "Bus");
            cur.vendor = input_field(value, "Vendor");
            cur.product = input_field(value, "Product");
            cur.version = input_field(value, "Version");
            break;
        case 'N':
            cur.name = unquoted(after_equals(value));
            break;
        case 'P':
            cur.phys = after_equals(value);
            break;
        case 'S':
            cur.sysfs = after_equals(value);
            break;
        case 'U':
            cur.uniq = after_equals(value);
            break;
        case 'H':
            cur.handlers = after_equals(value);
            break;
        case 'B': {
            size_t eq = value.find('=');
            if (eq == std::string::npos) continue;
            cur.bits.emplace_back(util::trim(value.substr(0, eq)),
                                  util::trim(value.substr(eq + 1)));
            break;
        }
        default:
            continue;
        }
        has_content = true;
    }
    finish();
    return out;
}

uint64_t input_bits_low(const InputDevice& dev, std::string_view key) {
    for (const auto& [k, v] : dev.bits) {
        if (k != key) continue;
        // Words are printed highest first, so the lowest bits are in the last word.
        size_t space = v.find_last_of(" \t");
        std::string_view last =
            std::string_view(v).substr(space == std::string::npos ? 0 : space + 1);
        return util::parse_hex64(last, 0);
    }
    return 0;
}

} // namespace hw
