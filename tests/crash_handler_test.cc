// The crash handler, exercised in forked children that really die. No real dialog ever opens:
// PATH starts with a directory whose fake zenity and xdg-open only record their arguments,
// and no display variable is passed on.
#include "crash_handler.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::read_whole_file;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

constexpr uid_t nobody = 65534;

struct Ending {
    int signal = 0;     // the signal that ended the crashing process
    int exit_code = -1; // or its exit code
};

// Runs `body` in a child with exactly `env`, as "nobody" when the tests run as root unless
// `keep_root`. A reaper in between adopts whatever the crash starts (the dialog script) and
// waits for it, so every recording is complete when this returns. With `poke`, the reaper
// sends that signal once the child has exec'd `exe` and sleeps.
Ending run_crash(const std::vector<std::string>& env, bool keep_root,
                 const std::function<void()>& body, int poke = 0, const std::string& exe = "") {
    pid_t reaper = fork();
    if (reaper == 0) {
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        alarm(30);
        pid_t child = fork();
        if (child == 0) {
            struct rlimit core = {0, 0};
            setrlimit(RLIMIT_CORE, &core);
            clearenv();
            for (const auto& e : env)
                putenv(strdup(e.c_str()));
            if (!keep_root && geteuid() == 0 &&
                (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
                _exit(90);
            body();
            _exit(91);
        }
        if (poke) {
            std::string proc = "/proc/" + std::to_string(child);
            for (int i = 0; i < 1000; ++i) {
                std::error_code ec;
                bool exec_done = std::filesystem::read_symlink(proc + "/exe", ec) == exe;
                std::string stat = read_whole_file(proc + "/stat");
                size_t paren = stat.rfind(')');
                if (exec_done && paren != std::string::npos && stat.size() > paren + 2 &&
                    stat[paren + 2] == 'S')
                    break;
                usleep(10000);
            }
            kill(child, poke);
        }
        int status = 0;
        waitpid(child, &status, 0);
        for (;;) {
            pid_t r = waitpid(-1, nullptr, 0);
            if (r > 0 || (r < 0 && errno == EINTR)) continue;
            break;
        }
        _exit(WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status) & 0x7f);
    }
    int status = 0;
    waitpid(reaper, &status, 0);
    Ending e;
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        if (code > 128)
            e.signal = code - 128;
        else
            e.exit_code = code;
    }
    return e;
}

std::string percent_decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string local_now() {
    time_t t = time(nullptr);
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void chown_tree(const std::string& root) {
    if (geteuid() != 0) return;
    lchown(root.c_str(), nobody, nobody);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        lchown(e.path().c_str(), nobody, nobody);
}

// A runtime directory (with a name that needs shell quoting), fake dialog programs and the
// places where they record what they were given.
class CrashLab : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_run = m_dir.path() + "/run 'it' $HOME";
    std::string m_report = m_run + "/Quarvel_crash.txt";
    std::string m_zenity_args = m_dir.path() + "/zenity.args";
    std::string m_mail = m_dir.path() + "/mail.url";

    void SetUp() override {
        m_dir.mkdir("run 'it' $HOME");
        fake_dialog(false);
        m_dir.write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + m_mail + "'\n");
        chmod((m_dir.path() + "/bin/xdg-open").c_str(), 0755);
        chmod(m_dir.path().c_str(), 0755);
        chown_tree(m_dir.path());
    }

    // The fake zenity records its arguments, then either types a description and accepts or
    // cancels.
    void fake_dialog(bool accept) {
        m_dir.write("bin/zenity", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                      m_zenity_args + "'\n" +
                                      (accept ? "printf 'Clicked \"Refresh\"; it'\"'\"'s gone'\n"
                                                "exit 0\n"
                                              : "exit 1\n"));
        chmod((m_dir.path() + "/bin/zenity").c_str(), 0755);
        chown_tree(m_dir.path());
    }

    std::vector<std::string> env(std::vector<std::string> extra = {}) const {
        extra.push_back("PATH=" + m_dir.path() + "/bin:/usr/bin:/bin");
        extra.push_back("XDG_RUNTIME_DIR=" + m_run);
        return extra;
    }

    Ending crash(int sig, const std::vector<std::string>& environment, bool keep_root = false) {
        return run_crash(environment, keep_root, [sig] {
            CrashHandler::install();
            raise(sig);
        });
    }

    bool dialog_started() const { return std::filesystem::exists(m_zenity_args); }
};

} // namespace

