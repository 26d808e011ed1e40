#include "settings.h"

#include "host.h"
#include "i18n.h"
#include "theme.h"
#include "util.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const std::array<Settings::ColorField, 15> Settings::color_fields = {{
    {"bg_light", &Settings::bg_light},
    {"panel_light", &Settings::panel_light},
    {"text_light", &Settings::text_light},
    {"accent_light", &Settings::accent_light},
    {"dim_light", &Settings::dim_light},
    {"hit_light", &Settings::hit_light},
    {"bg_dark", &Settings::bg_dark},
    {"panel_dark", &Settings::panel_dark},
    {"text_dark", &Settings::text_dark},
    {"accent_dark", &Settings::accent_dark},
    {"dim_dark", &Settings::dim_dark},
    {"hit_dark", &Settings::hit_dark},
    {"load_low", &Settings::load_low},
    {"load_mid", &Settings::load_mid},
    {"load_high", &Settings::load_high},
}};

void Settings::reset_colors() {
    for (const auto& c : color_fields)
        (this->*c.field).clear();
}

namespace {

// The program writes well under a kilobyte. A larger file was not written by it; the cap keeps
// a huge file or a link to an endless device from exhausting memory.
constexpr size_t max_file_size = 1 << 20;

// Environment variables that name directories. An empty or relative value is no directory:
// taken literally it would put the file at "/Quarvel" or wherever the program was started.
const char* absolute_env(const char* name) {
    const char* v = std::getenv(name);
    return v && v[0] == '/' ? v : nullptr;
}

// Empty when there is no home directory at all: the settings are then kept in memory only.
std::string settings_directory() {
    if (const char* snap = absolute_env("SNAP_USER_COMMON")) return std::string(snap) + "/config";
    if (const char* xdg = absolute_env("XDG_CONFIG_HOME")) return std::string(xdg) + "/Quarvel";
    const char* home = absolute_env("HOME");
    // Without HOME (a service, a cleared environment) the home directory is the one the
    // password file names; the working directory would scatter settings over the file system.
    std::string base = home ? home : host::own_account().home;
    return base.empty() ? base : base + "/.config/Quarvel";
}

// Whether the administrator would write into somebody else's directory: run with the user's
// HOME (sudo keeps it on some systems), it would leave root-owned directories and files there
// that make every later save of the user fail. The nearest part of the path that exists tells.
bool in_foreign_directory(const std::string& dir) {
    if (::geteuid() != 0) return false;
    for (std::filesystem::path p = dir; !p.empty(); p = p.parent_path()) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0) return st.st_uid != 0;
        if (p == p.parent_path()) break;
    }
    return false;
}

// Position just after the first `"key"` and the ':' that follows it, or npos.
size_t value_start(std::string_view text, std::string_view key) {
    std::string quoted = "\"" + std::string(key) + "\"";
    size_t at = text.find(quoted);
    if (at == std::string_view::npos) return at;
    size_t colon = text.find(':', at + quoted.size());
    return colon == std::string_view::npos ? colon : colon + 1;
}

// The text between the first two double quotes after the key's colon; empty when absent.
std::string string_value(std::string_view text, std::string_view key) {
    size_t from = value_start(text, key);
    if (from == std::string_view::npos) return {};
    size_t open = text.find('"', from);
    if (open == std::string_view::npos) return {};
    size_t close = text.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(text.substr(open + 1, close - open - 1));
}

int32_t number_value(std::string_view text, std::string_view key, int32_t def) {
    size_t from = value_start(text, key);
    if (from == std::string_view::npos) return def;
    size_t end = text.find_first_of(",}\n", from);
    if (end == std::string_view::npos) end = text.size();
    std::string raw = util::trim(text.substr(from, end - from));
    if (raw.empty()) return def;
    if (raw == "true") return 1;
    if (raw == "false") return 0;
    // to_i64 would take "12px" or "+3" as numbers; the file only ever holds plain integers.
    std::string_view digits = raw;
    if (digits[0] == '-') digits.remove_prefix(1);
    if (!util::all_digits(digits)) return def;
    int64_t v = util::to_i64(raw, def);
    // Cutting a larger number to 32 bits would give an arbitrary geometry instead of none.
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return def;
    return static_cast<int32_t>(v);
}

bool is_catalog_language(const std::string& code) {
    for (const auto& l : I18n::available())
        if (l.code == code) return true;
    return false;
}

} // namespace

