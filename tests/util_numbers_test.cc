#include "util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

using namespace util;

namespace {

// Formatting depends on the process-wide separators; each test states the ones it needs.
class Separators : public ::testing::Test {
protected:
    void TearDown() override { set_number_format(".", ","); }
};

} // namespace

TEST(Parse, NumbersFallBackRatherThanWrapOrGuess) {
    EXPECT_EQ(to_u64("123 kB", 7), 123u);
    EXPECT_EQ(to_u64("18446744073709551615", 7), 18446744073709551615ull);
    for (const char* bad : {"", "abc", "18446744073709551616", "-5", "- 5"})
        EXPECT_EQ(to_u64(bad, 7), 7u) << bad; // a negative number never wraps to a huge one
    EXPECT_EQ(to_i64(" -273150\n", 1), -273150);
    EXPECT_EQ(to_i64("-9223372036854775808", 1), INT64_MIN);
    EXPECT_EQ(to_i64("9223372036854775808", 1), 1);
    EXPECT_DOUBLE_EQ(to_double("-1.5e3 units", -1), -1500);
    EXPECT_DOUBLE_EQ(to_double("MHz", -1), -1);
    EXPECT_DOUBLE_EQ(to_double("+-5", -1), -1);
    // Beyond a double's range: too large is infinite, too small is zero (not infinite).
    EXPECT_EQ(to_double("-1e400", 0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(to_double("1e-400", -1), 0);
    EXPECT_EQ(to_double("0." + std::string(400, '0') + "1", -1), 0);
    EXPECT_EQ(parse_hex("10DE\n", 5), 0x10deu);
    EXPECT_EQ(parse_hex("0x", 5), 5u);
    EXPECT_EQ(parse_hex64("0x00000060001fffff", 5), 0x60001fffffull);
}

TEST_F(Separators, NumbersCarryTheLanguagesSeparators) {
    set_number_format(".", ",");
    EXPECT_EQ(fmt_int(18446744073709551615ull), "18,446,744,073,709,551,615");
    EXPECT_EQ(fmt_signed(-1234), "-1,234");
    EXPECT_EQ(fmt_percent(12.345, 1), "12.3 %");
    set_number_format(",", ".");
    EXPECT_EQ(fmt_double(-1234.5, 1), "-1.234,5");
    EXPECT_EQ(fmt_bytes(1536), "1,50 KiB");
    EXPECT_EQ(fmt_hz(1000000000), "1,00 GHz");
    // An empty decimal separator is ignored; the group separator may be switched off.
    set_number_format("", "");
    EXPECT_EQ(fmt_double(1234.5, 1), "1234,5");
    set_number_format("٫", "٬");
    EXPECT_EQ(fmt_double(1234.5, 1), "1٬234٫5");
    // Digits and rounding as the C library prints them, ties and extremes included.
    set_number_format(".", "");
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [v, decimals] : std::vector<std::pair<double, int>>{{0.125, 2},
                                                                         {2.675, 2},
                                                                         {999.995, 2},
                                                                         {-0.0, 1},
                                                                         {1e-7, 3},
                                                                         {1e300, 0},
                                                                         {-1.5, 0},
                                                                         {2.5, 0},
                                                                         {123.456, -1},
                                                                         {inf, 1},
                                                                         {-inf, 1},
                                                                         {std::nan(""), 2}}) {
        char c[512];
        std::snprintf(c, sizeof c, "%.*f", decimals, v);
        EXPECT_EQ(fmt_double(v, decimals), c) << v << " to " << decimals;
    }
}

TEST_F(Separators, SizesAndFrequenciesAtTheirUnitBoundaries) {
    set_number_format(".", ",");
    EXPECT_EQ(fmt_bytes(1023), "1,023 B");
    EXPECT_EQ(fmt_bytes(1024), "1.00 KiB");
    EXPECT_EQ(fmt_bytes(1000000), "977 KiB");
    EXPECT_EQ(fmt_bytes(15728640), "15.0 MiB");
    EXPECT_EQ(fmt_bytes(18446744073709551615ull), "16.0 EiB");
    EXPECT_EQ(fmt_bytes_si(15728640), "15.7 MB");
    EXPECT_EQ(fmt_bytes_both(1000), "1,000 B");
    EXPECT_EQ(fmt_bytes_both(1536), "1.50 KiB (1.54 kB)");
    EXPECT_EQ(fmt_hz(33000), "33 kHz");
    EXPECT_EQ(fmt_hz(999999999), "1,000 MHz");
    EXPECT_EQ(fmt_khz(18446744073709551615ull), "18,446,744,073.71 GHz"); // saturated
    EXPECT_EQ(fmt_mhz(2394.5605), "2.39 GHz");
    EXPECT_EQ(fmt_mhz(0), "");
    EXPECT_EQ(fmt_mhz(-1), "");
}

TEST(Format, DurationsAndColumns) {
    EXPECT_EQ(fmt_duration(86399), "23:59:59");
    EXPECT_EQ(fmt_duration(90061), "1 d 01:01:01");
    EXPECT_EQ(fmt_columns({"abc", "def", "ghi", "jkl", "mno"}, 10), "abc  def\nghi  jkl\nmno");
    // At least two per line even when one token is wider than the line.
    EXPECT_EQ(fmt_columns({"longtoken", "a", "b"}, 5), "longtoken  a\nb");
    EXPECT_EQ(fmt_columns({"a", "bb"}, 100), "a   bb");
}
