#include "util.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace util;

TEST(Text, TrimSplitAndLowerKeepWhatKernelTextNeeds) {
    // Kernel attributes may end in NUL padding; bytes inside a value stay.
    EXPECT_EQ(trim(std::string(" 4096\n\0\0", 8)), "4096");
    EXPECT_EQ(trim("\t\r\v\fa b\n"), "a b");
    EXPECT_EQ(trim(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(split("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(lower("Intel(R) ÄÖÜ Ж"), "intel(r) ÄÖÜ Ж"); // ASCII only, whatever the locale
}

TEST(Text, NaturalOrderComparesDigitRunsByValue) {
    std::vector<std::string> names = {"sda10",   "card10",  "sda2",     "card1", "card0",
                                      "nvme1n1", "nvme0n1", "cpu00010", "cpu9"};
    std::sort(names.begin(), names.end(), natural_less);
    EXPECT_EQ(names, (std::vector<std::string>{"card0", "card1", "card10", "cpu9", "cpu00010",
                                               "nvme0n1", "nvme1n1", "sda2", "sda10"}));
    // Equal values: neither comes first, so sorting stays a strict weak order.
    EXPECT_FALSE(natural_less("x01", "x1") || natural_less("x1", "x01"));
    // Runs beyond 64 bits compare by length, never wrapped.
    EXPECT_FALSE(natural_less("99999999999999999999999", "1"));
    EXPECT_TRUE(natural_less("1", "99999999999999999999999"));
}

TEST(Text, InvalidUtf8IsReplacedAndMountEscapesDecoded) {
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(valid_utf8("Käse ✓ 𝄞"), "Käse ✓ 𝄞");
    EXPECT_EQ(valid_utf8("ab\xFF"
                         "c"),
              "ab" + bad + "c");
    EXPECT_EQ(valid_utf8("\xC0\xAF"), bad + bad);           // overlong
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), bad + bad + bad); // surrogate
    EXPECT_EQ(unescape_octal("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    EXPECT_EQ(unescape_octal("trailing\\04"), "trailing\\04"); // incomplete escapes stay
}

TEST(Text, FoldCaseLowersTheLettersOfEveryInterfaceLanguage) {
    const std::pair<const char*, const char*> texts[] = {
        {"Intel(R) Core", "intel(r) core"},
        {"ÄÖÜ ÉÈ Ñ Ø ×", "äöü éè ñ ø ×"},           // the multiplication sign is no letter
        {"ŁÓDŹ ČĚŠŘŽ ŐŰ ĞŞİ", "łódź čěšřž őű ğşi"}, // Turkish İ searches as i
        {"ȘȚ ƠƯ ẠẾỸ ẞ", "șț ơư ạếỹ ß"},             // Romanian, Vietnamese, capital sharp s
        {"ΕΠΕΞΕΡΓΑΣΤΉΣ Ώρα", "επεξεργαστήσ ώρα"},   // final sigma folds to σ
        {"Процессор ЁЖ ЇЄІҐ Ђ", "процессор ёж їєіґ ђ"},
        {"プロセッサー 处理器 \xF0\x9F\x94\x92", "プロセッサー 处理器 \xF0\x9F\x94\x92"},
        {"A\xFF\xC3"
         "B",
         "a\xFF\xC3"
         "b"}}; // stray bytes stay, letters after them still fold
    for (const auto& [text, folded] : texts)
        EXPECT_EQ(fold_case(text), folded) << text;
    EXPECT_EQ(fold_case("επεξεργαστής"), fold_case("ΕΠΕΞΕΡΓΑΣΤΉΣ"));
}

TEST(Text, DisplayWidthCountsTerminalColumns) {
    const std::pair<const char*, size_t> texts[] = {
        {"Model", 5},
        {"モデル名", 8},            // wide
        {"ความถี่", 5},               // Thai: the tone mark and vowel above take no column
        {"आवृत्ति", 5},               // Devanagari: the virama and the vowel sign below
        {"الشدّة", 5},               // Arabic shadda
        {"\u2066/tmp\u2069", 4},    // direction isolates
        {"\xF0\x9F\x94\x92 x", 4}}; // the lock pictograph is two columns
    for (const auto& [text, columns] : texts)
        EXPECT_EQ(util::display_width(text), columns) << text;
}

TEST(SplitWs, CutsAtRunsOfBlanksLikeKernelTables) {
    EXPECT_EQ(split_ws("/dev/zram0   partition\t4194300\t0\t100\n"),
              (std::vector<std::string>{"/dev/zram0", "partition", "4194300", "0", "100"}));
    EXPECT_EQ(split_ws(std::string("a\0b", 3)), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(all_digits("0042"));
    EXPECT_FALSE(all_digits("") || all_digits("-1"));
}

TEST(Printable, FirmwareStringsBecomeCleanText) {
    EXPECT_EQ(printable("a\x01\x02z "), "az");
    EXPECT_EQ(printable("0: 500Mhz\r\n1: 2000Mhz *\tx\n"), "0: 500Mhz\n1: 2000Mhz * x");
    EXPECT_EQ(printable("Bad\xff"), "Bad\xEF\xBF\xBD");
    // NUL padding and whatever garbage follows it is cut off.
    EXPECT_EQ(printable(std::string("amdgpu\0\0\x01junk", 14)), "amdgpu");
}
