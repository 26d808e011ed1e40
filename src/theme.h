// Colours of the program: the light and dark palettes with the user's overrides, the colour
// arithmetic the drawn panels share, the style sheet that gives every widget the same colours,
// and the choice between dark and light. No toolkit here: all of it is plain text and numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct Settings;

struct Rgb {
    double r = 0, g = 0, b = 0; // 0.0 … 1.0
};

// Six hexadecimal digits with at most one leading "#". On failure `out` is left untouched.
bool hex_to_rgb(std::string_view hex, Rgb& out);
// "#RRGGBB" in upper case; channels outside 0…1 are clamped.
std::string rgb_to_hex(const Rgb& c);
Rgb mix(const Rgb& fg, const Rgb& bg, double alpha);
// `fg` unchanged when either colour does not parse, so a derived colour stays valid.
std::string mix_hex(const std::string& fg, const std::string& bg, double alpha);

struct Palette {
    bool dark = false;
    std::string background; // window
    std::string panel;      // lists, tree, menus, entries
    std::string text;
    std::string accent;     // selection, focus, section titles, locked rows
    std::string dim;        // secondary text, headers, status line
    std::string search_hit; // background of search hits
    std::string load_low;
    std::string load_mid;
    std::string load_high;

    static Palette light();
    static Palette dark_();
    // The built-in palette with the overrides of `s` for that appearance. Every colour of the
    // result is "#RRGGBB": overrides may be stored without "#", which GTK's CSS rejects.
    static Palette from_settings(const Settings& s, bool is_dark);

    bool operator==(const Palette&) const = default;
};

// The green-to-red ramp of the load bars and gauges, independent of the palette: green at 0 %,
// yellow-orange at 50 %, red at 100 % (and a darker red beyond).
Rgb load_color(double percent);

// The palette's own load ramp, which the user's load colours change: `load_low` at 0,
// `load_mid` at 0.5, `load_high` at 1, blended in between; `fraction` is clamped to [0, 1].
// A colour that does not parse counts as mid grey.
Rgb load_ramp(const Palette& p, double fraction);

// The style sheet for `p`; `ui_font_family` is put into the ".name-cell" rule as given.
std::string build_css(const Palette& p, std::string_view ui_font_family);

// The desktop theme's own hint: dark when it asks for the dark variant or is named "…dark…".
bool theme_hint_is_dark(bool prefer_dark_setting, std::string_view theme_name);

// What the desktop's "color-scheme" value says: 1 dark, 2 light, anything else no preference.
std::optional<bool> color_scheme_prefers_dark(std::optional<uint32_t> value);

// The resolved appearance for the `theme` setting. Only "auto" asks the desktop (through
// `ask_color_scheme`, which returns nothing when no portal answers); without a usable answer
// the desktop theme's hint decides.
bool decide_dark(std::string_view theme,
                 const std::function<std::optional<uint32_t>()>& ask_color_scheme,
                 bool startup_hint);
