// Cutting, comparing and cleaning text.
#include "util.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace util {

namespace {

bool is_trim_byte(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\0';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string_view trim_view(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && is_trim_byte(s[b]))
        ++b;
    while (e > b && is_trim_byte(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string trim(std::string_view s) {
    return std::string(trim_view(s));
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

namespace {

// The lower-case partner of an upper-case letter, or `cp` itself, by the C library's
// Unicode tables (the C.UTF-8 locale, whatever the user's locale is). Without that locale only
// A-Z have partners.
uint32_t lower_letter(uint32_t cp) {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    if (cp == 0x3C2) return 0x3C3; // the final sigma is the same letter as σ
    if (!unicode) return cp;
    const auto lowered = static_cast<uint32_t>(towlower_l(static_cast<wint_t>(cp), unicode));
    return lowered < 0x10000 ? lowered : cp;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string fold_case(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t len = utf8_sequence_at(s, i);
        if (len == 2 || len == 3) {
            uint32_t cp = static_cast<unsigned char>(s[i]) & (len == 2 ? 0x1F : 0x0F);
            for (size_t k = 1; k < len; ++k)
                cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            append_utf8(out, lower_letter(cp));
            i += len;
        } else if (len == 4) { // no letters with case up there
            out.append(s.substr(i, 4));
            i += 4;
        } else { // ASCII, or a byte that starts no character
            const char c = s[i++];
            out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    return out;
}

bool starts_with(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

bool ends_with(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            return out;
        }
        out.emplace_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::vector<std::string> split_ws(std::string_view s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && is_trim_byte(s[i]))
            ++i;
        size_t start = i;
        while (i < s.size() && !is_trim_byte(s[i]))
            ++i;
        if (i > start) out.emplace_back(s.substr(start, i - start));
    }
    return out;
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

std::string join(const std::vector<std::string>& v, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (i) out += sep;
        out += v[i];
    }
    return out;
}

bool natural_less(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && is_digit(a[ie]))
                ++ie;
            while (je < b.size() && is_digit(b[je]))
                ++je;
            std::string_view ra = a.substr(i, ie - i), rb = b.substr(j, je - j);
            while (ra.size() > 1 && ra[0] == '0')
                ra.remove_prefix(1);
            while (rb.size() > 1 && rb[0] == '0')
                rb.remove_prefix(1);
            if (ra.size() != rb.size()) return ra.size() < rb.size();
            if (ra != rb) return ra < rb;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) return static_cast<signed char>(a[i]) < static_cast<signed char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

size_t utf8_sequence_at(std::string_view s, size_t i) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    if (i >= n) return 0;
    const unsigned char c = p[i];
    size_t len = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    }
    if (len == 0 || i + len > n) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Reject overlong forms, surrogates and values beyond U+10FFFF.
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}

std::string valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    // Nearly every kernel text is ASCII, which is copied whole.
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n) return std::string(s);
    std::string out;
    out.reserve(s.size());
    out.append(s.substr(0, i));
    while (i < n) {
        if (size_t len = utf8_sequence_at(s, i)) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

namespace {

// Printable ASCII throughout (and line breaks where kept): nothing for clean_text to do.
bool plain_text(std::string_view s, bool keep_newlines) {
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u >= 0x7F) && !(c == '\n' && keep_newlines)) return false;
    }
    return true;
}

// clean_text for a text that is not plain.
std::string cleaned(std::string_view s, bool keep_newlines) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
        } else if (c == '\t' || (c == '\n' && !keep_newlines)) {
            out += ' ';
        } else if (c == '\n') {
            out += c; // multi-line attributes (clock tables, lists) keep their lines
        }
    }
    out = valid_utf8(out);
    // The C1 controls (U+0080 to U+009F) act in terminals just as the ASCII ones do.
    std::string kept;
    kept.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) == 0xC2 && i + 1 < out.size() &&
            static_cast<unsigned char>(out[i + 1]) < 0xA0) {
            ++i;
            continue;
        }
        kept += out[i];
    }
    return kept;
}

} // namespace

void clean_text_in_place(std::string& s, bool keep_newlines) {
    if (!plain_text(s, keep_newlines)) s = cleaned(s, keep_newlines);
}

std::string clean_text(std::string_view s, bool keep_newlines) {
    return plain_text(s, keep_newlines) ? std::string(s) : cleaned(s, keep_newlines);
}

std::string printable(std::string_view s) {
    size_t nul = s.find('\0');
    if (nul != std::string_view::npos) s = s.substr(0, nul);
    return trim(clean_text(s));
}

std::string unescape_octal(std::string_view s) {
    auto oct = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && oct(s[i + 1]) && oct(s[i + 2]) && oct(s[i + 3])) {
            int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
            if (v < 256) {
                out += static_cast<char>(v);
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

size_t code_points(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

namespace {

// Marks that join the letter before them and take no column of their own: accents, Hebrew
// points, Arabic vowel marks, the vowel signs above and below in Devanagari, Bengali and Thai,
// and the invisible direction and joining marks. Only the scripts of the interface's languages.
constexpr std::pair<uint32_t, uint32_t> ZERO_WIDTH[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x061C, 0x061C}, {0x064B, 0x065F},
    {0x0670, 0x0670}, {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED},
    {0x0900, 0x0902}, {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D},
    {0x0951, 0x0957}, {0x0962, 0x0963}, {0x0981, 0x0981}, {0x09BC, 0x09BC}, {0x09C1, 0x09C4},
    {0x09CD, 0x09CD}, {0x09E2, 0x09E3}, {0x09FE, 0x09FE}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},
    {0x0E47, 0x0E4E}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x2066, 0x206F},
    {0x20D0, 0x20F0}, {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF},
};

bool zero_width(uint32_t cp) {
    for (const auto& [first, last] : ZERO_WIDTH)
        if (cp >= first && cp <= last) return true;
    return false;
}

} // namespace

size_t display_width(std::string_view s) {
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++width, ++i;
            continue;
        }
        size_t len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = c & (0x7F >> len);
        for (size_t k = 1; k < len && i + k < s.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += len;
        if (zero_width(cp)) continue;
        // Hangul Jamo, CJK and Hangul syllables, compatibility forms, full-width forms, and
        // the pictographs terminals draw two columns wide.
        bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                    (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                    (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                    (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
                    (cp >= 0x1F900 && cp <= 0x1F9FF) || (cp >= 0x20000 && cp <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

std::string base_name(std::string_view path) {
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace util
