// Interface language: lookups of the compiled-in catalog by dotted key.
#pragma once

#include <string>
#include <vector>

struct LanguageInfo {
    std::string code;
    std::string native_name;
    bool rtl = false;
};

class I18n {
public:
    static I18n& instance();

    // "auto" (or empty) follows the desktop; a code not in the catalog falls back to English
    // but is remembered as the setting.
    void set_language(const std::string& setting);
    std::string language() const { return m_setting; }
    std::string effective_language() const { return m_code; }
    bool is_rtl() const { return m_rtl; }

    // The text of `key` in the language in use; the key itself when the catalog lacks it.
    // The pointer lives as long as the program.
    const char* tr(const char* key) const;
    // tr(key) used as a printf format; every language's text has the English placeholders.
    static std::string trf(const char* key, ...);

    const char* ui_font_family() const;

    static std::vector<LanguageInfo> available();
    static std::string detect_system_language();

private:
    I18n() = default;

    std::string m_setting = "auto";
    std::string m_code = "en";
    bool m_rtl = false;
    int m_lang_index = 0;
};

// Short form of I18n::instance().tr(key).
const char* tr(const char* key);
