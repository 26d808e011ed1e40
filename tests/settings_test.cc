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
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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

Settings every_field_changed() {
    Settings s;
    s.language = "de";
    s.theme = "dark";
    s.window_x = -2147483647 - 1;
    s.window_y = 2147483647;
    s.window_width = 1280;
    s.window_height = 800;
    s.window_maximized = true;
    s.paned_position = 0;
    s.start_view = "sensors";
    s.show_sources = true;
    s.show_loop_devices = true;
    int i = 0;
    for (const auto& c : Settings::color_fields) {
        // Both accepted spellings: the program's own and a hand-written one without "#".
        s.*c.field = i % 2 ? "#0A1B2C" : "ab12f" + std::to_string(i % 10);
        ++i;
    }
    return s;
}

} // namespace

TEST_F(SettingsFile, WithoutFileLoadKeepsDefaultsAndCreatesNothing) {
    store().load();
    const Settings& s = store().get();
    EXPECT_EQ(s.language, "auto");
    EXPECT_EQ(s.theme, "auto");
    EXPECT_EQ(s.window_x, -1);
    EXPECT_EQ(s.window_y, -1);
    EXPECT_EQ(s.window_width, -1);
    EXPECT_EQ(s.window_height, -1);
    EXPECT_FALSE(s.window_maximized);
    EXPECT_EQ(s.paned_position, -1);
    EXPECT_EQ(s.start_view, "");
    EXPECT_FALSE(s.show_sources);
    EXPECT_FALSE(s.show_loop_devices);
    for (const auto& c : Settings::color_fields)
        EXPECT_EQ(s.*c.field, "") << c.key;
    // Loading only reads: no directory appears.
    EXPECT_FALSE(std::filesystem::exists(m_dir));

    EXPECT_TRUE(store().save());
    EXPECT_TRUE(std::filesystem::is_regular_file(m_file));
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsFile, SaveThenLoadReproducesEveryField) {
    const Settings changed = every_field_changed();
    store().mutable_get() = changed;
    ASSERT_TRUE(store().save());
    store().mutable_get() = Settings{};
    store().load();
    EXPECT_EQ(store().get(), changed);
    EXPECT_EQ(store().get().window_x, -2147483647 - 1);
    EXPECT_EQ(store().get().bg_light, "ab12f0");
    EXPECT_EQ(store().get().panel_light, "#0A1B2C");

    // A second save of the loaded record writes the same bytes.
    std::string first = read_whole_file(m_file);
    ASSERT_TRUE(store().save());
    EXPECT_EQ(read_whole_file(m_file), first);

    store().mutable_get().reset_colors();
    for (const auto& c : Settings::color_fields)
        EXPECT_EQ(store().get().*c.field, "") << c.key;
    EXPECT_EQ(store().get().language, "de");
}