TEST_F(CrashLab, EverySignalLeavesItsReportAndEndsTheProcess) {
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    const std::string system =
        std::string("System: ") + u.sysname + " " + u.release + " " + u.machine;
    const struct {
        int sig;
        const char* line;
    } cases[] = {
        {SIGSEGV, "Signal: SIGSEGV (Segmentation fault) (11)"},
        {SIGABRT, "Signal: SIGABRT (Abort) (6)"},
        {SIGFPE, "Signal: SIGFPE (Floating point exception) (8)"},
        {SIGBUS, "Signal: SIGBUS (Bus error) (7)"},
        {SIGILL, "Signal: SIGILL (Illegal instruction) (4)"},
        {SIGTRAP, "Signal: SIGTRAP (Trap — usually a fatal GLib/GTK error) (5)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::filesystem::remove(m_report);
        bool snap = c.sig == SIGBUS;
        std::vector<std::string> extra = {"XDG_CURRENT_DESKTOP=GNOME", "XDG_SESSION_TYPE=wayland"};
        if (snap) extra = {"SNAP_VERSION=2.4.1"};
        std::string before = local_now();
        Ending e = crash(c.sig, env(extra));
        std::string after = local_now();
        EXPECT_EQ(e.signal, c.sig);

        auto lines = util::split(read_whole_file(m_report), '\n');
        ASSERT_GE(lines.size(), 13u);
        EXPECT_EQ(lines[0], "=== Quarvel Crash Report ===");
        EXPECT_EQ(lines[1], "Version: 1.0");
        EXPECT_EQ(lines[2], c.line);
        ASSERT_TRUE(util::starts_with(lines[3], "Time: "));
        std::string when = lines[3].substr(6);
        EXPECT_EQ(when.size(), 19u);
        EXPECT_LE(before, when);
        EXPECT_LE(when, after);
        EXPECT_EQ(lines[4], system);
        EXPECT_EQ(lines[5], snap ? "Desktop: unknown (unknown)" : "Desktop: GNOME (wayland)");
        EXPECT_EQ(lines[6], snap ? "Snap: yes (v2.4.1)" : "Snap: no");
        EXPECT_EQ(lines[7], "");
        EXPECT_EQ(lines[8], "Backtrace:");
        // At least the handler's own frame and the one that raised the signal.
        size_t end = lines.size() - 2; // the text ends with a newline
        EXPECT_EQ(lines[end], "=== End Report ===");
        EXPECT_EQ(lines[end - 1], "");
        EXPECT_GE(end - 1 - 9, 2u);
        for (size_t i = 9; i + 1 < end; ++i)
            EXPECT_NE(lines[i].find("[0x"), std::string::npos) << lines[i];
    }
    // The fake dialog was offered (and cancelled) each time.
    EXPECT_TRUE(dialog_started());
    struct stat st {};
    ASSERT_EQ(stat(m_report.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(CrashLab, RealFaultsAreCaught) {
    Ending segv = run_crash(env(), false, [] {
        CrashHandler::install();
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
    });
    EXPECT_EQ(segv.signal, SIGSEGV);
    EXPECT_NE(read_whole_file(m_report).find("Signal: SIGSEGV"), std::string::npos);
    std::filesystem::remove(m_report);

    Ending abrt = run_crash(env(), false, [] {
        CrashHandler::install();
        abort();
    });
    EXPECT_EQ(abrt.signal, SIGABRT);
    EXPECT_NE(read_whole_file(m_report).find("Signal: SIGABRT (Abort) (6)"), std::string::npos);

    // Stack exhaustion leaves no stack for the handler but its own.
    std::filesystem::remove(m_report);
    Ending overflow = run_crash(env(), false, [] {
        CrashHandler::install();
        std::function<int(int)> deep = [&](int n) {
            volatile char pad[4096];
            pad[0] = static_cast<char>(n);
            return deep(n + 1) + pad[0];
        };
        deep(0);
    });
    EXPECT_EQ(overflow.signal, SIGSEGV);
    EXPECT_NE(read_whole_file(m_report).find("Signal: SIGSEGV (Segmentation fault) (11)"),
              std::string::npos);
    EXPECT_NE(read_whole_file(m_report).find("=== End Report ==="), std::string::npos);
}

TEST_F(CrashLab, AcceptedDialogAppendsDescriptionAndMailsTheReport) {
    fake_dialog(true);
    Ending e = crash(SIGABRT, env({"LANG=en_GB.UTF-8"}));
    EXPECT_EQ(e.signal, SIGABRT);

    EXPECT_EQ(
        util::split(read_whole_file(m_zenity_args), '\n'),
        (std::vector<std::string>{"--text-info", "--editable",
                                  "--title=Quarvel - Can you describe when the error occurred?",
                                  "--width=500", "--height=250", "--ok-label=Send crash report",
                                  "--cancel-label=Don't send", ""}));

    std::string report = read_whole_file(m_report);
    const std::string described =
        "\n=== End Report ===\n\nUser description:\nClicked \"Refresh\"; it's gone\n";
    ASSERT_GE(report.size(), described.size());
    EXPECT_EQ(report.substr(report.size() - described.size()), described);

    std::string url = read_whole_file(m_mail);
    const std::string head = "mailto:crash-reports@quarvel.org?subject=";
    ASSERT_TRUE(util::starts_with(url, head)) << url;
    size_t body_at = url.find("&body=");
    ASSERT_NE(body_at, std::string::npos);
    std::string subject = percent_decode(url.substr(head.size(), body_at - head.size()));
    std::string time = report.substr(report.find("Time: ") + 6, 19);
    EXPECT_EQ(subject, "Quarvel Crash: SIGABRT (Abort) - " + time);
    EXPECT_EQ(percent_decode(url.substr(body_at + 6)), report);
}

TEST_F(CrashLab, CancelledDialogSendsNothing) {
    Ending e = crash(SIGSEGV, env());
    EXPECT_EQ(e.signal, SIGSEGV);
    EXPECT_TRUE(dialog_started());
    std::string report = read_whole_file(m_report);
    EXPECT_TRUE(util::ends_with(report, "\n=== End Report ===\n"));
    EXPECT_EQ(report.find("User description:"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_mail));
}

TEST_F(CrashLab, DialogLanguageFollowsTheEnvironment) {
    Ending e = crash(SIGFPE, env({"LANG=de_DE.UTF-8"}));
    EXPECT_EQ(e.signal, SIGFPE);
    std::string args = read_whole_file(m_zenity_args);
    EXPECT_NE(args.find("--title=Quarvel - Können Sie beschreiben, wann der Fehler aufgetreten "
                        "ist?\n"),
              std::string::npos);
    EXPECT_NE(args.find("--ok-label=Absturzbericht senden\n"), std::string::npos);
    EXPECT_NE(args.find("--cancel-label=Nicht senden\n"), std::string::npos);

    {
        ScopedEnv lang("LANG", "fr_FR.UTF-8");
        ScopedEnv all("LC_ALL", std::nullopt);
        ScopedEnv language("LANGUAGE", std::nullopt);
        EXPECT_FALSE(crash::german_from_env());
        ScopedEnv german_list("LANGUAGE", "de:en");
        EXPECT_TRUE(crash::german_from_env());
    }
    {
        ScopedEnv lang("LANG", std::nullopt);
        ScopedEnv all("LC_ALL", "de_AT.UTF-8");
        ScopedEnv language("LANGUAGE", "en");
        EXPECT_TRUE(crash::german_from_env());
    }
}

TEST(CrashText, ReportPath) {
    ScopedEnv unset("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(crash::report_path(), "/tmp/Quarvel_crash.txt");
    ScopedEnv set("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(crash::report_path(), "/run/user/1000/Quarvel_crash.txt");
    ScopedEnv empty("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(crash::report_path(), "/tmp/Quarvel_crash.txt");
    ScopedEnv relative("XDG_RUNTIME_DIR", "run");
    EXPECT_EQ(crash::report_path(), "/tmp/Quarvel_crash.txt");
}

TEST(CrashText, QuotedTextsArriveLiterallyInBash) {
    const std::string texts[] = {
        "Don't send",  "'",          "''a''", "$HOME `id` $(id) \"x\" \\ ;|&",
        "line\nbreak", "Können Sie", ""};
    for (const auto& t : texts) {
        std::string cmd =
            "/bin/bash -c " + crash::shell_quote("printf '%s' " + crash::shell_quote(t));
        std::FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string got;
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            got.append(buf, n);
        EXPECT_EQ(pclose(p), 0);
        EXPECT_EQ(got, t);
    }
    // The script pastes every text quoted, the path with its quote too.
    std::string script =
        crash::dialog_script("/tmp/it's/Quarvel_crash.txt", crash::dialog_texts(false));
    EXPECT_NE(script.find("--cancel-label='Don'\\''t send'"), std::string::npos);
    EXPECT_NE(script.find(">> '/tmp/it'\\''s/Quarvel_crash.txt'"), std::string::npos);
    EXPECT_EQ(script.find("Don't"), std::string::npos);
}

TEST(CrashText, TimeFormattingMatchesTheCLibrary) {
    char buf[32];
    crash::format_time(0, 0, buf);
    EXPECT_STREQ(buf, "1970-01-01 00:00:00");
    crash::format_time(951782400, 0, buf);
    EXPECT_STREQ(buf, "2000-02-29 00:00:00");
    crash::format_time(951782400, -1, buf);
    EXPECT_STREQ(buf, "2000-02-28 23:59:59");
    crash::format_time(1767225599, 3600, buf);
    EXPECT_STREQ(buf, "2026-01-01 00:59:59");
    // A sweep from 1901 to 2200 against gmtime_r, with offsets folded into the time.
    for (long long t = -2147483648LL; t < 7258118400LL; t += 86400LL * 37 + 3607) {
        for (long offset : {-36000L, 0L, 20700L}) {
            time_t shifted = static_cast<time_t>(t + offset);
            struct tm tm {};
            gmtime_r(&shifted, &tm);
            char want[32];
            strftime(want, sizeof want, "%Y-%m-%d %H:%M:%S", &tm);
            crash::format_time(static_cast<time_t>(t), offset, buf);
            ASSERT_STREQ(buf, want) << t << " " << offset;
        }
    }
}

TEST(CrashText, LocalClockKnowsTheNextSummerTimeChange) {
    ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");
    tzset();
    // 2026-01-01 00:00 UTC; summer time starts on 2026-03-08 at 07:00 UTC.
    crash::LocalClock c = crash::local_clock_from(1767225600);
    EXPECT_EQ(c.before, -5 * 3600);
    EXPECT_EQ(c.change_at, 1772953200);
    EXPECT_EQ(c.after, -4 * 3600);
    EXPECT_EQ(c.offset_at(1772953199), -5 * 3600);
    EXPECT_EQ(c.offset_at(1772953200), -4 * 3600);
    ScopedEnv utc("TZ", "UTC0");
    tzset();
    crash::LocalClock u = crash::local_clock_from(1767225600);
    EXPECT_EQ(u.before, 0);
    EXPECT_EQ(u.change_at, 0);
    unsetenv("TZ");
    tzset();
}

TEST_F(CrashLab, LocalTimeInTheReport) {
    ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");
    tzset();
    std::string before = local_now();
    crash(SIGILL, env({"TZ=EST5EDT,M3.2.0,M11.1.0"}));
    std::string after = local_now();
    std::string report = read_whole_file(m_report);
    std::string when = report.substr(report.find("Time: ") + 6, 19);
    EXPECT_LE(before, when);
    EXPECT_LE(when, after);
}

TEST_F(CrashLab, PlantedFilesAtTheReportPathAreNeverWrittenThrough) {
    const std::string victim = m_dir.path() + "/victim";
    const std::string precious = "precious data\n";
    auto plant = [&](const std::function<void()>& make) {
        std::filesystem::remove(m_report);
        std::filesystem::remove(m_zenity_args);
        m_dir.write("victim", precious);
        chmod(victim.c_str(), 0666);
        chown_tree(m_dir.path());
        make();
    };

    plant([&] { ASSERT_EQ(symlink(victim.c_str(), m_report.c_str()), 0); });
    EXPECT_EQ(crash(SIGSEGV, env()).signal, SIGSEGV);
    EXPECT_EQ(read_whole_file(victim), precious);
    EXPECT_TRUE(std::filesystem::is_symlink(m_report));
    EXPECT_FALSE(dialog_started());

    // A dangling link must not create its target either.
    plant([&] { ASSERT_EQ(symlink((m_dir.path() + "/new").c_str(), m_report.c_str()), 0); });
    EXPECT_EQ(crash(SIGSEGV, env()).signal, SIGSEGV);
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "/new"));

    plant([&] { ASSERT_EQ(link(victim.c_str(), m_report.c_str()), 0); });
    EXPECT_EQ(crash(SIGABRT, env()).signal, SIGABRT);
    EXPECT_EQ(read_whole_file(victim), precious);
    EXPECT_FALSE(dialog_started());

    plant([&] {
        ASSERT_EQ(mkfifo(m_report.c_str(), 0666), 0);
        chown_tree(m_dir.path());
    });
    EXPECT_EQ(crash(SIGBUS, env()).signal, SIGBUS);
    EXPECT_FALSE(dialog_started());

    if (geteuid() == 0) {
        // A file of another user, writable by all.
        plant([&] {
            m_dir.write("run 'it' $HOME/Quarvel_crash.txt", precious);
            chmod(m_report.c_str(), 0666);
            chown(m_report.c_str(), 0, 0);
        });
        EXPECT_EQ(crash(SIGSEGV, env()).signal, SIGSEGV);
        EXPECT_EQ(read_whole_file(m_report), precious);
        EXPECT_FALSE(dialog_started());
    }
}

TEST_F(CrashLab, AsRootNothingIsWrittenOrStarted) {
    if (geteuid() != 0) GTEST_SKIP() << "needs administrator rights";
    Ending e = crash(SIGSEGV, env({"DISPLAY=:0"}), true);
    EXPECT_EQ(e.signal, SIGSEGV);
    EXPECT_FALSE(std::filesystem::exists(m_report));
    EXPECT_FALSE(dialog_started());
    // Nor under /tmp, where the elevated copy would write without XDG_RUNTIME_DIR.
    struct stat before {};
    bool existed = stat("/tmp/Quarvel_crash.txt", &before) == 0;
    e = crash(SIGABRT, {"PATH=" + m_dir.path() + "/bin:/usr/bin:/bin"}, true);
    EXPECT_EQ(e.signal, SIGABRT);
    struct stat after {};
    bool exists = stat("/tmp/Quarvel_crash.txt", &after) == 0;
    EXPECT_EQ(exists, existed);
    if (existed && exists) {
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
    EXPECT_FALSE(dialog_started());
}

TEST_F(CrashLab, ReportModeOfTheProgramLeavesItsReport) {
    TempDir machine;
    chmod(machine.path().c_str(), 0755);
    const std::string fifo = m_dir.path() + "/out.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    chown_tree(m_dir.path());
    std::error_code ec;
    const std::string exe = std::filesystem::canonical(QUARVEL_BINARY, ec).string();
    auto environment = env({"QUARVEL_SYSROOT=" + machine.path(), "LANGUAGE=en",
                            "XDG_CONFIG_HOME=" + m_dir.path() + "/config"});
    // The report blocks on opening the FIFO for writing; the signal arrives there.
    Ending e = run_crash(
        environment, false,
        [&] {
            std::vector<std::string> args = {exe, "--report", fifo};
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
        },
        SIGSEGV, exe);
    EXPECT_EQ(e.signal, SIGSEGV);
    std::string report = read_whole_file(m_report);
    EXPECT_TRUE(util::starts_with(report, "=== Quarvel Crash Report ===\nVersion: 1.0\n"
                                          "Signal: SIGSEGV (Segmentation fault) (11)\n"));
    EXPECT_NE(report.find("run_report_mode"), std::string::npos);
    EXPECT_TRUE(dialog_started());
}
