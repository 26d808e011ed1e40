// The settings file: where it lives, what survives a damaged or hand-edited file, the exact
// bytes written, and that a save never leaves a partial file behind.
#include "entry.h"
#include "i18n.h"
#include "settings.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::read_whole_file;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

Settings parsed(const std::string& text, Settings start = {}) {
    SettingsStore::apply_text(text, start);
    return start;
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Settings every_field_changed() {
    Settings s;
    s.language = "de", s.theme = "dark", s.start_view = "sensors";
    s.window_x = -2147483647 - 1, s.window_y = 2147483647, s.paned_position = 0;
    s.window_width = 1280, s.window_height = 800;
    s.window_maximized = s.show_sources = s.show_loop_devices = true;
    int i = 0;
    for (const auto& c : Settings::color_fields) // both spellings: with and without "#"
        s.*c.field = i++ % 2 ? "#0A1B2C" : "ab12f" + std::to_string(i % 10);
    return s;
}

// Points the store at a fresh configuration directory and starts from the defaults.
class SettingsFile : public ::testing::Test {
protected:
    TempDir m_home;
    ScopedEnv m_snap{"SNAP_USER_COMMON", std::nullopt};
    ScopedEnv m_xdg{"XDG_CONFIG_HOME", m_home.path()};
    std::string m_dir = m_home.path() + "/Quarvel";
    std::string m_file = m_dir + "/settings.json";

    void SetUp() override { store().mutable_get() = Settings{}; }
    void TearDown() override { store().mutable_get() = Settings{}; }
    static SettingsStore& store() { return SettingsStore::instance(); }
};

} // namespace

TEST_F(SettingsFile, DefaultsWithoutFileAndTheFirstSave) {
    store().load();
    const Settings& s = store().get();
    EXPECT_EQ(s.language + s.theme + s.start_view, "autoauto");
    EXPECT_EQ(s.window_x + s.window_y + s.window_width + s.window_height + s.paned_position, -5);
    EXPECT_FALSE(s.window_maximized || s.show_sources || s.show_loop_devices);
    for (const auto& c : Settings::color_fields)
        EXPECT_EQ(s.*c.field, "") << c.key;
    EXPECT_FALSE(std::filesystem::exists(m_dir)) << "loading must not create directories";

    EXPECT_TRUE(store().save());
    EXPECT_EQ(read_whole_file(m_file), "{\n"
                                       "  \"language\": \"auto\",\n"
                                       "  \"theme\": \"auto\",\n"
                                       "  \"window_x\": -1,\n"
                                       "  \"window_y\": -1,\n"
                                       "  \"window_width\": -1,\n"
                                       "  \"window_height\": -1,\n"
                                       "  \"window_maximized\": false,\n"
                                       "  \"paned_position\": -1,\n"
                                       "  \"show_sources\": false,\n"
                                       "  \"show_loop_devices\": false,\n"
                                       "  \"start_view\": \"\"\n"
                                       "}\n");
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsFile, SaveThenLoadReproducesEveryField) {
    const Settings changed = every_field_changed();
    store().mutable_get() = changed;
    ASSERT_TRUE(store().save());
    store().mutable_get() = Settings{};
    store().load();
    EXPECT_EQ(store().get(), changed);

    // Colours follow "start_view" in table order, the comma moving to the line before.
    Settings two;
    two.load_high = "#C01C28";
    two.bg_light = "#FAFAFA";
    EXPECT_TRUE(util::ends_with(SettingsStore::to_text(two),
                                "  \"start_view\": \"\",\n  \"bg_light\": \"#FAFAFA\",\n"
                                "  \"load_high\": \"#C01C28\"\n}\n"));

    store().mutable_get().reset_colors();
    for (const auto& c : Settings::color_fields)
        EXPECT_EQ(store().get().*c.field, "") << c.key;
    EXPECT_EQ(store().get().language, "de");
}