TEST_F(SettingsFile, WrittenBytes) {
    Settings s;
    EXPECT_EQ(SettingsStore::to_text(s), "{\n"
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
    s.language = "zh_TW";
    s.theme = "light";
    s.window_x = 40;
    s.window_y = 0;
    s.window_width = 1024;
    s.window_height = 768;
    s.window_maximized = true;
    s.paned_position = 310;
    s.show_sources = true;
    s.start_view = "storage";
    s.load_high = "#C01C28";
    s.bg_light = "#FAFAFA";
    store().mutable_get() = s;
    ASSERT_TRUE(store().save());
    EXPECT_EQ(read_whole_file(m_file), "{\n"
                                       "  \"language\": \"zh_TW\",\n"
                                       "  \"theme\": \"light\",\n"
                                       "  \"window_x\": 40,\n"
                                       "  \"window_y\": 0,\n"
                                       "  \"window_width\": 1024,\n"
                                       "  \"window_height\": 768,\n"
                                       "  \"window_maximized\": true,\n"
                                       "  \"paned_position\": 310,\n"
                                       "  \"show_sources\": true,\n"
                                       "  \"show_loop_devices\": false,\n"
                                       "  \"start_view\": \"storage\",\n"
                                       "  \"bg_light\": \"#FAFAFA\",\n"
                                       "  \"load_high\": \"#C01C28\"\n"
                                       "}\n");
}

TEST(SettingsText, StringKeysTakeOnlyValidValues) {
    EXPECT_EQ(parsed(R"({"theme": "Dark"})").theme, "auto");
    EXPECT_EQ(parsed(R"({"theme": "dark"})").theme, "dark");
    EXPECT_EQ(parsed(R"({"theme":"light"})").theme, "light");
    Settings german;
    german.language = "de";
    EXPECT_EQ(parsed(R"({"language": "xx"})", german).language, "de");
    EXPECT_EQ(parsed(R"({"language": ""})", german).language, "de");
    EXPECT_EQ(parsed(R"({"language": "auto"})", german).language, "auto");
    EXPECT_EQ(parsed(R"({"language": "zh_TW"})").language, "zh_TW");
    EXPECT_EQ(parsed(R"({"language": "DE"})").language, "auto");
    EXPECT_EQ(parsed(R"({"start_view": "network"})").start_view, "network");
    EXPECT_EQ(parsed(R"({"start_view": "Storage"})").start_view, "");
    EXPECT_EQ(parsed(R"({"start_view": "system"})").start_view, "");

    // Colours: six hex digits with or without one "#", stored as written.
    EXPECT_EQ(parsed(R"({"bg_dark": "1a5fb4"})").bg_dark, "1a5fb4");
    EXPECT_EQ(parsed(R"({"bg_dark": "#1A5FB4"})").bg_dark, "#1A5FB4");
    EXPECT_EQ(parsed(R"({"bg_dark": "#1A5FB"})").bg_dark, "");
    EXPECT_EQ(parsed(R"({"bg_dark": "#1A5FBG"})").bg_dark, "");
    EXPECT_EQ(parsed(R"({"bg_dark": "##1A5FB4"})").bg_dark, "");
    EXPECT_EQ(parsed(R"({"bg_dark": "#1A5FB40"})").bg_dark, "");
    // "theme" is found only as a quoted word, not inside another key.
    EXPECT_EQ(parsed(R"({"mytheme": "dark"})").theme, "auto");
}

TEST(SettingsText, NumberKeys) {
    EXPECT_EQ(parsed(R"({"window_width": 0, "window_height": -7})").window_width, -1);
    EXPECT_EQ(parsed(R"({"window_width": 0, "window_height": -7})").window_height, -1);
    EXPECT_EQ(parsed(R"({"window_x": -5})").window_x, -5);
    EXPECT_EQ(parsed(R"({"window_x": 12px})").window_x, -1);
    EXPECT_EQ(parsed(R"({"window_x": "12"})").window_x, -1);
    EXPECT_EQ(parsed(R"({"window_x": +12})").window_x, -1);
    EXPECT_EQ(parsed(R"({"window_x": 1-2})").window_x, -1);
    EXPECT_EQ(parsed("{\"window_x\":\t 33 \r\n}").window_x, 33);
    EXPECT_EQ(parsed(R"({"paned_position": 0})").paned_position, 0);
    EXPECT_TRUE(parsed(R"({"window_maximized": true})").window_maximized);
    EXPECT_TRUE(parsed(R"({"window_maximized": 1})").window_maximized);
    EXPECT_FALSE(parsed(R"({"window_maximized": yes})").window_maximized);
    EXPECT_FALSE(parsed(R"({"window_maximized": True})").window_maximized);
    EXPECT_TRUE(parsed(R"({"show_sources": 2, "show_loop_devices": true})").show_loop_devices);
    // Beyond 32 bits the value is unusable, not wrapped into an arbitrary position.
    EXPECT_EQ(parsed(R"({"window_width": 4294968096})").window_width, -1);
    EXPECT_EQ(parsed(R"({"window_x": -2147483649})").window_x, -1);
    EXPECT_EQ(parsed(R"({"window_y": 99999999999999999999999})").window_y, -1);

    // A missing number key returns to its default even when the record held another value;
    // a missing string key keeps the value.
    Settings before;
    before.window_x = 100;
    before.show_sources = true;
    before.theme = "dark";
    Settings after = parsed(R"({"window_y": 5})", before);
    EXPECT_EQ(after.window_x, -1);
    EXPECT_FALSE(after.show_sources);
    EXPECT_EQ(after.theme, "dark");
    EXPECT_EQ(after.window_y, 5);
}

TEST(SettingsText, DamagedAndHandEditedFiles) {
    // The first occurrence of a key wins.
    Settings twice = parsed(R"({"theme": "dark", "window_x": 3, "theme": "light", "window_x": 9})");
    EXPECT_EQ(twice.theme, "dark");
    EXPECT_EQ(twice.window_x, 3);

    // Missing quotes spoil only the keys they touch.
    Settings unquoted = parsed("{language: de, theme: \"dark\",\n\"window_y\": 20, "
                               "\"show_sources\": true\n");
    EXPECT_EQ(unquoted.language, "auto");
    EXPECT_EQ(unquoted.theme, "auto");
    EXPECT_EQ(unquoted.window_y, 20);
    EXPECT_TRUE(unquoted.show_sources);

    // Keys may stand anywhere, on one line, without braces.
    Settings flat = parsed(R"("start_view":"tools" "window_height":  600,"theme" : "light")");
    EXPECT_EQ(flat.start_view, "tools");
    EXPECT_EQ(flat.window_height, 600);
    EXPECT_EQ(flat.theme, "light");

    // A file cut short: every key before the cut is read, the one cut in half is not taken.
    Settings full = every_field_changed();
    std::string text = SettingsStore::to_text(full);
    Settings cut = parsed(text.substr(0, text.find("\"window_maximized\"") + 12));
    EXPECT_EQ(cut.language, "de");
    EXPECT_EQ(cut.theme, "dark");
    EXPECT_EQ(cut.window_height, 800);
    EXPECT_FALSE(cut.window_maximized);
    EXPECT_EQ(cut.start_view, "");
    for (size_t n = 0; n <= text.size(); ++n)
        parsed(text.substr(0, n)); // every cut is survivable

    // Binary garbage around a readable key.
    std::string binary("\x00\xff\xfe\"\x01:\x7f", 7);
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i * 37);
    binary += std::string("\"theme\": \"dark\"\x00\"window_x\": 77\x00", 31);
    Settings b = parsed(binary);
    EXPECT_EQ(b.theme, "dark");
    EXPECT_EQ(b.window_x, 77);
}

TEST_F(SettingsFile, VeryLargeAndSpecialFilesAreReadSafely) {
    std::filesystem::create_directories(m_dir);
    std::string big = "{\"theme\": \"dark\", \"window_x\": 8,\n" + std::string(8 << 20, 'x') +
                      "\"show_sources\": true}";
    {
        std::FILE* f = std::fopen(m_file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(big.data(), 1, big.size(), f);
        std::fclose(f);
    }
    store().load();
    EXPECT_EQ(store().get().theme, "dark");
    EXPECT_EQ(store().get().window_x, 8);
    // Only the head of an oversized file is looked at.
    EXPECT_FALSE(store().get().show_sources);

    // A link to an endless device or a FIFO must not hang or exhaust memory.
    std::filesystem::remove(m_file);
    std::filesystem::create_symlink("/dev/zero", m_file);
    store().mutable_get() = Settings{};
    store().load();
    EXPECT_EQ(store().get(), Settings{});
    std::filesystem::remove(m_file);
    ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0);
    store().load();
    EXPECT_EQ(store().get(), Settings{});
    std::filesystem::remove(m_file);
    std::filesystem::create_directory(m_file);
    store().load();
    EXPECT_EQ(store().get(), Settings{});
}

TEST(SettingsPath, DirectoryRules) {
    ScopedEnv snap("SNAP_USER_COMMON", "/x");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(SettingsStore::file_path(), "/x/config/settings.json");
    {
        ScopedEnv no_snap("SNAP_USER_COMMON", std::nullopt);
        EXPECT_EQ(SettingsStore::file_path(), "/cfg/Quarvel/settings.json");
        ScopedEnv no_xdg("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(SettingsStore::file_path(), "/home/u/.config/Quarvel/settings.json");
        ScopedEnv no_home("HOME", std::nullopt);
        EXPECT_EQ(SettingsStore::file_path(), "./.config/Quarvel/settings.json");
    }
    // Empty or relative directories are no directories: they would send every save to
    // "/Quarvel" or to wherever the program was started.
    ScopedEnv empty_snap("SNAP_USER_COMMON", "");
    ScopedEnv empty_xdg("XDG_CONFIG_HOME", "");
    EXPECT_EQ(SettingsStore::file_path(), "/home/u/.config/Quarvel/settings.json");
    ScopedEnv relative_xdg("XDG_CONFIG_HOME", "conf");
    EXPECT_EQ(SettingsStore::file_path(), "/home/u/.config/Quarvel/settings.json");
    ScopedEnv empty_home("HOME", "");
    EXPECT_EQ(SettingsStore::file_path(), "./.config/Quarvel/settings.json");
}

TEST_F(SettingsFile, SaveIntoUnwritableDirectoryKeepsOldFile) {
    std::filesystem::create_directories(m_dir);
    const std::string old = "{\"theme\": \"dark\"}\n";
    m_home.write("Quarvel/settings.json", old);
    chmod(m_home.path().c_str(), 0755);
    chmod(m_file.c_str(), 0644);
    chmod(m_dir.c_str(), 0555);
    store().mutable_get().theme = "light";
    EXPECT_TRUE(
        testing_support::as_unprivileged_user([] { return !SettingsStore::instance().save(); }));
    EXPECT_EQ(read_whole_file(m_file), old);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsFile, SaveCutShortNeverLeavesPartialFile) {
    store().mutable_get().theme = "dark";
    ASSERT_TRUE(store().save());
    const std::string old = read_whole_file(m_file);

    // The disk fills up half-way through (the file size limit stands in for it): the save
    // reports failure, the old file stays whole and no temporary file remains.
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {64, 64};
        setrlimit(RLIMIT_FSIZE, &lim);
        SettingsStore::instance().mutable_get() = every_field_changed();
        _exit(SettingsStore::instance().save() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "save reported success on a full disk";
    EXPECT_EQ(read_whole_file(m_file), old);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});

    // The writer is killed in the middle of writing.
    pid = fork();
    if (pid == 0) {
        struct rlimit core = {0, 0};
        setrlimit(RLIMIT_CORE, &core);
        struct rlimit lim = {64, 64};
        setrlimit(RLIMIT_FSIZE, &lim);
        SettingsStore::instance().mutable_get() = every_field_changed();
        SettingsStore::instance().save();
        _exit(0);
    }
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(read_whole_file(m_file), old);
    store().mutable_get() = Settings{};
    store().load();
    EXPECT_EQ(store().get().theme, "dark");
}

TEST_F(SettingsFile, TwoCopiesSavingAtOnceNeverMixTheirFiles) {
    Settings a = every_field_changed();
    Settings b;
    b.theme = "light";
    b.window_width = 640;
    const std::string text_a = SettingsStore::to_text(a), text_b = SettingsStore::to_text(b);
    store().mutable_get() = b;
    ASSERT_TRUE(store().save());

    std::vector<pid_t> writers;
    for (const Settings* s : {&a, &b}) {
        pid_t pid = fork();
        if (pid == 0) {
            SettingsStore::instance().mutable_get() = *s;
            bool ok = true;
            for (int i = 0; i < 60; ++i)
                ok = SettingsStore::instance().save() && ok;
            _exit(ok ? 0 : 1);
        }
        writers.push_back(pid);
    }
    int reads = 0, bad = 0;
    for (bool running = true; running;) {
        running = false;
        for (pid_t pid : writers)
            running = running || waitpid(pid, nullptr, WNOHANG) == 0;
        std::string now = read_whole_file(m_file);
        ++reads;
        if (now != text_a && now != text_b) ++bad;
    }
    EXPECT_GT(reads, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

// Report mode reads the saved language (and with it the number separators) but never writes.
class ReportSettings : public SettingsFile {
protected:
    TempDir m_machine;
    TempDir m_out;
    ScopedEnv m_root{"QUARVEL_SYSROOT", m_machine.path()};
    ScopedEnv m_display{"DISPLAY", std::nullopt};
    ScopedEnv m_wayland{"WAYLAND_DISPLAY", std::nullopt};

    int run_report() {
        std::string out = m_out.path() + "/report.txt";
        std::vector<std::string> args = {"quarvel", "--report", out};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        return entry::run_report_mode(static_cast<int>(args.size()), argv.data());
    }
    void TearDown() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
        SettingsFile::TearDown();
    }
};

TEST_F(ReportSettings, SavedLanguageSetsTheSeparators) {
    const std::string text = "{\n  \"language\": \"de\"\n}\n";
    m_home.write("Quarvel/settings.json", text);
    struct stat before {};
    stat(m_file.c_str(), &before);
    util::set_number_format(".", ",");

    EXPECT_EQ(run_report(), 0);
    EXPECT_EQ(I18n::instance().effective_language(), "de");
    EXPECT_EQ(util::fmt_double(1234.5, 1), "1.234,5");
    struct stat after {};
    stat(m_file.c_str(), &after);
    EXPECT_EQ(read_whole_file(m_file), text);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

TEST_F(ReportSettings, UnreadableSettingsChangeNothing) {
    m_home.write("Quarvel/settings.json", "{\"language\": \"de\"}");
    chmod(m_home.path().c_str(), 0755);
    chmod(m_dir.c_str(), 0755);
    chmod(m_file.c_str(), 0);
    chmod(m_out.path().c_str(), 0777);
    chmod(m_machine.path().c_str(), 0755);
    ScopedEnv language("LANGUAGE", "en");
    EXPECT_TRUE(testing_support::as_unprivileged_user(
        [this] { return run_report() == 0 && util::fmt_double(1234.5, 1) == "1,234.5"; }));
}

TEST_F(ReportSettings, NoSettingsDirectoryIsCreated) {
    EXPECT_EQ(run_report(), 0);
    EXPECT_FALSE(std::filesystem::exists(m_dir));
}
