#include "i18n.h"
#include "i18n_data.h"
#include "test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <set>

using testing_support::ScopedEnv;

namespace {

// The language variables GLib consults, all cleared, then the ones a case names.
struct LocaleEnv {
    ScopedEnv language{"LANGUAGE", std::nullopt};
    ScopedEnv lc_all{"LC_ALL", std::nullopt};
    ScopedEnv lc_messages{"LC_MESSAGES", std::nullopt};
    ScopedEnv lang{"LANG", std::nullopt};
};

std::string detect_with(const char* var, const char* value) {
    LocaleEnv clean;
    ScopedEnv set(var, value);
    return I18n::detect_system_language();
}

class Language : public ::testing::Test {
protected:
    void TearDown() override { I18n::instance().set_language("en"); }
};

std::vector<std::string> placeholders(const char* text) {
    static const std::regex re(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z)?[diouxXeEfgGcsp%])");
    std::vector<std::string> out;
    std::string s = text;
    for (std::sregex_iterator it(s.begin(), s.end(), re), end; it != end; ++it)
        if (it->str() != "%%") out.push_back(it->str());
    return out;
}

} // namespace

TEST(DetectLanguage, FollowsTheEnvironment) {
    EXPECT_EQ(detect_with("LANG", "de_AT.UTF-8"), "de");
    EXPECT_EQ(detect_with("LANG", "zh_TW.UTF-8"), "zh_TW");
    EXPECT_EQ(detect_with("LANG", "zh_CN.UTF-8"), "zh");
    EXPECT_EQ(detect_with("LANG", "pt_BR.UTF-8"), "pt");
    EXPECT_EQ(detect_with("LANG", "sr_RS@latin"), "sr");
    EXPECT_EQ(detect_with("LANG", "C"), "en");
    EXPECT_EQ(detect_with("LANG", "POSIX"), "en");
    EXPECT_EQ(detect_with("LC_MESSAGES", "fr_CA.UTF-8"), "fr");
    EXPECT_EQ(detect_with("LC_ALL", "ja_JP.UTF-8"), "ja");
    EXPECT_EQ(detect_with("LANGUAGE", "xx:nb_NO:de"), "nb");
    EXPECT_EQ(detect_with("LANG", "xx_YY.UTF-8"), "en");
    LocaleEnv nothing;
    EXPECT_EQ(I18n::detect_system_language(), "en");
}

TEST(DetectLanguage, LanguageOutranksLcAllOutranksLcMessagesOutranksLang) {
    LocaleEnv clean;
    ScopedEnv lang("LANG", "de_DE.UTF-8");
    EXPECT_EQ(I18n::detect_system_language(), "de");
    ScopedEnv msgs("LC_MESSAGES", "fr_FR.UTF-8");
    EXPECT_EQ(I18n::detect_system_language(), "fr");
    ScopedEnv all("LC_ALL", "es_ES.UTF-8");
    EXPECT_EQ(I18n::detect_system_language(), "es");
    ScopedEnv language("LANGUAGE", "it");
    EXPECT_EQ(I18n::detect_system_language(), "it");
}

TEST_F(Language, SettingCodesAutoAndUnknownOnes) {
    auto& i = I18n::instance();
    i.set_language("xx");
    EXPECT_EQ(i.language(), "xx");
    EXPECT_EQ(i.effective_language(), "en");
    EXPECT_STREQ(i.tr("tree.computer"), "Computer");

    {
        LocaleEnv clean;
        ScopedEnv lang("LANG", "de_AT.UTF-8");
        i.set_language("");
        EXPECT_EQ(i.language(), "auto");
        EXPECT_EQ(i.effective_language(), "de");
        i.set_language("auto");
        EXPECT_EQ(i.effective_language(), "de");
    }
    i.set_language("zh_TW");
    EXPECT_EQ(i.effective_language(), "zh_TW");
    EXPECT_EQ(i.language(), "zh_TW");
}

