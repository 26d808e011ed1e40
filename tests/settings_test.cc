// The settings file: where it lives, what survives a damaged or hand-edited file, the exact
// bytes written, and that a save never leaves a partial file behind.
#include "entry.h"
#include "settings.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
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

TEST_F(SettingsFile, LoadNeverCreatesDirectoriesAndSavesRoundTripExactBytes) {
    store().load();
    EXPECT_EQ(store().get(), Settings{});
    EXPECT_FALSE(std::filesystem::exists(m_dir)) << "loading must not create directories";

    EXPECT_TRUE(store().save());
    EXPECT_EQ(read_whole_file(m_file), "{\n  \"language\": \"auto\",\n  \"theme\": \"auto\",\n"
                                       "  \"window_x\": -1,\n  \"window_y\": -1,\n"
                                       "  \"window_width\": -1,\n  \"window_height\": -1,\n"
                                       "  \"window_maximized\": false,\n"
                                       "  \"paned_position\": -1,\n  \"show_sources\": false,\n"
                                       "  \"show_loop_devices\": false,\n"
                                       "  \"start_view\": \"\"\n}\n");
    const Settings changed = every_field_changed();
    store().mutable_get() = changed;
    ASSERT_TRUE(store().save());
    store().mutable_get() = Settings{};
    store().load();
    EXPECT_EQ(store().get(), changed);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});
}

