#include "i18n.h"

#include "i18n_data.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <glib.h>

namespace {

int index_of_code(const std::string& code) {
    for (size_t i = 0; i < i18n_data::LANG_COUNT; ++i)
        if (code == i18n_data::LANGS[i].code) return static_cast<int>(i);
    return -1;
}

// Lower bound over KEYS with unsigned byte order, which is what strcmp gives.
int index_of_key(const char* key) {
    size_t lo = 0, hi = i18n_data::KEY_COUNT;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (std::strcmp(i18n_data::KEYS[mid], key) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < i18n_data::KEY_COUNT && std::strcmp(i18n_data::KEYS[lo], key) == 0)
        return static_cast<int>(lo);
    return -1;
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
    return i18n_data::LANGS[m_lang_index].values[i];
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

std::string I18n::detect_system_language() {
    const gchar* const* names = g_get_language_names();
    if (!names) return "en";
    for (; *names; ++names) {
        std::string name = *names;
        if (name.empty() || name == "C") continue;
        name = name.substr(0, name.find('.'));
        name = name.substr(0, name.find('@'));
        if (index_of_code(name) >= 0) return name;
        size_t us = name.find('_');
        if (us != std::string::npos) {
            std::string base = name.substr(0, us);
            if (index_of_code(base) >= 0) return base;
        }
    }
    return "en";
}

const char* tr(const char* key) {
    return I18n::instance().tr(key);
}