TEST_F(Language, RightToLeftAndFontFamily) {
    auto& i = I18n::instance();
    std::set<std::string> rtl;
    for (const auto& l : I18n::available()) {
        i.set_language(l.code);
        EXPECT_EQ(i.is_rtl(), l.rtl);
        if (i.is_rtl()) rtl.insert(l.code);
        bool sans =
            l.code == "zh" || l.code == "ja" || l.code == "ko" || l.code == "ar" || l.code == "he";
        EXPECT_STREQ(i.ui_font_family(), sans ? "sans-serif" : "monospace") << l.code;
    }
    EXPECT_EQ(rtl, (std::set<std::string>{"ar", "fa", "he", "ur"}));
}

TEST_F(Language, LookupsAndFormatting) {
    auto& i = I18n::instance();
    i.set_language("en");
    EXPECT_STREQ(i.tr("no.such.key"), "no.such.key");
    EXPECT_STREQ(i.tr(""), "");
    EXPECT_EQ(i.tr(nullptr), nullptr);
    EXPECT_STREQ(tr("common.yes"), "Yes");
    EXPECT_EQ(I18n::trf("tree.cpu_n", 3), "CPU 3");
    EXPECT_EQ(I18n::trf("msg.snap_permission", "quarvel", "hardware-observe"),
              "The Snap is missing a permission for this. Run once in a terminal: "
              "sudo snap connect quarvel:hardware-observe");
    EXPECT_EQ(I18n::trf("no.such.key"), "no.such.key");
    // A text pointer stays valid and unchanged across a language change.
    const char* en_yes = tr("common.yes");
    i.set_language("de");
    EXPECT_STREQ(en_yes, "Yes");
}

TEST(Catalog, KeysAreSortedUniqueAndEveryLanguageIsComplete) {
    using namespace i18n_data;
    EXPECT_EQ(KEY_COUNT, 571u);
    for (size_t k = 1; k < KEY_COUNT; ++k)
        EXPECT_LT(std::strcmp(KEYS[k - 1], KEYS[k]), 0) << KEYS[k - 1] << " / " << KEYS[k];
    ASSERT_EQ(LANG_COUNT, 44u);
    const LangEntry* en = nullptr;
    for (size_t l = 0; l < LANG_COUNT; ++l)
        if (std::strcmp(LANGS[l].code, "en") == 0) en = &LANGS[l];
    ASSERT_NE(en, nullptr);
    for (size_t l = 0; l < LANG_COUNT; ++l) {
        for (size_t k = 0; k < KEY_COUNT; ++k) {
            const char* text = LANGS[l].values[k];
            ASSERT_NE(text, nullptr);
            EXPECT_GT(std::strlen(text), 0u) << LANGS[l].code << " " << KEYS[k];
            EXPECT_EQ(placeholders(text), placeholders(en->values[k]))
                << LANGS[l].code << " " << KEYS[k];
        }
    }
}

TEST(Catalog, LanguagesInMenuOrderWithTheirOwnNames) {
    auto langs = I18n::available();
    ASSERT_EQ(langs.size(), 44u);
    EXPECT_EQ(langs.front().code, "ar");
    EXPECT_EQ(langs.front().native_name, "العربية");
    EXPECT_EQ(langs[8].code, "en");
    EXPECT_EQ(langs[42].code, "zh_TW");
    EXPECT_EQ(langs[42].native_name, "正體中文");
    EXPECT_EQ(langs.back().code, "zh");
}

TEST_F(Language, EveryLanguageHasSingleCharacterNumberSeparators) {
    auto& i = I18n::instance();
    for (const auto& l : I18n::available()) {
        i.set_language(l.code);
        std::string decimal = i.tr("num.decimal"), group = i.tr("num.group");
        EXPECT_FALSE(decimal.empty()) << l.code;
        EXPECT_NE(decimal, group) << l.code;
        EXPECT_LE(decimal.size(), 4u) << l.code; // one character, possibly multi-byte
        EXPECT_LE(group.size(), 4u) << l.code;
    }
    i.set_language("de");
    EXPECT_STREQ(i.tr("num.decimal"), ",");
    EXPECT_STREQ(i.tr("num.group"), ".");
    i.set_language("en");
    EXPECT_STREQ(i.tr("num.decimal"), ".");
    EXPECT_STREQ(i.tr("num.group"), ",");
}
