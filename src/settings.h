// The user's preferences and the file that keeps them between runs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct Settings {
    std::string language = "auto"; // a catalog language code, or "auto"
    std::string theme = "auto";    // "auto", "light" or "dark"
    int32_t window_x = -1;         // negative: no position recorded, the window is centred
    int32_t window_y = -1;
    int32_t window_width = -1; // below 1: no size recorded
    int32_t window_height = -1;
    bool window_maximized = false;
    int32_t paned_position = -1; // below 1: the window chooses the divider
    std::string start_view;      // "", "tools", "storage", "network" or "sensors"
    bool show_sources = false;
    bool show_loop_devices = false;
    // Colour overrides: empty, or six hexadecimal digits with an optional leading "#".
    std::string bg_light, panel_light, text_light, accent_light, dim_light, hit_light;
    std::string bg_dark, panel_dark, text_dark, accent_dark, dim_dark, hit_dark;
    std::string load_low, load_mid, load_high;

    struct ColorField {
        const char* key;
        std::string Settings::*field;
    };
    // Every colour override with its key in the file (the field's own name), in file order.
    // Loading, saving and reset_colors walk this one table.
    static const std::array<ColorField, 15> color_fields;

    // Empties all fifteen overrides of both themes; does not save.
    void reset_colors();

    bool operator==(const Settings&) const = default;
};

class SettingsStore {
public:
    static SettingsStore& instance();

    const Settings& get() const { return m_settings; }
    Settings& mutable_get() { return m_settings; }

    // Full path of the settings file; creates its directory when missing. Empty when there is
    // none, or when the administrator would write it into another user's directory.
    std::string path() const;
    // The same path without touching the file system.
    static std::string file_path();

    // Applies what the file holds to the record; a missing or unreadable file changes nothing.
    void load();
    // Writes the whole record. The previous file stays whole when anything fails; false then,
    // with errno telling why.
    bool save() const;

    // The file's text for `s`, byte for byte as save writes it.
    static std::string to_text(const Settings& s);
    // Applies the keys found in `text` to `s` by the same tolerant rules as load.
    static void apply_text(std::string_view text, Settings& s);

private:
    SettingsStore() = default;
    // path(), with the reason in `err` when there is none.
    static std::string prepared_path(int& err);

    Settings m_settings;
};
