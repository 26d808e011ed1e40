// The crash handler, exercised in forked children that really die. No real dialog ever opens:
// PATH starts with a directory whose fake zenity and xdg-open only record their arguments,
// and no display variable is passed on.
#include "crash_handler.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
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

// Runs `body` in a child with exactly `env`, as "nobody" when the tests run as root unless
// `keep_root`, and returns the signal that ended it (0 when it exited). A reaper in between
// adopts and waits for whatever the crash starts, so every recording is complete on return.
// With `poke`, the reaper sends that signal once the child runs `exe` and sleeps.
int run_crash(const std::vector<std::string>& env, bool keep_root,
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
                _exit(1);
            body();
            _exit(0);
        }
        std::string proc = "/proc/" + std::to_string(child);
        for (int i = 0; poke && i < 1000; ++i, usleep(10000)) {
            std::error_code ec;
            std::string stat = read_whole_file(proc + "/stat");
            size_t at = stat.rfind(") ");
            if (std::filesystem::read_symlink(proc + "/exe", ec) == exe &&
                at != std::string::npos && stat[at + 2] == 'S')
                break;
        }
        if (poke) kill(child, poke);
        int status = 0;
        waitpid(child, &status, 0);
        while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
        }
        _exit(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    int status = 0;
    waitpid(reaper, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string percent_decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        bool escape = s[i] == '%' && i + 2 < s.size();
        out += escape ? static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)) : s[i];
        i += escape ? 2 : 0;
    }
    return out;
}

// A runtime directory whose name needs shell quoting, fake dialog programs, and the files
// where they record what they were given.
class CrashLab : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_run = m_dir.path() + "/run 'it' $HOME";
    std::string m_report = m_run + "/Quarvel_crash.txt";
    std::string m_zenity_args = m_dir.path() + "/zenity.args";
    std::string m_mail = m_dir.path() + "/mail.url";

    void SetUp() override {
        // Besides the fakes, only what every Debian system has: bash starts the dialog's
        // script, and a tool beyond these would be one more the package must name.
        for (const char* tool : {"od", "tr", "sed"})
            m_dir.symlink(std::string("/usr/bin/") + tool, std::string("bin/") + tool);
        m_dir.write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + m_mail + "'\n");
        fake_dialog("exit 1\n"); // cancels
    }
    void fake_dialog(const std::string& answer) {
        m_dir.write("bin/zenity", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" +
                                      m_zenity_args + "'\n" + answer);
        m_dir.mkdir("run 'it' $HOME");
        for (const char* f : {"/bin/zenity", "/bin/xdg-open"})
            chmod((m_dir.path() + f).c_str(), 0755);
        chmod(m_dir.path().c_str(), 0755);
        hand_to_nobody();
    }
    void hand_to_nobody() const {
        if (geteuid() != 0) return;
        EXPECT_EQ(lchown(m_dir.path().c_str(), nobody, nobody), 0);
        for (const auto& e : std::filesystem::recursive_directory_iterator(m_dir.path()))
            EXPECT_EQ(lchown(e.path().c_str(), nobody, nobody), 0) << e.path();
    }
    // With a display (the fake dialog needs none), unless `display` is false.
    std::vector<std::string> env(std::vector<std::string> extra = {}, bool display = true) const {
        extra.push_back("PATH=" + m_dir.path() + "/bin");
        extra.push_back("XDG_RUNTIME_DIR=" + m_run);
        if (display) extra.push_back("DISPLAY=:9");
        return extra;
    }
    int crash(int sig, const std::vector<std::string>& environment, bool keep_root = false) {
        std::filesystem::remove(m_zenity_args);
        return run_crash(environment, keep_root, [sig] {
            CrashHandler::install();
            raise(sig);
        });
    }
    bool dialog_started() const { return std::filesystem::exists(m_zenity_args); }
};

} // namespace

