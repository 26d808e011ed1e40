// Colour arithmetic, the palettes with their overrides, the style sheet, and the choice
// between dark and light.
#include "settings.h"
#include "theme.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* light_sheet = R"(
window, dialog, box, paned, notebook {
    background-color: #F2F1F0;
    color: #2E3436;
}
menubar {
    background-color: #F9F9F8;
    color: #2E3436;
    border-bottom: 1px solid #DEDFDF;
    padding: 1px 4px;
}
menubar > menuitem {
    padding: 4px 10px;
    border-radius: 5px;
}
menubar > menuitem:hover {
    background-color: #1A5FB4;
    color: #FFFFFF;
}
menu, popover, .popup {
    background-color: #FFFFFF;
    color: #2E3436;
}
menu menuitem {
    padding: 5px 8px;
}
menu menuitem:hover {
    background-color: #1A5FB4;
    color: #FFFFFF;
}
treeview.view, .view, scrolledwindow, viewport {
    background-color: #FFFFFF;
    color: #2E3436;
}
treeview.view {
    -GtkTreeView-grid-line-width: 0;
    -GtkTreeView-vertical-separator: 2;
}
treeview.view:selected,
treeview.view:selected:focus,
treeview.view:selected:hover {
    background-color: #1A5FB4;
    color: #FFFFFF;
}
treeview.view:hover {
    background-color: #DFE9F5;
}
treeview.view header button {
    background-color: #F9F9F8;
    color: #5E5C64;
    border: none;
    border-bottom: 1px solid #DEDFDF;
    padding: 6px 8px;
    font-weight: bold;
}
treeview.view header button:hover {
    background-color: #DFE9F5;
}
entry, entry.search, spinbutton {
    background-color: #FFFFFF;
    color: #2E3436;
    border: 1px solid #DEDFDF;
    border-radius: 6px;
    padding: 5px 8px;
}
entry:focus {
    border-color: #1A5FB4;
}
button {
    border-radius: 6px;
    background-image: none;
    background-color: #F9F9F8;
    color: #2E3436;
    border: 1px solid #DEDFDF;
    padding: 5px 14px;
}
button:hover {
    background-color: #DFE9F5;
}
*:focus, *:focus-visible {
    outline-color: #1A5FB4;
}
button:active, button:checked {
    background-color: #1A5FB4;
    color: #FFFFFF;
    border-color: #1A5FB4;
}
button:disabled {
    color: #5E5C64;
    background-color: #F2F1F0;
}
button.suggested-action {
    background-color: #1A5FB4;
    color: #FFFFFF;
    border-color: #1A5FB4;
}
button.destructive-action {
    background-color: #C0392B;
    color: #FFFFFF;
    border-color: #A93226;
}
button.destructive-action:hover {
    background-color: #D14434;
}
messagedialog, messagedialog box, messagedialog label,
dialog box, dialog label, headerbar {
    background-color: #F2F1F0;
    color: #2E3436;
}
messagedialog label, dialog label {
    background-color: transparent;
}
label {
    color: #2E3436;
}
.section-title {
    color: #1A5FB4;
    font-weight: bold;
}
.dim-text, .tree-summary {
    color: #5E5C64;
    font-size: 90%;
}
.name-cell {
    font-family: monospace;
}
.cmd-block {
    background-color: rgba(0,0,0,0.07);
    border: 1px solid #1A5FB4;
    border-radius: 4px;
    padding: 8px 10px;
}
.statusbar {
    padding: 4px 10px;
    font-size: 90%;
    color: #5E5C64;
    background-color: #F9F9F8;
    border-top: 1px solid #DEDFDF;
}
.search-hit {
    background-color: #F5C211;
}
scrollbar {
    background-color: transparent;
}
scrollbar slider {
    border-radius: 8px;
    min-width: 8px;
    min-height: 8px;
}
paned > separator {
    background-color: #DEDFDF;
    min-width: 1px;
}
.color-swatch,
.color-swatch colorswatch,
.color-swatch button {
    border: 1px solid #909090;
    border-radius: 4px;
    min-width: 44px;
    min-height: 22px;
}
)";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::optional<uint32_t> never_asked() {
    ADD_FAILURE() << "the desktop was asked although the theme is fixed";
    return std::nullopt;
}

} // namespace

TEST(Colours, ParsingFormattingAndMixing) {
    Rgb c;
    ASSERT_TRUE(hex_to_rgb("#1A5FB4", c));
    EXPECT_DOUBLE_EQ(c.r, 26 / 255.0);
    EXPECT_DOUBLE_EQ(c.g, 95 / 255.0);
    EXPECT_DOUBLE_EQ(c.b, 180 / 255.0);
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

TEST(StyleSheet, LightSheetIsExact) {
    EXPECT_EQ(build_css(Palette::light(), "monospace"), light_sheet);
}

TEST(StyleSheet, DarkSheetDiffersOnlyInItsColours) {
    std::string expected = light_sheet;
    // Derived colours first, then the palette's own, so no replacement hits a result.
    for (auto [from, to] : std::initializer_list<std::pair<const char*, const char*>>{
             {"#DEDFDF", "#424247"}, // line
             {"#DFE9F5", "#2E3543"}, // hover
             {"#F9F9F8", "#1D1D21"}, // header
             {"#F2F1F0", "#17171A"},
             {"background-color: #FFFFFF", "background-color: #212126"},
             {"#2E3436", "#F2F2F5"},
             {"#1A5FB4", "#7FB3F5"},
             {"#5E5C64", "#ADADB5"},
             {"#F5C211", "#7A5E00"},
             {"rgba(0,0,0,0.07)", "rgba(255,255,255,0.10)"},
             {"#909090", "#8A8A8E"},
             {"font-family: monospace", "font-family: sans-serif"}})
        expected = replaced(expected, from, to);
    EXPECT_EQ(build_css(Palette::dark_(), "sans-serif"), expected);
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
        EXPECT_EQ(decide_dark("auto", answers(std::nullopt), hint), hint);
        EXPECT_EQ(decide_dark("auto", nullptr, hint), hint);
    }
    // Anything that is not a fixed theme follows the desktop.
    EXPECT_TRUE(decide_dark("Dark", answers(1), false));

    EXPECT_TRUE(theme_hint_is_dark(false, "Adwaita-dark"));
    EXPECT_TRUE(theme_hint_is_dark(true, "Adwaita"));
    EXPECT_FALSE(theme_hint_is_dark(false, "Adwaita"));
}
