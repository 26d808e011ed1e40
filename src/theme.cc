#include "theme.h"

#include "settings.h"
#include "util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

int channel_byte(double c) {
    double v = std::trunc(c * 255.0 + 0.5);
    if (!(v >= 0)) return 0; // also NaN
    if (v > 255) return 255;
    return static_cast<int>(v);
}

// A valid override, written the one way GTK's CSS parser accepts.
void apply_override(std::string& colour, const std::string& override_value) {
    Rgb c;
    if (!override_value.empty() && hex_to_rgb(override_value, c)) colour = rgb_to_hex(c);
}

// One rule: the selector, then each declaration on its own line.
class Sheet {
public:
    void rule(std::string_view selector, std::initializer_list<std::string> declarations) {
        m_text += selector;
        m_text += " {\n";
        for (const auto& d : declarations) {
            m_text += "    ";
            m_text += d;
            m_text += ";\n";
        }
        m_text += "}\n";
    }
    std::string take() { return std::move(m_text); }

private:
    std::string m_text = "\n";
};

std::string decl(std::string_view property, std::string_view value) {
    std::string d(property);
    d += ": ";
    d += value;
    return d;
}

} // namespace

bool hex_to_rgb(std::string_view hex, Rgb& out) {
    if (!hex.empty() && hex[0] == '#') hex.remove_prefix(1);
    if (hex.size() != 6) return false;
    int v[6];
    for (size_t i = 0; i < 6; ++i)
        if ((v[i] = util::hex_digit(hex[i])) < 0) return false;
    out.r = (v[0] * 16 + v[1]) / 255.0;
    out.g = (v[2] * 16 + v[3]) / 255.0;
    out.b = (v[4] * 16 + v[5]) / 255.0;
    return true;
}

std::string rgb_to_hex(const Rgb& c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", channel_byte(c.r), channel_byte(c.g),
                  channel_byte(c.b));
    return buf;
}

Rgb mix(const Rgb& fg, const Rgb& bg, double alpha) {
    return {fg.r * alpha + bg.r * (1 - alpha), fg.g * alpha + bg.g * (1 - alpha),
            fg.b * alpha + bg.b * (1 - alpha)};
}

Rgb load_color(double percent) {
    const double f = percent / 100;
    if (f < 0) return {0.15, 0.7, 0.25};
    if (f < 0.5) return {0.15 + 0.75 * 2 * f, 0.7, 0.25 * (1 - 2 * f)};
    if (f > 1) return {0.9, 0.15, 0};
    return {0.9, 0.7 - 0.55 * 2 * (f - 0.5), 0};
}