TEST(SettingsText, EachKeyTakesOnlyValidValues) {
    EXPECT_EQ(parsed(R"({"theme": "Dark"})").theme, "auto");
    EXPECT_EQ(parsed(R"({"theme":"light"})").theme, "light");
    EXPECT_EQ(parsed(R"({"mytheme": "dark"})").theme, "auto"); // only the quoted word
    Settings german = parsed(R"({"language": "de"})");
    for (const char* bad : {R"({"language": "xx"})", R"({"language": ""})"})
        EXPECT_EQ(parsed(bad, german).language, "de") << bad;
    EXPECT_EQ(parsed(R"({"language": "auto"})", german).language, "auto");
    EXPECT_EQ(parsed(R"({"start_view": "Storage"})").start_view, "");
    EXPECT_EQ(parsed(R"({"start_view": "network"})").start_view, "network");
    EXPECT_EQ(parsed(R"({"bg_dark": "1a5fb4"})").bg_dark, "1a5fb4");
    for (const char* bad :
         {R"({"bg_dark": "#1A5FB"})", R"({"bg_dark": "#1A5FBG"})", R"({"bg_dark": "##1A5FB4"})"})
        EXPECT_EQ(parsed(bad).bg_dark, "") << bad;

    EXPECT_EQ(parsed(R"({"window_width": 0})").window_width, -1);
    EXPECT_EQ(parsed(R"({"window_x": -5})").window_x, -5);
    EXPECT_EQ(parsed(R"({"window_x": 12px})").window_x, -1);
    EXPECT_EQ(parsed(R"({"window_x": "12"})").window_x, -1);
    EXPECT_EQ(parsed("{\"window_y\":\t 33 \r\n}").window_y, 33);
    EXPECT_TRUE(parsed(R"({"window_maximized": 1})").window_maximized);
    EXPECT_FALSE(parsed(R"({"window_maximized": yes})").window_maximized);
    // Beyond 32 bits a number is unusable, not wrapped into an arbitrary geometry.
    EXPECT_EQ(parsed(R"({"window_width": 4294968096})").window_width, -1);
    EXPECT_EQ(parsed(R"({"window_x": -2147483649})").window_x, -1);

    // A missing number key returns to its default; a missing string key keeps its value.
    Settings after = parsed(R"({"window_y": 5})", every_field_changed());
    EXPECT_EQ(after.window_x, -1);
    EXPECT_FALSE(after.show_sources);
    EXPECT_EQ(after.theme, "dark");
}

TEST(SettingsText, DamagedAndHandEditedFiles) {
    Settings twice = parsed(R"({"theme": "dark", "window_x": 3, "theme": "light", "window_x": 9})");
    EXPECT_EQ(twice.theme, "dark");
    EXPECT_EQ(twice.window_x, 3);

    // Missing quotes spoil only the keys they touch.
    Settings unquoted = parsed("{language: de, theme: \"dark\",\n\"window_y\": 20}");
    EXPECT_EQ(unquoted.language + unquoted.theme, "autoauto");
    EXPECT_EQ(unquoted.window_y, 20);

    // A file cut short: the keys before the cut are read, the one cut in half is not.
    std::string text = SettingsStore::to_text(every_field_changed());
    Settings cut = parsed(text.substr(0, text.find("\"window_maximized\"") + 12));
    EXPECT_EQ(cut.theme, "dark");
    EXPECT_EQ(cut.window_height, 800);
    EXPECT_FALSE(cut.window_maximized);
    for (size_t n = 0; n <= text.size(); ++n)
        parsed(text.substr(0, n));

    std::string binary("\x00\xff\"\x01:\x7f", 6);
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i * 37);
    binary += std::string("\"theme\": \"dark\"\x00\"window_x\": 77\x00", 31);
    Settings b = parsed(binary);
    EXPECT_EQ(b.theme, "dark");
    EXPECT_EQ(b.window_x, 77);
}

TEST_F(SettingsFile, HugeAndSpecialFilesAreReadSafely) {
    m_home.write("Quarvel/settings.json",
                 "{\"theme\": \"dark\",\n" + std::string(8 << 20, 'x') + "\"show_sources\": true}");
    store().load();
    EXPECT_EQ(store().get().theme, "dark");
    EXPECT_FALSE(store().get().show_sources); // only the head of an oversized file is read

    // An endless device, a FIFO without writer or a directory must not hang or fault.
    std::filesystem::remove(m_file);
    std::filesystem::create_symlink("/dev/zero", m_file);
    store().load();
    std::filesystem::remove(m_file);
    ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0);
    store().load();
    std::filesystem::remove(m_file);
    std::filesystem::create_directory(m_file);
    store().load();
    EXPECT_EQ(store().get().theme, "dark");
}

