#include "i18n.h"
#include "i18n_data.h"
#include "test_support.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>

using testing_support::ScopedEnv;

namespace {

// The language variables GLib consults, all cleared, then the ones a case names.
struct LocaleEnv {
    ScopedEnv language{"LANGUAGE", std::nullopt};
    ScopedEnv lc_all{"LC_ALL", std::nullopt};
    ScopedEnv lc_messages{"LC_MESSAGES", std::nullopt};
    ScopedEnv lang{"LANG", std::nullopt};
};

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

TEST(DetectLanguage, FollowsTheEnvironmentInTheCLibrarysOrder) {
    struct Case {
        const char *var, *value, *want;
    } cases[] = {{"LANG", "zh_TW.UTF-8", "zh_TW"}, {"LANG", "zh_CN.UTF-8", "zh"},
                 {"LANG", "sr_RS@latin", "sr"},    {"LANG", "POSIX", "en"},
                 {"LANG", "xx_YY.UTF-8", "en"},    {"LANGUAGE", "xx:nb_NO:de", "nb"},
                 {"LANG", "fil_PH.UTF-8", "tl"},   {"LANG", "nn_NO.UTF-8", "nb"},
                 {"LANG", "zh_HK.UTF-8", "zh_TW"}};
    for (const auto& c : cases) {
        LocaleEnv clean;
        ScopedEnv set(c.var, c.value);
        EXPECT_EQ(I18n::detect_system_language(), c.want) << c.value;
    }
    // LC_MESSAGES outranks LANG.
    LocaleEnv clean;
    ScopedEnv lang("LANG", "de_DE.UTF-8");
    ScopedEnv msgs("LC_MESSAGES", "fr_FR.UTF-8");
    EXPECT_EQ(I18n::detect_system_language(), "fr");
    // An old name, through the C library's alias table where the system has one.
    if (std::ifstream("/usr/share/locale/locale.alias")) {
        ScopedEnv old_name("LC_MESSAGES", "deutsch");
        EXPECT_EQ(I18n::detect_system_language(), "de");
    }
}

TEST_F(Language, CodesAutoAndUnknownOnes) {
    auto& i = I18n::instance();
    i.set_language("xx");
    EXPECT_EQ(i.language(), "xx");
    EXPECT_EQ(i.effective_language(), "en");
    EXPECT_STREQ(i.tr("tree.computer"), "Computer");
    LocaleEnv clean;
    ScopedEnv lang("LANG", "de_AT.UTF-8");
    i.set_language("");
    EXPECT_EQ(i.language(), "auto");
    EXPECT_EQ(i.effective_language(), "de");
}

TEST_F(Language, LookupsAndFormatting) {
    auto& i = I18n::instance();
    i.set_language("en");
    EXPECT_STREQ(i.tr("no.such.key"), "no.such.key");
    EXPECT_EQ(i.tr(nullptr), nullptr);
    // Two string arguments: the text is measured, then written, from the same arguments.
    EXPECT_EQ(I18n::trf("msg.snap_permission", "quarvel", "hardware-observe"),
              "The Snap is missing a permission for this. Run once in a terminal: "
              "sudo snap connect quarvel:hardware-observe");
    EXPECT_EQ(I18n::trf("no.such.key"), "no.such.key");
    // A text pointer stays valid and unchanged across a language change.
    const char* en_yes = tr("common.yes");
    i.set_language("de");
    EXPECT_STREQ(en_yes, "Yes");
    EXPECT_STREQ(i.tr("common.yes"), "Ja");
    // A key built at run time may come back at the same address holding another key.
    char key[16] = "common.yes";
    EXPECT_STREQ(i.tr(key), "Ja");
    std::strcpy(key, "common.no");
    EXPECT_STREQ(i.tr(key), "Nein");
    std::strcpy(key, "no.such");
    EXPECT_STREQ(i.tr(key), "no.such");
    // Every key of the catalog is found, also as text built at run time.
    size_t de = 0;
    while (std::strcmp(i18n_data::LANGS[de].code, "de") != 0)
        ++de;
    for (size_t k = 0; k < i18n_data::KEY_COUNT; ++k)
        EXPECT_STREQ(i.tr(std::string(i18n_data::key(k)).c_str()),
                     i18n_data::value(i18n_data::LANGS[de], k))
            << i18n_data::key(k);
}

TEST(Catalog, EveryLanguageIsCompleteWithTheSamePlaceholdersAndUsableSeparators) {
    using namespace i18n_data;
    for (size_t k = 1; k < KEY_COUNT; ++k)
        EXPECT_LT(std::strcmp(key(k - 1), key(k)), 0) << key(k - 1) << " / " << key(k);
    ASSERT_EQ(LANG_COUNT, 44u);
    ASSERT_EQ(I18n::available().size(), LANG_COUNT);
    const LangEntry* en = nullptr;
    for (size_t l = 0; l < LANG_COUNT; ++l)
        if (std::strcmp(LANGS[l].code, "en") == 0) en = &LANGS[l];
    ASSERT_NE(en, nullptr);
    size_t decimal = 0, group = 0;
    for (size_t k = 0; k < KEY_COUNT; ++k) {
        decimal = std::strcmp(key(k), "num.decimal") == 0 ? k : decimal;
        group = std::strcmp(key(k), "num.group") == 0 ? k : group;
    }
    for (size_t l = 0; l < LANG_COUNT; ++l) {
        for (size_t k = 0; k < KEY_COUNT; ++k) {
            const char* text = value(LANGS[l], k);
            ASSERT_NE(text, nullptr);
            EXPECT_GT(std::strlen(text), 0u) << LANGS[l].code << " " << key(k);
            EXPECT_EQ(placeholders(text), placeholders(value(*en, k)))
                << LANGS[l].code << " " << key(k);
        }
        // One character each, possibly multi-byte, and never the same.
        std::string d = value(LANGS[l], decimal), g = value(LANGS[l], group);
        EXPECT_TRUE(!d.empty() && d != g && d.size() <= 4 && g.size() <= 4) << LANGS[l].code;
    }
}