namespace {

double relative_luminance(const Rgb& c) {
    auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

} // namespace

double contrast_ratio(const std::string& a, const std::string& b) {
    Rgb x, y;
    if (!hex_to_rgb(a, x) || !hex_to_rgb(b, y)) return 1;
    double la = relative_luminance(x), lb = relative_luminance(y);
    if (la < lb) std::swap(la, lb);
    return (la + 0.05) / (lb + 0.05);
}

std::string ink_on(const std::string& background) {
    const std::string white = "#FFFFFF", dark = "#17171A";
    return contrast_ratio(white, background) >= contrast_ratio(dark, background) ? white : dark;
}

Rgb load_ramp(const Palette& p, double fraction) {
    auto colour = [](const std::string& hex) {
        Rgb c{0.5, 0.5, 0.5};
        hex_to_rgb(hex, c);
        return c;
    };
    const double f = std::isnan(fraction) ? 0 : std::clamp(fraction, 0.0, 1.0);
    if (f <= 0.5) return mix(colour(p.load_mid), colour(p.load_low), f * 2);
    return mix(colour(p.load_high), colour(p.load_mid), (f - 0.5) * 2);
}

std::string mix_hex(const std::string& fg, const std::string& bg, double alpha) {
    Rgb f, b;
    if (!hex_to_rgb(fg, f) || !hex_to_rgb(bg, b)) return fg;
    return rgb_to_hex(mix(f, b, alpha));
}

Palette Palette::light() {
    return {false,     "#F2F1F0", "#FFFFFF", "#2E3436", "#1A5FB4",
            "#5E5C64", "#F5C211", "#2EA043", "#E3B341", "#E5484D"};
}

Palette Palette::dark_() {
    return {true,      "#17171A", "#212126", "#F2F2F5", "#7FB3F5",
            "#ADADB5", "#7A5E00", "#2EA043", "#E3B341", "#E5484D"};
}

Palette Palette::from_settings(const Settings& s, bool is_dark) {
    Palette p = is_dark ? dark_() : light();
    apply_override(p.background, is_dark ? s.bg_dark : s.bg_light);
    apply_override(p.panel, is_dark ? s.panel_dark : s.panel_light);
    apply_override(p.text, is_dark ? s.text_dark : s.text_light);
    apply_override(p.accent, is_dark ? s.accent_dark : s.accent_light);
    apply_override(p.dim, is_dark ? s.dim_dark : s.dim_light);
    apply_override(p.search_hit, is_dark ? s.hit_dark : s.hit_light);
    apply_override(p.load_low, s.load_low);
    apply_override(p.load_mid, s.load_mid);
    apply_override(p.load_high, s.load_high);
    return p;
}

std::string build_css(const Palette& p, std::string_view ui_font_family) {
    const std::string line = mix_hex(p.text, p.panel, 0.16);
    const std::string hover = mix_hex(p.accent, p.panel, 0.14);
    const std::string header = mix_hex(p.panel, p.background, 0.55);
    const std::string sel_fg = ink_on(p.accent);
    const std::string& B = p.background;
    const std::string& P = p.panel;
    const std::string& T = p.text;
    const std::string& A = p.accent;
    const std::string& D = p.dim;
    const std::string& H = p.search_hit;
    const std::string bg = "background-color";
    const std::string solid_line = "1px solid " + line;

    Sheet s;
    s.rule("window, dialog, box, paned, notebook", {decl(bg, B), decl("color", T)});
    s.rule("menubar", {decl(bg, header), decl("color", T), decl("border-bottom", solid_line),
                       decl("padding", "1px 4px")});
    s.rule("menubar > menuitem", {decl("padding", "4px 10px"), decl("border-radius", "5px")});
    s.rule("menubar > menuitem:hover", {decl(bg, A), decl("color", sel_fg)});
    s.rule("menu, popover, .popup", {decl(bg, P), decl("color", T)});
    s.rule("menu menuitem", {decl("padding", "5px 8px")});
    s.rule("menu menuitem:hover", {decl(bg, A), decl("color", sel_fg)});
    s.rule("treeview.view, .view, scrolledwindow, viewport", {decl(bg, P), decl("color", T)});
    // A pane that scrolls a dialog's text: in the dialog's colour, so its margins read as the
    // text's padding rather than as a white frame around a grey block.
    s.rule(".dialog-pane, .dialog-pane > viewport", {decl(bg, B)});
    s.rule("treeview.view", {decl("-GtkTreeView-grid-line-width", "0"),
                             decl("-GtkTreeView-vertical-separator", "2")});
    s.rule("treeview.view:selected,\ntreeview.view:selected:focus,\ntreeview.view:selected:hover",
           {decl(bg, A), decl("color", sel_fg)});
    s.rule("treeview.view:hover", {decl(bg, hover)});
    // The toolkit's own arrows, not the icon theme's: the same triangles, and the icon theme
    // need not be loaded before the first frame.
    s.rule("treeview.view.expander", {decl("-gtk-icon-source", "builtin")});
    // Text marked in entries and selectable labels, which the desktop theme would colour.
    s.rule("selection", {decl(bg, A), decl("color", sel_fg)});
    s.rule("treeview.view header button",
           {decl(bg, header), decl("color", D), decl("border", "none"),
            decl("border-bottom", solid_line), decl("padding", "6px 8px"),
            decl("font-weight", "bold")});
    s.rule("treeview.view header button:hover", {decl(bg, hover)});
    s.rule("entry, entry.search, spinbutton",
           {decl(bg, P), decl("color", T), decl("border", solid_line), decl("border-radius", "6px"),
            decl("padding", "5px 8px")});
    s.rule("entry:focus", {decl("border-color", A)});
    // The entries' icons, the search's clear button among them, in the palette's colours: the
    // desktop theme's grey stood at 2.4:1 on the dark palette's lists, and at 1.6:1 (a pale
    // grey on white) under the inverted high-contrast theme.
    s.rule("entry image", {decl("color", D)});
    s.rule("entry image:hover", {decl("color", T)});
    s.rule("button",
           {decl("border-radius", "6px"), decl("background-image", "none"), decl(bg, header),
            decl("color", T), decl("border", solid_line), decl("padding", "5px 14px")});
    s.rule("button:hover", {decl(bg, hover)});
    s.rule("*:focus, *:focus-visible", {decl("outline-color", A)});
    // The cursor's ring on a selected row, which is filled with the accent: in the accent it
    // could not be seen, and nothing else tells which list has the keyboard.
    s.rule("treeview.view:selected:focus", {decl("outline-color", sel_fg)});
    s.rule("button:active, button:checked",
           {decl(bg, A), decl("color", sel_fg), decl("border-color", A)});
    s.rule("button:disabled", {decl("color", D), decl(bg, B)});
    s.rule("button.suggested-action",
           {decl(bg, A), decl("color", sel_fg), decl("border-color", A)});
    s.rule("button.destructive-action",
           {decl(bg, "#C0392B"), decl("color", "#FFFFFF"), decl("border-color", "#A93226")});
    s.rule("button.destructive-action:hover", {decl(bg, "#D14434")});
    s.rule("messagedialog, messagedialog box, messagedialog label,\n"
           "dialog box, dialog label, headerbar",
           {decl(bg, B), decl("color", T)});
    s.rule("messagedialog label, dialog label", {decl(bg, "transparent")});
    s.rule("label", {decl("color", T)});
    // Labels take the rule above over what their accent-coloured parent says. Only a direct
    // child: a menu that pops up from a hovered item counts as that item's descendant.
    s.rule("menubar > menuitem:hover > label,\nmenu menuitem:hover > label,\n"
           "button:active > label,\nbutton:checked > label,\nbutton.suggested-action > label",
           {decl("color", sel_fg)});
    s.rule("button.destructive-action > label", {decl("color", "#FFFFFF")});
    s.rule("button:disabled > label,\ntreeview.view header button > label", {decl("color", D)});
    s.rule(".section-title", {decl("color", A), decl("font-weight", "bold")});
    s.rule(".dim-text, .tree-summary", {decl("color", D), decl("font-size", "90%")});
    s.rule(".name-cell", {decl("font-family", ui_font_family)});
    s.rule(".cmd-block", {decl(bg, p.dark ? "rgba(255,255,255,0.10)" : "rgba(0,0,0,0.07)"),
                          decl("border", "1px solid " + A), decl("border-radius", "4px"),
                          decl("padding", "8px 10px")});
    s.rule(".statusbar", {decl("padding", "4px 10px"), decl("font-size", "90%"), decl("color", D),
                          decl(bg, header), decl("border-top", solid_line)});
    s.rule(".search-hit", {decl(bg, H)});
    s.rule("scrollbar", {decl(bg, "transparent")});
    s.rule("scrollbar slider",
           {decl("border-radius", "8px"), decl("min-width", "8px"), decl("min-height", "8px")});
    s.rule("paned > separator", {decl(bg, line), decl("min-width", "1px")});
    s.rule(".color-swatch,\n.color-swatch colorswatch,\n.color-swatch button",
           {decl("border", p.dark ? "1px solid #8A8A8E" : "1px solid #909090"),
            decl("border-radius", "4px"), decl("min-width", "44px"), decl("min-height", "22px")});

    // Not cut to any length: a sheet cut inside a rule would lose that rule and all after it.
    return s.take();
}

bool theme_hint_is_dark(bool prefer_dark_setting, std::string_view theme_name) {
    const std::string name = util::lower(theme_name);
    // The toolkit's own "HighContrastInverse" is light text on black.
    return prefer_dark_setting || name.find("dark") != std::string::npos ||
           name.find("inverse") != std::string::npos;
}

std::optional<bool> color_scheme_prefers_dark(std::optional<uint32_t> value) {
    if (value == 1u) return true;
    if (value == 2u) return false;
    return std::nullopt;
}

bool decide_dark(std::string_view theme,
                 const std::function<std::optional<uint32_t>()>& ask_color_scheme,
                 bool startup_hint) {
    if (theme == "dark") return true;
    if (theme == "light") return false;
    std::optional<uint32_t> answer = ask_color_scheme ? ask_color_scheme() : std::nullopt;
    return color_scheme_prefers_dark(answer).value_or(startup_hint);
}
