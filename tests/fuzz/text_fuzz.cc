// The cleaners every text from outside passes before it reaches a terminal or the window, and
// the number readers every parser leans on. Cleaned text is valid UTF-8 without C0 or C1
// controls (line breaks only where asked for) and cleaning it again changes nothing; text
// folded for the search stays whole; the number readers agree with the C library's.
#include "fuzz_support.h"
#include "util.h"

#include <cerrno>
#include <cmath>
#include <string>

using fuzz::check;
using fuzz::utf8;

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool free_of_controls(const std::string& s, bool newlines) {
    for (size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == '\n' && newlines) continue;
        if (c < 0x20 || c == 0x7F) return false;
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0)
            return false;
    }
    return true;
}

} // namespace

FUZZ_TARGET(text) {

    const std::string valid = util::valid_utf8(text);
    check(utf8(valid) && util::code_points(valid) <= valid.size());
    check(util::display_width(valid) <= 2 * util::code_points(valid));
    for (bool newlines : {true, false}) {
        const std::string clean = util::clean_text(text, newlines);
        check(utf8(clean) && free_of_controls(clean, newlines));
        check(util::clean_text(clean, newlines) == clean);
        std::string in_place(text);
        util::clean_text_in_place(in_place, newlines);
        check(in_place == clean);
    }
    const std::string shown = util::printable(text);
    check(utf8(shown) && free_of_controls(shown, true) && util::trim(shown) == shown);
    check(util::printable(shown) == shown);
    // The search's case folding keeps text whole and has nothing left to fold the second time.
    const std::string folded = util::fold_case(valid);
    check(utf8(folded) && util::fold_case(folded) == folded);

    check(util::unescape_octal(text).size() <= text.size());
    for (const auto& w : util::split_ws(text))
        check(!w.empty() && util::trim(w) == w);

    // The number readers against the C library on the same text.
    const std::string t = util::trim(text);
    if (!t.empty() && (is_digit(t[0]) || (t[0] == '+' && t.size() > 1 && is_digit(t[1])))) {
        errno = 0;
        const unsigned long long c = std::strtoull(t.c_str(), nullptr, 10);
        check(util::to_u64(text, 7) == (errno == ERANGE ? 7 : c));
    }
    const double d = util::to_double(text, 0);
    check(!std::isinf(d) || std::isinf(std::strtod(t.c_str(), nullptr)));
    util::to_i64(text, 0);
    util::parse_hex64(text, 0);
}