TEST(SettingsPath, DirectoryRules) {
    ScopedEnv snap("SNAP_USER_COMMON", "/x");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(SettingsStore::file_path(), "/x/config/settings.json");
    ScopedEnv no_snap("SNAP_USER_COMMON", std::nullopt);
    EXPECT_EQ(SettingsStore::file_path(), "/cfg/Quarvel/settings.json");
    // Empty or relative values name no directory.
    for (const char* xdg_value : {"conf", ""}) {
        ScopedEnv empty_snap("SNAP_USER_COMMON", "");
        ScopedEnv other_xdg("XDG_CONFIG_HOME", xdg_value);
        EXPECT_EQ(SettingsStore::file_path(), "/home/u/.config/Quarvel/settings.json");
    }
    ScopedEnv no_xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(SettingsStore::file_path(), "/home/u/.config/Quarvel/settings.json");
    ScopedEnv no_home("HOME", std::nullopt);
    EXPECT_EQ(SettingsStore::file_path(), "./.config/Quarvel/settings.json");
}

TEST_F(SettingsFile, FailedSavesKeepTheOldFileWhole) {
    const std::string old = "{\"theme\": \"dark\"}\n";
    m_home.write("Quarvel/settings.json", old);
    store().mutable_get().theme = "light";

    // The disk fills up half-way (the file size limit stands in for it).
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {64, 64};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(SettingsStore::instance().save() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a failed save reported success";
    EXPECT_EQ(read_whole_file(m_file), old);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});

    testing_support::open_up(m_home.path(), {"Quarvel"}, 0555);
    EXPECT_TRUE(
        testing_support::as_unprivileged_user([] { return !SettingsStore::instance().save(); }));
    EXPECT_EQ(read_whole_file(m_file), old);
}

TEST_F(SettingsFile, TwoCopiesSavingAtOnceNeverMixTheirFiles) {
    const Settings a = every_field_changed(), b = parsed(R"({"theme": "light"})");
    const std::string text_a = SettingsStore::to_text(a), text_b = SettingsStore::to_text(b);
    store().mutable_get() = b;
    ASSERT_TRUE(store().save());
    std::vector<pid_t> writers;
    for (const Settings* s : {&a, &b}) {
        if (pid_t pid = fork(); pid != 0) {
            writers.push_back(pid);
            continue;
        }
        SettingsStore::instance().mutable_get() = *s;
        for (int i = 0; i < 60; ++i)
            SettingsStore::instance().save();
        _exit(0);
    }
    int mixed = 0;
    for (bool running = true; running;) {
        running = false;
        for (pid_t pid : writers)
            running = waitpid(pid, nullptr, WNOHANG) == 0 || running;
        std::string now = read_whole_file(m_file);
        mixed += now != text_a && now != text_b;
    }
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

// Report mode takes the saved language, and with it the number separators, but never writes.
class ReportSettings : public SettingsFile {
protected:
    TempDir m_machine;
    ScopedEnv m_root{"QUARVEL_SYSROOT", m_machine.path()};
    ScopedEnv m_display{"DISPLAY", std::nullopt};
    ScopedEnv m_wayland{"WAYLAND_DISPLAY", std::nullopt};
    ScopedEnv m_language{"LANGUAGE", "en"};

    // The number format the report was written with, "" when the report failed.
    static std::string report_number_format() {
        std::string out = "/dev/null";
        char* argv[] = {out.data(), const_cast<char*>("--report"), out.data(), nullptr};
        if (entry::run_report_mode(3, argv) != 0) return "";
        return util::fmt_double(1234.5, 1);
    }
    void TearDown() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
        SettingsFile::TearDown();
    }
};

TEST_F(ReportSettings, SavedLanguageSetsTheSeparators) {
    EXPECT_EQ(report_number_format(), "1,234.5");
    EXPECT_FALSE(std::filesystem::exists(m_dir));

    const std::string text = "{\n  \"language\": \"de\"\n}\n";
    m_home.write("Quarvel/settings.json", text);
    EXPECT_EQ(report_number_format(), "1.234,5");
    EXPECT_EQ(I18n::instance().effective_language(), "de");
    EXPECT_EQ(read_whole_file(m_file), text);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

TEST_F(ReportSettings, UnreadableSettingsChangeNothing) {
    m_home.write("Quarvel/settings.json", "{\"language\": \"de\"}");
    testing_support::open_up(m_machine.path());
    testing_support::open_up(m_home.path(), {"Quarvel/settings.json"});
    EXPECT_TRUE(
        testing_support::as_unprivileged_user([] { return report_number_format() == "1,234.5"; }));
}