TEST_F(CrashLab, EverySignalLeavesItsReportAndEndsTheProcessByThatSignal) {
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    const std::pair<int, const char*> cases[] = {
        {SIGSEGV, "SIGSEGV (Segmentation fault) (11)"},
        {SIGABRT, "SIGABRT (Abort) (6)"},
        {SIGFPE, "SIGFPE (Floating point exception) (8)"},
        {SIGBUS, "SIGBUS (Bus error) (7)"},
        {SIGILL, "SIGILL (Illegal instruction) (4)"},
        {SIGTRAP, "SIGTRAP (Trap — usually a fatal GLib/GTK error) (5)"},
    };
    for (const auto& [sig, text] : cases) {
        EXPECT_EQ(crash(sig, env()), sig) << text;
        EXPECT_NE(read_whole_file(m_report).find(std::string("\nSignal: ") + text + "\n"),
                  std::string::npos)
            << text;
    }
    // The whole layout once; the dialog was cancelled: nothing appended, no mail.
    EXPECT_EQ(crash(SIGBUS, env({"SNAP_VERSION=2.4", "XDG_CURRENT_DESKTOP=GNOME"})), SIGBUS);
    std::string report = read_whole_file(m_report);
    auto lines = util::split(report, '\n');
    ASSERT_GE(lines.size(), 13u);
    EXPECT_EQ(lines[0] + "|" + lines[1], "=== Quarvel Crash Report ===|Version: 1.0");
    EXPECT_TRUE(util::starts_with(lines[3], "Time: 20") && lines[3].size() == 25) << lines[3];
    EXPECT_EQ(lines[4], std::string("System: ") + u.sysname + " " + u.release + " " + u.machine);
    EXPECT_EQ(lines[5] + "|" + lines[6], "Desktop: GNOME (unknown)|Snap: yes (v2.4)");
    EXPECT_EQ(lines[7] + "|" + lines[8], "|Backtrace:");
    EXPECT_NE(lines[9].find("[0x"), std::string::npos) << lines[9];
    EXPECT_TRUE(util::ends_with(report, "]\n\n=== End Report ===\n"));
    EXPECT_TRUE(dialog_started());
    EXPECT_FALSE(std::filesystem::exists(m_mail));
    struct stat st {};
    ASSERT_EQ(stat(m_report.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The handler must run on its own stack, or an overflow leaves no report.
TEST_F(CrashLab, StackOverflowStillLeavesAReport) {
    EXPECT_EQ(run_crash(env(), false,
                        [] {
                            CrashHandler::install();
                            std::function<int(int)> deep = [&](int n) {
                                volatile char pad[4096];
                                pad[0] = static_cast<char>(n);
                                return deep(n + 1) + pad[0];
                            };
                            deep(0);
                        }),
              SIGSEGV);
    EXPECT_TRUE(util::ends_with(read_whole_file(m_report), "\n=== End Report ===\n"));
}

TEST_F(CrashLab, AcceptedDialogAppendsTheDescriptionAndMailsTheReport) {
    fake_dialog("printf 'Clicked \"Refresh\"; it'\"'\"'s gone'\n");
    EXPECT_EQ(crash(SIGABRT, env({"LANG=fr_FR.UTF-8"})), SIGABRT);
    EXPECT_EQ(read_whole_file(m_zenity_args),
              "--text-info\n--editable\n--title=Quarvel - Can you describe when the error "
              "occurred?\n--width=500\n--height=250\n--ok-label=Send crash report\n"
              "--cancel-label=Don't send\n");

    std::string report = read_whole_file(m_report);
    EXPECT_TRUE(util::ends_with(report, "\n=== End Report ===\n\nUser description:\nClicked "
                                        "\"Refresh\"; it's gone\n"));
    std::string url = read_whole_file(m_mail);
    const std::string head = "mailto:crash-reports@quarvel.org?subject=";
    size_t body = url.find("&body=");
    ASSERT_TRUE(util::starts_with(url, head) && body != std::string::npos) << url;
    std::string time = report.substr(report.find("Time: ") + 6, 19);
    EXPECT_EQ(percent_decode(url.substr(head.size(), body - head.size())),
              "Quarvel Crash: SIGABRT (Abort) - " + time);
    EXPECT_EQ(percent_decode(url.substr(body + 6)), report);

    // The dialog speaks the language of the environment.
    EXPECT_EQ(crash(SIGFPE, env({"LANG=C", "LANGUAGE=de:en"})), SIGFPE);
    EXPECT_NE(read_whole_file(m_zenity_args).find("--ok-label=Absturzbericht senden\n"),
              std::string::npos);
}

TEST(CrashText, ReportPathTimeFormattingAndLocalClock) {
    {
        ScopedEnv relative("XDG_RUNTIME_DIR", "run");
        EXPECT_EQ(crash::report_path(), "/tmp/Quarvel_crash.txt");
        ScopedEnv set("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(crash::report_path(), "/run/user/1000/Quarvel_crash.txt");
    }
    char buf[32];
    // 1901 to 2200 against the C library, offsets folded into the time.
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

    // From 2026-01-01 00:00 UTC the next change is summer time on 2026-03-08 at 07:00 UTC.
    ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");
    tzset();
    crash::LocalClock c = crash::local_clock_from(1767225600);
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(c.offset_at(1772953199), -5 * 3600);
    EXPECT_EQ(c.offset_at(1772953200), -4 * 3600);
    EXPECT_EQ(c.offset_at(1767225600), -5 * 3600);
}

TEST_F(CrashLab, PlantedFilesAtTheReportPathAreNeverWrittenThrough) {
    const std::string victim = m_dir.path() + "/victim", precious = "precious\n";
    auto planted = [&](const std::function<int(const char*)>& make, int sig) {
        std::filesystem::remove(m_report);
        m_dir.write("victim", precious);
        chmod(victim.c_str(), 0666);
        EXPECT_EQ(make(m_report.c_str()), 0);
        hand_to_nobody();
        EXPECT_EQ(crash(sig, env()), sig);
        EXPECT_EQ(read_whole_file(victim), precious);
        EXPECT_FALSE(dialog_started());
    };
    planted([&](const char* at) { return symlink(victim.c_str(), at); }, SIGSEGV);
    EXPECT_TRUE(std::filesystem::is_symlink(m_report));
    planted([&](const char* at) { return symlink((m_dir.path() + "/new").c_str(), at); }, SIGILL);
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "/new"));
    planted([&](const char* at) { return link(victim.c_str(), at); }, SIGABRT);
    planted([&](const char* at) { return mkfifo(at, 0666); }, SIGBUS);
}

TEST_F(CrashLab, AsRootNothingIsWrittenOrStarted) {
    if (geteuid() != 0) GTEST_SKIP() << "needs administrator rights";
    EXPECT_EQ(crash(SIGSEGV, env({"DISPLAY=:0"}), true), SIGSEGV);
    EXPECT_FALSE(std::filesystem::exists(m_report));
    EXPECT_FALSE(dialog_started());
}

// A crash halfway through writing a report file leaves neither it nor its hidden, unfinished
// new copy beside it (the file size limit stops the write; its signal stands for the crash).
TEST_F(CrashLab, ACrashWhileAFileIsReplacedRemovesTheUnfinishedCopy) {
    m_dir.mkdir("out");
    hand_to_nobody();
    const std::string out = m_dir.path() + "/out";
    for (bool as_root : {false, geteuid() == 0}) {
        EXPECT_EQ(run_crash(env(), as_root,
                            [&] {
                                CrashHandler::install();
                                signal(
                                    SIGXFSZ, +[](int) { raise(SIGSEGV); });
                                struct rlimit limit = {4096, 4096};
                                setrlimit(RLIMIT_FSIZE, &limit);
                                util::replace_file(out + "/report.txt", std::string(1 << 20, 'x'));
                            }),
                  SIGSEGV);
        EXPECT_TRUE(std::filesystem::is_empty(out)) << "as root: " << as_root;
    }
}

// The report's frames with the names of their functions: a program linked on its own writes
// offsets into its file ("quarvel(+0x1a2b)"), which addr2line resolves.
std::string with_function_names(const std::string& report, const std::string& exe) {
    std::string command = "/usr/bin/addr2line -f -i -e '" + exe + "'";
    // A frame holds the address the call returns to; the call is the byte before.
    for (size_t at = report.find("quarvel(+"); at != std::string::npos;
         at = report.find("quarvel(+", at + 1)) {
        char call[24];
        std::snprintf(call, sizeof call, " %llx",
                      std::stoull(report.substr(at + 9), nullptr, 16) - 1);
        command += call;
    }
    std::string names;
    if (FILE* out = popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;)
            names.append(buf, n);
        pclose(out);
    }
    return report + names;
}

TEST_F(CrashLab, TheProgramInReportModeLeavesItsReport) {
    TempDir machine;
    chmod(machine.path().c_str(), 0755);
    const std::string fifo = m_dir.path() + "/out.fifo";
    const std::string err = m_dir.path() + "/stderr";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    m_dir.write("stderr", "");
    hand_to_nobody();
    std::error_code ec;
    std::string exe = std::filesystem::canonical(QUARVEL_BINARY, ec).string();
    // The report blocks on opening the FIFO for writing; the signal arrives there.
    int sig = run_crash(
        env({"QUARVEL_SYSROOT=" + machine.path(), "LANGUAGE=en",
             "XDG_CONFIG_HOME=" + m_dir.path() + "/config"},
            false),
        false,
        [&] {
            char* argv[] = {exe.data(), const_cast<char*>("--report"),
                            const_cast<char*>(fifo.c_str()), nullptr};
            dup2(open(err.c_str(), O_WRONLY | O_CLOEXEC), STDERR_FILENO);
            execv(argv[0], argv);
        },
        SIGSEGV, exe);
    EXPECT_EQ(sig, SIGSEGV);
    std::string report = read_whole_file(m_report);
    EXPECT_TRUE(util::starts_with(report, "=== Quarvel Crash Report ===\nVersion: 1.0\n"
                                          "Signal: SIGSEGV (Segmentation fault) (11)\n"));
    EXPECT_NE(with_function_names(report, exe).find("run_report_mode"), std::string::npos);
    // Without a display no dialog can show: the terminal is told where the report is.
    EXPECT_FALSE(dialog_started());
    EXPECT_EQ(read_whole_file(err), "Quarvel: crash report saved to " + m_report + "\n");
}
