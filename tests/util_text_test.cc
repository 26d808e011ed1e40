#include "util.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace util;

TEST(Text, TrimSplitAndLowerKeepWhatKernelTextNeeds) {
    // Kernel attributes may end in NUL padding; bytes inside a value stay.
    EXPECT_EQ(trim(std::string(" 4096\n\0\0", 8)), "4096");
    EXPECT_EQ(trim(std::string("\0\0", 2)), "");
    EXPECT_EQ(trim("\t\r\v\fa b\n"), "a b");
    EXPECT_EQ(trim(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(split("", ','), std::vector<std::string>{""});
    EXPECT_EQ(split("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(join({"a", "", "b"}, "-"), "a--b");
    EXPECT_EQ(lower("Intel(R) ÄÖÜ Ж"), "intel(r) ÄÖÜ Ж"); // ASCII only, whatever the locale
}

TEST(Text, NaturalOrderComparesDigitRunsByValue) {
    std::vector<std::string> names = {"sda10",   "card10",  "sda2",     "card1", "card0",
                                      "nvme1n1", "nvme0n1", "cpu00010", "cpu9"};
    std::sort(names.begin(), names.end(), natural_less);
    EXPECT_EQ(names, (std::vector<std::string>{"card0", "card1", "card10", "cpu9", "cpu00010",
                                               "nvme0n1", "nvme1n1", "sda2", "sda10"}));
    EXPECT_TRUE(natural_less("a", "ab"));
    EXPECT_FALSE(natural_less("x01", "x1")); // equal values: neither comes first
    EXPECT_FALSE(natural_less("x1", "x01"));
    EXPECT_TRUE(natural_less("card000", "card1"));
    EXPECT_TRUE(natural_less("B", "a")); // case-sensitive
    // Bytes of multi-byte characters compare as signed and so sort before ASCII.
    EXPECT_TRUE(natural_less("\xC3\xA4", "a"));
    // Runs beyond 64 bits and runs ending at the end of the text.
    EXPECT_TRUE(natural_less("1", "12"));
    EXPECT_FALSE(natural_less("99999999999999999999999", "1"));
    EXPECT_TRUE(natural_less("1", "99999999999999999999999"));
}

TEST(Text, InvalidUtf8IsReplacedAndMountEscapesDecoded) {
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(valid_utf8("Käse ✓ 𝄞"), "Käse ✓ 𝄞");
    EXPECT_EQ(valid_utf8("ab\xFF"
                         "c"),
              "ab" + bad + "c");
    EXPECT_EQ(valid_utf8("\xC3"), bad);                     // truncated
    EXPECT_EQ(valid_utf8("\xC0\xAF"), bad + bad);           // overlong
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), bad + bad + bad); // surrogate
    EXPECT_EQ(unescape_octal("/media/My\\040Disk"), "/media/My Disk");
    EXPECT_EQ(unescape_octal("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    EXPECT_EQ(unescape_octal("trailing\\04"), "trailing\\04"); // incomplete escapes stay
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