TEST(SettingsText, EachKeyTakesOnlyValidValues) {
    const Settings start = parsed(R"({"language": "de", "theme": "light", "bg_dark": "1a5fb4"})");
    struct Case {
        const char* text;
        std::string Settings::*field;
        const char* want;
    } strings[] = {
        {R"({"theme": "Dark"})", &Settings::theme, "light"},   // case matters: value kept
        {R"({"mytheme": "dark"})", &Settings::theme, "light"}, // only the quoted word
        {R"({"theme":"dark"})", &Settings::theme, "dark"},
        {R"({"language": "xx"})", &Settings::language, "de"},
        {R"({"language": "auto"})", &Settings::language, "auto"},
        {R"({"start_view": "Storage"})", &Settings::start_view, ""},
        {R"({"start_view": "network"})", &Settings::start_view, "network"},
        {R"({"bg_dark": "#1A5FB"})", &Settings::bg_dark, "1a5fb4"},
        {R"({"bg_dark": "#C01C28"})", &Settings::bg_dark, "#C01C28"},
    };
    for (const auto& c : strings)
        EXPECT_EQ(parsed(c.text, start).*c.field, c.want) << c.text;

    // Beyond 32 bits a number is unusable, not wrapped into an arbitrary geometry.
    const std::pair<const char*, int32_t> numbers[] = {
        {R"({"window_x": -5})", -5},         {R"({"window_x": 12px})", -1},
        {R"({"window_x": "12"})", -1},       {"{\"window_x\":\t 33 \r\n}", 33},
        {R"({"window_x": 4294968096})", -1}, {R"({"window_x": -2147483649})", -1},
    };
    for (const auto& [text, want] : numbers)
        EXPECT_EQ(parsed(text).window_x, want) << text;
    EXPECT_EQ(parsed(R"({"window_width": 0})").window_width, -1);
    EXPECT_TRUE(parsed(R"({"window_maximized": 1})").window_maximized);

    // A missing number key returns to its default; a missing string key keeps its value.
    Settings after = parsed(R"({"window_y": 5})", every_field_changed());
    EXPECT_EQ(after.window_x, -1);
    EXPECT_FALSE(after.show_sources);
    EXPECT_EQ(after.theme, "dark");

    // Bytes no text has, NULs included, hide no key that follows them.
    const char binary[] = "\x00\xff\"\x01:\"theme\": \"dark\"\x00\"window_x\": 77";
    Settings b = parsed(std::string(binary, sizeof binary));
    EXPECT_EQ(b.theme + std::to_string(b.window_x), "dark77");
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

TEST(SettingsPath, EmptyOrRelativeDirectoriesAreIgnored) {
    ScopedEnv snap("SNAP_USER_COMMON", "/x");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(SettingsStore::file_path(), "/x/config/settings.json");
    ScopedEnv no_snap("SNAP_USER_COMMON", "");
    EXPECT_EQ(SettingsStore::file_path(), "/cfg/Quarvel/settings.json");
    for (const char* xdg_value : {"conf", ""}) {
        ScopedEnv other_xdg("XDG_CONFIG_HOME", xdg_value);
        EXPECT_EQ(SettingsStore::file_path(), "/home/u/.config/Quarvel/settings.json");
    }
    // Without a usable HOME the password database names the home, never the working directory.
    ScopedEnv no_xdg("XDG_CONFIG_HOME", std::nullopt);
    struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    for (const char* home_value : {"", "relative"}) {
        ScopedEnv odd_home("HOME", home_value);
        EXPECT_EQ(SettingsStore::file_path(),
                  std::string(pw->pw_dir) + "/.config/Quarvel/settings.json");
    }
}

TEST_F(SettingsFile, ASaveRemovesLeftoversOfKilledSavesButNotSavesInProgress) {
    std::filesystem::create_directories(m_dir);
    m_home.write("Quarvel/.settings.json.tmp.KILLED", "{");
    m_home.write("Quarvel/.settings.json.tmp.SAVING", "{");
    int saving = open((m_dir + "/.settings.json.tmp.SAVING").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(saving, LOCK_EX), 0);
    EXPECT_TRUE(store().save());
    close(saving);
    auto names = names_in(m_dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".settings.json.tmp.SAVING", "settings.json"}));
}

namespace {

// The reason a save gives in a child process that first runs `prepare`: 0 for success.
int save_failure(const std::function<void()>& prepare) {
    pid_t pid = fork();
    if (pid == 0) {
        if (prepare) prepare();
        _exit(SettingsStore::instance().save() ? 0 : errno);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Read-only folders stop only those who are not the administrator.
void drop_privileges() {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(255);
}

} // namespace

// The window tells the user why their change will be gone at the next start.
TEST_F(SettingsFile, FailedSavesKeepTheOldFileWholeAndTellWhy) {
    const std::string old = "{\"theme\": \"dark\"}\n";
    const struct {
        const char* what;
        std::function<void()> arrange, in_child;
        int reason;
    } cases[] = {
        {"the disk fills up half-way (the file size limit stands in for it)",
         [&] { m_home.write("Quarvel/settings.json", old); },
         [] {
             signal(SIGXFSZ, SIG_IGN);
             struct rlimit lim = {64, 64};
             setrlimit(RLIMIT_FSIZE, &lim);
         },
         EFBIG},
        {"a read-only folder",
         [&] {
             m_home.write("Quarvel/settings.json", old);
             testing_support::open_up(m_home.path(), {"Quarvel"}, 0555);
         },
         drop_privileges, EACCES},
        {"a folder in the file's place",
         [&] { std::filesystem::create_directories(m_file); },
         {},
         EISDIR},
        {"a folder that cannot be made", [&] { chmod(m_home.path().c_str(), 0555); },
         drop_privileges, EACCES},
    };
    store().mutable_get().theme = "light";
    for (const auto& c : cases) {
        chmod(m_home.path().c_str(), 0755);
        std::filesystem::remove_all(m_dir);
        c.arrange();
        EXPECT_EQ(save_failure(c.in_child), c.reason) << c.what;
        chmod(m_home.path().c_str(), 0755);
        if (std::filesystem::is_regular_file(m_file)) {
            EXPECT_EQ(read_whole_file(m_file), old) << c.what;
            EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"}) << c.what;
        }
    }
}

TEST_F(SettingsFile, TheAdministratorNeverWritesIntoAnotherUsersDirectory) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    ASSERT_EQ(::chown(m_home.path().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(store().save());
    EXPECT_FALSE(std::filesystem::exists(m_dir)) << "a root-owned folder in the user's home";
    ASSERT_EQ(::chown(m_home.path().c_str(), 0, 0), 0);
    EXPECT_TRUE(store().save());
}

// Report mode takes the saved language, and with it the number separators, but never writes.
TEST_F(SettingsFile, ReportModeReadsTheSavedLanguageAndNeverWrites) {
    TempDir machine;
    ScopedEnv root("QUARVEL_SYSROOT", machine.path());
    ScopedEnv display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", std::nullopt);
    ScopedEnv language("LANGUAGE", "en");
    auto number_format = [] {
        std::string out = "/dev/null";
        char* argv[] = {out.data(), const_cast<char*>("--report"), out.data(), nullptr};
        return entry::run_report_mode(3, argv) == 0 ? util::fmt_double(1234.5, 1) : "";
    };
    EXPECT_EQ(number_format(), "1,234.5");
    EXPECT_FALSE(std::filesystem::exists(m_dir));

    const std::string text = "{\n  \"language\": \"de\"\n}\n";
    m_home.write("Quarvel/settings.json", text);
    EXPECT_EQ(number_format(), "1.234,5");
    EXPECT_EQ(read_whole_file(m_file), text);
    EXPECT_EQ(names_in(m_dir), std::vector<std::string>{"settings.json"});

    testing_support::use_english();
}
