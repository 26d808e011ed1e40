#include "util.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace util;

TEST(Trim, RemovesWhiteSpaceAndTheNulPaddingOfKernelAttributes) {
    EXPECT_EQ(trim("\n"), "");
    EXPECT_EQ(trim(std::string("\0\0", 2)), "");
    EXPECT_EQ(trim(std::string(" 4096\n\0\0", 8)), "4096");
    EXPECT_EQ(trim("\t\r\v\fa b\n"), "a b");
    EXPECT_EQ(trim(std::string("a\0b", 3)), std::string("a\0b", 3)); // inner bytes stay
}

TEST(Lower, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(lower("Intel(R) CORE"), "intel(r) core");
    EXPECT_EQ(lower("ÄÖÜ Ж"), "ÄÖÜ Ж");
}

TEST(Split, KeepsEmptyFields) {
    EXPECT_EQ(split("", ','), std::vector<std::string>{""});
    EXPECT_EQ(split("a,", ','), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(split("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(join({}, ", "), "");
    EXPECT_EQ(join({"a", "", "b"}, "-"), "a--b");
}

TEST(StartsEndsWith, EmptyPrefixAlwaysMatches) {
    EXPECT_TRUE(starts_with("abc", ""));
    EXPECT_TRUE(ends_with("abc", ""));
    EXPECT_TRUE(starts_with("nvme0n1", "nvme"));
    EXPECT_FALSE(starts_with("nv", "nvme"));
    EXPECT_FALSE(ends_with("c", "abc"));
}

TEST(NaturalLess, OrdersDigitRunsByValue) {
    EXPECT_TRUE(natural_less("sda2", "sda10"));
    EXPECT_FALSE(natural_less("sda10", "sda2"));
    EXPECT_TRUE(natural_less("nvme0n1", "nvme1n1"));
    EXPECT_TRUE(natural_less("a", "ab"));
    EXPECT_FALSE(natural_less("x01", "x1"));
    EXPECT_FALSE(natural_less("x1", "x01"));
    EXPECT_TRUE(natural_less("B", "a")); // case-sensitive
    // Bytes of multi-byte characters compare as signed and so sort before ASCII.
    EXPECT_TRUE(natural_less("\xC3\xA4", "a"));
    EXPECT_TRUE(natural_less("cpu9", "cpu00010"));
    // A run of zeros is the number 0.
    EXPECT_TRUE(natural_less("card000", "card1"));

    std::vector<std::string> names = {"card10", "card1", "card0", "card2"};
    std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return natural_less(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"card0", "card1", "card2", "card10"}));
}

TEST(NaturalLess, NeverReadsPastTheEndOfDigitRuns) {
    EXPECT_TRUE(natural_less("1", "12"));
    EXPECT_FALSE(natural_less("99999999999999999999999", "1"));
    EXPECT_TRUE(natural_less("1", "99999999999999999999999"));
}

TEST(ValidUtf8, ReplacesBadBytesAndKeepsGoodText) {
    EXPECT_EQ(valid_utf8("Käse ✓ 𝄞"), "Käse ✓ 𝄞");
    EXPECT_EQ(valid_utf8("ab\xFF"
                         "c"),
              "ab\xEF\xBF\xBD"
              "c");
    EXPECT_EQ(valid_utf8("\xC3"), "\xEF\xBF\xBD");                                 // truncated
    EXPECT_EQ(valid_utf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                 // overlong
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
}

TEST(UnescapeOctal, DecodesMountTableEscapes) {
    EXPECT_EQ(unescape_octal("/media/My\\040Disk"), "/media/My Disk");
    EXPECT_EQ(unescape_octal("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    EXPECT_EQ(unescape_octal("trailing\\04"), "trailing\\04"); // incomplete escape stays
    EXPECT_EQ(unescape_octal("\\9"), "\\9");
}

TEST(SplitWs, CutsAtRunsOfBlanksLikeKernelTables) {
    EXPECT_EQ(split_ws("/dev/zram0   partition\t4194300\t0\t100\n"),
              (std::vector<std::string>{"/dev/zram0", "partition", "4194300", "0", "100"}));
    EXPECT_TRUE(split_ws(" \t\n").empty());
    EXPECT_EQ(split_ws(std::string("a\0b", 3)), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(all_digits("0042"));
    EXPECT_FALSE(all_digits(""));
    EXPECT_FALSE(all_digits("-1"));
    EXPECT_FALSE(all_digits("1e9"));
}

TEST(Printable, FirmwareStringsBecomeCleanText) {
    EXPECT_EQ(printable("  Samsung SSD 860 \n"), "Samsung SSD 860");
    EXPECT_EQ(printable("a\x01\x02z"), "az");
    EXPECT_EQ(printable("0: 500Mhz\r\n1: 2000Mhz *\tx\n"), "0: 500Mhz\n1: 2000Mhz * x");
    EXPECT_EQ(printable("Bad\xff"), "Bad\xEF\xBF\xBD");
    // NUL padding and whatever garbage follows it is cut off.
    EXPECT_EQ(printable(std::string("amdgpu\0\0\x01junk", 14)), "amdgpu");
}
