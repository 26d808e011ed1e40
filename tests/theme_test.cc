// Colour arithmetic, the palettes with their overrides, the style sheet, and the choice
// between dark and light.
#include "settings.h"
#include "theme.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

std::optional<uint32_t> never_asked() {
    ADD_FAILURE() << "the desktop was asked although the theme is fixed";
    return std::nullopt;
}

} // namespace

TEST(Colours, ParsingFormattingAndMixing) {
    Rgb c;
    for (const char* same : {"#1a5fb4", "1A5FB4"}) {
        Rgb d;
        ASSERT_TRUE(hex_to_rgb(same, d)) << same;
        EXPECT_EQ(rgb_to_hex(d), "#1A5FB4") << same;
    }
    for (const char* bad : {"", "#", "#1A5FB", "1A5FB41", "##1A5FB4", "#1A5FBG", "+1A5FB"}) {
        Rgb d{0.25, 0.5, 0.75};
        EXPECT_FALSE(hex_to_rgb(bad, d)) << bad;
        EXPECT_EQ(d.r + d.g + d.b, 1.5) << "a failed parse changed the output for " << bad;
    }
    EXPECT_EQ(rgb_to_hex({1.2, -0.1, 0.5}), "#FF0080");
    // Every byte survives the trip through doubles.
    for (int v = 0; v < 256; ++v) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%02X%02X%02X", v, 255 - v, v / 2);
        ASSERT_TRUE(hex_to_rgb(hex, c));
        ASSERT_EQ(rgb_to_hex(c), hex);
    }
    EXPECT_EQ(mix_hex("#FFFFFF", "#000000", 0.16), "#292929");
    EXPECT_EQ(mix_hex("#1A5FB4", "#FFFFFF", 0.13), "#E1EAF5");
    EXPECT_EQ(mix_hex("nonsense", "#000000", 0.5), "nonsense");
    EXPECT_EQ(mix_hex("#FF0000", "blue", 0.5), "#FF0000");
}

TEST(Colours, LoadRampAtItsBreakpoints) {
    const struct {
        double percent;
        Rgb expected;
    } cases[] = {
        {-5, {0.15, 0.7, 0.25}}, {0, {0.15, 0.7, 0.25}}, {25, {0.525, 0.7, 0.125}},
        {50, {0.9, 0.7, 0}},     {75, {0.9, 0.425, 0}},  {100, {0.9, 0.15, 0}},
        {180, {0.9, 0.15, 0}},
    };
    for (const auto& c : cases) {
        const Rgb got = load_color(c.percent);
        EXPECT_NEAR(got.r, c.expected.r, 1e-9) << c.percent;
        EXPECT_NEAR(got.g, c.expected.g, 1e-9) << c.percent;
        EXPECT_NEAR(got.b, c.expected.b, 1e-9) << c.percent;
    }
}

// The sensor cards' ramp follows the user's load colours, not a fixed green-to-red.
TEST(LoadColour, PaletteRampEndsAndMiddle) {
    Palette p = Palette::light();
    p.load_mid = "#0000FF", p.load_high = "not a colour";
    for (auto [f, hex] : {std::pair{-3.0, "#2EA043"}, {0.5, "#0000FF"}, {7.0, "#808080"}})
        EXPECT_EQ(rgb_to_hex(load_ramp(p, f)), hex) << f;
    EXPECT_EQ(rgb_to_hex(load_ramp(p, 0.25)), mix_hex("#0000FF", "#2EA043", 0.5));
}

TEST(Palettes, OverridesApplyToTheirThemeOnlyAndAreNormalised) {
    EXPECT_EQ(Palette::from_settings({}, false), Palette::light());
    EXPECT_EQ(Palette::from_settings({}, true), Palette::dark_());
    EXPECT_TRUE(Palette::dark_().dark);

    Settings s;
    s.bg_dark = "#000000";
    Palette expected = Palette::dark_();
    expected.background = "#000000";
    EXPECT_EQ(Palette::from_settings(s, true), expected);
    EXPECT_EQ(Palette::from_settings(s, false), Palette::light());

    s = {};
    s.accent_light = "ff8800"; // as a hand-edited file may hold it: GTK's CSS needs the "#"
    s.text_light = "#12345";   // invalid: the built-in colour stays
    s.load_high = "00ff00";
    s.dim_dark = "#111111";
    Palette l = Palette::from_settings(s, false);
    EXPECT_EQ(l.accent, "#FF8800");
    EXPECT_EQ(l.text, "#2E3436");
    EXPECT_EQ(l.dim, "#5E5C64");
    EXPECT_EQ(l.load_high, "#00FF00");
    EXPECT_EQ(Palette::from_settings(s, true).load_high, "#00FF00") << "load colours are shared";
}

// Each sheet carries its own palette only: a colour hard-wired into a rule would show light
// patches in the dark window or the other way round.
TEST(StyleSheet, EachSheetUsesOnlyItsOwnPalette) {
    const Palette light = Palette::light(), dark = Palette::dark_();
    const std::string light_css = build_css(light, "monospace");
    const std::string dark_css = build_css(dark, "sans-serif");
    using Case = std::tuple<Palette, Palette, std::string>;
    for (const auto& [own, other, css] :
         {Case{light, dark, light_css}, Case{dark, light, dark_css}})
        for (auto field : {&Palette::background, &Palette::panel, &Palette::text, &Palette::accent,
                           &Palette::dim, &Palette::search_hit}) {
            EXPECT_NE(css.find(own.*field), std::string::npos) << own.*field;
            // White is the selected text's colour in both.
            if (other.*field == "#FFFFFF") continue;
            EXPECT_EQ(css.find(other.*field), std::string::npos) << other.*field;
        }
    EXPECT_NE(dark_css.find(".name-cell {\n    font-family: sans-serif;\n}"), std::string::npos);
}

TEST(ThemeDecision, SettingPortalAndHint) {
    auto answers = [](std::optional<uint32_t> v) {
        return [v]() -> std::optional<uint32_t> { return v; };
    };
    // A fixed theme wins over everything and never asks the desktop.
    EXPECT_FALSE(decide_dark("light", never_asked, true));
    EXPECT_TRUE(decide_dark("dark", never_asked, false));
    // "auto": the portal decides when it says dark or light.
    EXPECT_TRUE(decide_dark("auto", answers(1), false));
    EXPECT_FALSE(decide_dark("auto", answers(2), true));
    // No preference, an unknown value, or no answer at all: the desktop theme's hint.
    for (bool hint : {false, true}) {
        EXPECT_EQ(decide_dark("auto", answers(0), hint), hint);
        EXPECT_EQ(decide_dark("auto", answers(7), hint), hint);
        EXPECT_EQ(decide_dark("auto", answers(std::nullopt), hint), hint);
        EXPECT_EQ(decide_dark("auto", nullptr, hint), hint);
    }
    // Anything that is not a fixed theme follows the desktop.
    EXPECT_TRUE(decide_dark("Dark", answers(1), false));

    EXPECT_TRUE(theme_hint_is_dark(false, "Adwaita-dark"));
    EXPECT_TRUE(theme_hint_is_dark(false, "HighContrastInverse"));
    EXPECT_TRUE(theme_hint_is_dark(true, "Adwaita"));
    EXPECT_FALSE(theme_hint_is_dark(false, "Adwaita"));
}
