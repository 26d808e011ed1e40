#include "i18n.h"

#include "i18n_data.h"
#include "util.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace {

int index_of_code(const std::string& code) {
    for (size_t i = 0; i < i18n_data::LANG_COUNT; ++i)
        if (code == i18n_data::LANGS[i].code) return static_cast<int>(i);
    return -1;
}

uint32_t key_hash(const char* key) {
    uint32_t h = 2166136261u;
    for (; *key; ++key)
        h = (h ^ static_cast<unsigned char>(*key)) * 16777619u;
    return h;
}

// Every row's label is a lookup: by hash that is one comparison where halving the sorted keys
// took ten.
int index_of_key(const char* key) {
    const size_t mask = i18n_data::KEY_SLOT_COUNT - 1;
    for (size_t at = key_hash(key) & mask;; at = (at + 1) & mask) {
        const unsigned slot = i18n_data::KEY_SLOTS[at];
        if (slot == 0) return -1;
        if (std::strcmp(i18n_data::key(slot - 1), key) == 0) return static_cast<int>(slot - 1);
    }
}

} // namespace

I18n& I18n::instance() {
    static I18n* the = [] {
        auto* i = new I18n();
        i->set_language("auto");
        return i;
    }();
    return *the;
}

void I18n::set_language(const std::string& setting) {
    m_setting = setting.empty() ? "auto" : setting;
    std::string candidate = m_setting == "auto" ? detect_system_language() : m_setting;
    int index = index_of_code(candidate);
    if (index < 0) index = index_of_code("en");
    if (index < 0) index = 0;
    m_lang_index = index;
    m_code = i18n_data::LANGS[index].code;
    m_rtl = i18n_data::LANGS[index].rtl;
}

const char* I18n::tr(const char* key) const {
    if (!key || !*key) return key;
    int i = index_of_key(key);
    if (i < 0) return key;
    return i18n_data::value(i18n_data::LANGS[m_lang_index], i);
}

std::string I18n::trf(const char* key, ...) {
    const char* fmt = instance().tr(key);
    if (!fmt) return {};
    va_list args;
    va_start(args, key);
    va_list measure;
    va_copy(measure, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int len = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    std::string out;
    if (len < 0) {
        out = fmt;
    } else {
        out.resize(static_cast<size_t>(len) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<size_t>(len));
    }
#pragma GCC diagnostic pop
    va_end(args);
    return out;
}

const char* I18n::ui_font_family() const {
    static const char* const sans_codes[] = {"zh", "ja", "ko", "ar", "he"};
    for (const char* c : sans_codes)
        if (m_code == c) return "sans-serif";
    return "monospace";
}

std::vector<LanguageInfo> I18n::available() {
    std::vector<LanguageInfo> out;
    for (size_t i = 0; i < i18n_data::LANG_COUNT; ++i) {
        const auto& l = i18n_data::LANGS[i];
        out.push_back({l.code, l.native_name, l.rtl});
    }
    return out;
}

namespace {

// Locales whose language a catalog of another code holds: the C library names Filipino "fil"
// and Norwegian "no" or "nn"; Hong Kong and Macau write traditional characters.
constexpr std::pair<std::string_view, std::string_view> SAME_LANGUAGE[] = {
    {"fil", "tl"}, {"no", "nb"}, {"nn", "nb"}, {"zh_HK", "zh_TW"}, {"zh_MO", "zh_TW"}};

// The catalog code for one locale name ("de_AT.UTF-8@euro" gives "de"), or empty.
std::string code_of_locale(std::string name) {
    name = name.substr(0, name.find('.'));
    name = name.substr(0, name.find('@'));
    if (name.empty()) return {};
    const std::string base = name.substr(0, name.find('_'));
    for (const auto& [locale, code] : SAME_LANGUAGE)
        if (locale == name || locale == base) return std::string(code);
    if (index_of_code(name) >= 0) return name;
    return index_of_code(base) >= 0 ? base : std::string();
}

// Old names such as "german" or "deutsch" stand for a locale in the C library's alias table.
// The table is the user's system's, not the examined machine's; it is read, once, only when a
// name is no language code.
std::string unalias(const std::string& name) {
    static const std::vector<std::pair<std::string, std::string>> table = [] {
        std::vector<std::pair<std::string, std::string>> out;
        FILE* in = std::fopen("/usr/share/locale/locale.alias", "re");
        if (!in) return out;
        char* buf = nullptr;
        size_t size = 0;
        for (int lines = 0; lines < 10000 && ::getline(&buf, &size, in) > 0; ++lines) {
            const std::vector<std::string> words = util::split_ws(buf);
            if (words.size() >= 2 && words[0][0] != '#') out.emplace_back(words[0], words[1]);
        }
        std::free(buf);
        std::fclose(in);
        return out;
    }();
    for (const auto& [alias, value] : table)
        if (alias == name) return value;
    return {};
}

} // namespace

// The languages the user asked for, in the order the C library's message catalogs take them:
// LANGUAGE (a list, used whatever the locale), else LC_ALL, LC_MESSAGES, LANG.
std::string I18n::detect_system_language() {
    std::string wanted;
    for (const char* var : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(var); value && *value) {
            wanted = value;
            break;
        }
    // No string stream: the first one sets up the C++ locales, which the report never needs.
    for (const std::string& name : util::split(wanted, ':')) {
        const std::string bare = name.substr(0, name.find_first_of(".@"));
        if (bare.empty() || bare == "C" || bare == "POSIX") continue;
        std::string code = code_of_locale(name);
        if (code.empty()) code = code_of_locale(unalias(name));
        if (!code.empty()) return code;
    }
    return "en";
}

const char* tr(const char* key) {
    return I18n::instance().tr(key);
}