SettingsStore& SettingsStore::instance() {
    static SettingsStore* the = new SettingsStore();
    return *the;
}

std::string SettingsStore::file_path() {
    std::string dir = settings_directory();
    return dir.empty() ? dir : dir + "/settings.json";
}

std::string SettingsStore::prepared_path(int& err) {
    std::string dir = settings_directory();
    if (dir.empty() || in_foreign_directory(dir)) {
        err = dir.empty() ? ENOENT : EPERM;
        return {};
    }
    // The folder's own failure (a read-only parent) tells the user more than the missing
    // folder the file's write would then meet.
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        err = ec.value();
        return {};
    }
    err = 0;
    return dir + "/settings.json";
}

std::string SettingsStore::path() const {
    int err = 0;
    return prepared_path(err);
}

void SettingsStore::apply_text(std::string_view text, Settings& s) {
    std::string language = string_value(text, "language");
    if (language == "auto" || (!language.empty() && is_catalog_language(language)))
        s.language = language;

    std::string theme = string_value(text, "theme");
    if (theme == "auto" || theme == "light" || theme == "dark") s.theme = theme;

    for (const auto& c : Settings::color_fields) {
        std::string v = string_value(text, c.key);
        Rgb parsed;
        if (hex_to_rgb(v, parsed)) s.*c.field = v;
    }

    s.window_x = number_value(text, "window_x", -1);
    s.window_y = number_value(text, "window_y", -1);
    s.window_width = number_value(text, "window_width", -1);
    s.window_height = number_value(text, "window_height", -1);
    s.window_maximized = number_value(text, "window_maximized", 0) != 0;
    s.paned_position = number_value(text, "paned_position", -1);
    s.show_sources = number_value(text, "show_sources", 0) != 0;
    s.show_loop_devices = number_value(text, "show_loop_devices", 0) != 0;

    std::string view = string_value(text, "start_view");
    if (view == "tools" || view == "storage" || view == "network" || view == "sensors")
        s.start_view = view;

    if (s.window_width < 1) s.window_width = -1;
    if (s.window_height < 1) s.window_height = -1;
}

std::string SettingsStore::to_text(const Settings& s) {
    auto boolean = [](bool b) { return b ? "true" : "false"; };
    std::string t = "{\n";
    t += "  \"language\": \"" + s.language + "\",\n";
    t += "  \"theme\": \"" + s.theme + "\",\n";
    t += "  \"window_x\": " + std::to_string(s.window_x) + ",\n";
    t += "  \"window_y\": " + std::to_string(s.window_y) + ",\n";
    t += "  \"window_width\": " + std::to_string(s.window_width) + ",\n";
    t += "  \"window_height\": " + std::to_string(s.window_height) + ",\n";
    t += std::string("  \"window_maximized\": ") + boolean(s.window_maximized) + ",\n";
    t += "  \"paned_position\": " + std::to_string(s.paned_position) + ",\n";
    t += std::string("  \"show_sources\": ") + boolean(s.show_sources) + ",\n";
    t += std::string("  \"show_loop_devices\": ") + boolean(s.show_loop_devices) + ",\n";
    t += "  \"start_view\": \"" + s.start_view + "\"";
    for (const auto& c : Settings::color_fields) {
        const std::string& v = s.*c.field;
        if (!v.empty()) t += ",\n  \"" + std::string(c.key) + "\": \"" + v + "\"";
    }
    t += "\n}\n";
    return t;
}

// Only reads: a first run as root with the user's HOME must not leave a root-owned
// directory behind that makes every later save of the user fail.
void SettingsStore::load() {
    std::string text;
    std::string file = file_path();
    if (file.empty() || !util::read_own_file(file, max_file_size, text)) return;
    apply_text(text, m_settings);
}

// A crash, a full disk or a second copy of the program saving at the same moment never leaves
// a partial file behind. The file is the user's alone.
bool SettingsStore::save() const {
    int err = 0;
    std::string target = prepared_path(err);
    if (target.empty()) {
        errno = err;
        return false;
    }
    errno = 0; // a failure that sets none still gets a reason, not a stale one
    if (util::replace_file(target, to_text(m_settings), 0600, /*wait_for_reader=*/false))
        return true;
    if (errno == 0) errno = EIO;
    return false;
}
