// End-to-end tests of the command line: they run the built program.
#include "test_support.h"
#include "util.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using testing_support::plain_env;
using testing_support::read_whole_file;
using testing_support::run_quarvel;
using testing_support::TempDir;

namespace {

class CommandLine : public ::testing::Test {
protected:
    TempDir m_config;
    TempDir m_sysroot; // an empty machine: nothing of the host leaks into the output
    TempDir m_out;
    std::map<std::string, std::string> env() const {
        return plain_env(m_config.path(), m_sysroot.path());
    }
};

bool is_report(const std::string& text) {
    return util::starts_with(text, "Quarvel — Hardware report\nCreated: ");
}

} // namespace

TEST_F(CommandLine, VersionAndHelpTheFirstRecognisedOptionWins) {
    auto v = run_quarvel({"-v", "--report"}, env());
    EXPECT_EQ(v.exit_code, 0);
    EXPECT_EQ(v.out, "Quarvel 1.0\n");
    auto h = run_quarvel({"--unknown", "--help"}, env());
    EXPECT_EQ(h.exit_code, 0);
    EXPECT_EQ(h.out, "Quarvel 1.0 — Shows every hardware detail this system reports about "
                     "itself.\n\n"
                     "  (no argument)          open the window\n"
                     "  --report [FILE]        print the full report or save it\n"
                     "  --version              print the version\n"
                     "  --help                 show this help\n"
                     "  --json                 with --report: write the report as JSON\n"
                     "  --redact               with --report: replace serial numbers, addresses "
                     "and names with placeholders\n"
                     "  --capture FILE.tar.xz  pack the files a report reads into an archive for "
                     "QUARVEL_SYSROOT\n"
                     "  --no-redact            with --capture: keep serial numbers, addresses "
                     "and names\n");
    // Wide characters take two cells: the descriptions still start in one column on screen.
    auto japanese = env();
    japanese["LANGUAGE"] = "ja";
    auto lines = util::split(run_quarvel({"-h"}, japanese).out, '\n');
    ASSERT_EQ(lines.size(), 11u);
    std::set<size_t> columns;
    for (size_t i = 2; i < 10; ++i)
        columns.insert(util::display_width(
            lines[i].substr(0, lines[i].find_first_not_of(' ', lines[i].find("  ", 2)))));
    EXPECT_EQ(columns.size(), 1u) << lines[2] << "\n" << lines[9];
}

// "--json" and "--redact" may stand between "--report" and its file; another option after
// "--report" is neither its file nor a new mode.
TEST_F(CommandLine, TheFileIsTheFirstNonOptionAfterAReportOptionAndIsReplaced) {
    const std::string path = m_out.path() + "/out";
    using Args = std::vector<std::string>;
    const std::pair<Args, const char*> cases[] = {
        {{"--report", "--version", "-r", path}, "Quarvel — Hardware report\nCreated: "},
        {{"--report", "--redact", "--json", path}, "{\n  \"format\": \"quarvel-report\""}};
    for (const auto& [args, head] : cases) {
        m_out.write("out", std::string(100000, 'z'));
        auto r = run_quarvel(args, env());
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, "Report written: " + path + "\n");
        std::string written = read_whole_file(path);
        EXPECT_TRUE(util::starts_with(written, head)) << head;
        EXPECT_EQ(written.find("zzzzzzzzzz"), std::string::npos);
    }
}

TEST_F(CommandLine, UnwritableTargetsFailWithExitOneAndTheReason) {
    std::string missing = m_out.path() + "/no/such/dir/r.txt";
    // /dev/full opens but every write fails: still a failure, never the success line.
    const std::pair<std::string, const char*> cases[] = {{missing, "No such file or directory"},
                                                         {"/dev/full", "No space left on device"}};
    for (const auto& [target, reason] : cases) {
        auto r = run_quarvel({"--report", target}, env());
        EXPECT_EQ(r.exit_code, 1) << target;
        EXPECT_EQ(r.err, "Could not write " + target + ": " + reason + "\n");
        EXPECT_EQ(r.out, "");
    }
    // A name given with terminal commands in it is shown without them.
    auto r = run_quarvel({"--report", m_out.path() + "/no/\x1b]0;owned\x07r.txt"}, env());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.find_first_of("\x1b\x07"), std::string::npos) << r.err;
}

// A mistyped "--redact" must not give a report that names the machine: the modes that write
// something to share refuse what they do not know, before they write anything. The toolkit's
// own options, for the display session the report describes, still pass.
TEST_F(CommandLine, ReportAndCaptureRefuseAnUnknownOptionAndWriteNothing) {
    const std::string file = m_out.path() + "/shared";
    using Args = std::vector<std::string>;
    const std::pair<Args, const char*> refused[] = {
        {{"--report", file, "--reduct"}, "--reduct"},
        {{"--jsn", "-r", file}, "--jsn"},
        {{"--capture", file, "--no-redcat"}, "--no-redcat"},
    };
    for (const auto& [args, option] : refused) {
        auto r = run_quarvel(args, env());
        EXPECT_EQ(r.exit_code, 2) << option;
        EXPECT_EQ(r.err, std::string("Unknown option: ") + option + " (see quarvel --help)\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(file)) << option;
    }
    auto toolkit = run_quarvel({"--report", "-", "--display=:99", "--gdk-debug=misc"}, env());
    EXPECT_EQ(toolkit.exit_code, 0) << toolkit.err;
    EXPECT_TRUE(is_report(toolkit.out));
}

// What was asked for never reached standard output: a full disk or a closed stream is a
// failure with its reason, as for a file.
TEST_F(CommandLine, StandardOutputThatTakesNothingFailsWithExitOne) {
    const std::pair<std::string, const char*> cases[] = {
        {"--help >/dev/full", "No space left on device"},
        {"--version >/dev/full", "No space left on device"},
        {"--report >/dev/full", "No space left on device"},
        {"--report >&-", "Bad file descriptor"},
        {"--version >&-", "Bad file descriptor"},
    };
    for (const auto& [command, reason] : cases) {
        auto r =
            run_quarvel({"-c", "exec \"$0\" " + command, QUARVEL_BINARY}, env(), 60, "/bin/sh");
        EXPECT_EQ(r.exit_code, 1) << command;
        EXPECT_EQ(r.err, std::string("Could not write stdout: ") + reason + "\n") << command;
    }
}

// Named as the file, standard output gets the report alone, fit for a pipe into a parser.
TEST_F(CommandLine, AReportFileThatIsStandardOutputGetsNoLineAfterTheReport) {
    const std::pair<const char*, const char*> cases[] = {{"--redact", " ===\n"}, {"--json", "}\n"}};
    for (const auto& [format, end] : cases) {
        auto r = run_quarvel({"--report", format, "/dev/stdout"}, env());
        EXPECT_EQ(r.exit_code, 0) << format;
        EXPECT_TRUE(util::ends_with(r.out, end))
            << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 80));
    }
}

TEST_F(CommandLine, ASysrootThatIsNoDirectoryFailsInsteadOfDescribingNothing) {
    m_out.write("file", "");
    for (const std::string& root : {m_out.path() + "/missing", m_out.path() + "/file"}) {
        auto e = env();
        e["QUARVEL_SYSROOT"] = root;
        auto r = run_quarvel({"--report"}, e);
        EXPECT_EQ(r.exit_code, 1) << root;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(util::starts_with(
            r.err, "QUARVEL_SYSROOT cannot be read as a directory: " + root + ": "))
            << r.err;
    }
    // A directory that may not be listed or entered is refused too, though a handle to it
    // opens.
    m_out.mkdir("closed");
    testing_support::open_up(m_out.path(), {"closed"}, 0);
    testing_support::ScopedEnv closed("QUARVEL_SYSROOT", m_out.path() + "/closed");
    EXPECT_TRUE(testing_support::as_unprivileged_user([] { return util::sysroot_error() != 0; }));
}

// A new file is the administrator's alone; a user's file named to "sudo quarvel --report" stays
// the user's, with its mode.
TEST_F(CommandLine, AsRootTheReportFileIsTheOwnersAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs administrator rights";
    const uid_t user = 65534;
    m_out.write("users.txt", "old");
    const std::string users = m_out.path() + "/users.txt";
    ASSERT_EQ(chown(users.c_str(), user, user), 0);
    ASSERT_EQ(chmod(users.c_str(), 0640), 0);
    const std::tuple<std::string, uid_t, unsigned> cases[] = {{m_out.path() + "/root.txt", 0, 0600},
                                                              {users, user, 0640}};
    for (const auto& [path, owner, mode] : cases) {
        ASSERT_EQ(run_quarvel({"--report", path}, env()).exit_code, 0);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, owner) << path;
        EXPECT_EQ(st.st_gid, owner) << path;
        EXPECT_EQ(st.st_mode & 0777, mode) << path;
    }
}

TEST_F(CommandLine, WithoutAnOptionTheWindowPathRunsNotTheReport) {
    auto r = run_quarvel({"--foo"}, env()); // no display in this environment
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err, "");
    EXPECT_FALSE(is_report(r.out));
}

// The program hands the window and the capture to the full program beside it; alone, it says
// what is missing and still writes the report.
TEST_F(CommandLine, WithoutTheFullProgramOnlyTheModesThatNeedItFail) {
    TempDir alone;
    const std::string program = alone.path() + "/quarvel";
    std::filesystem::copy_file(QUARVEL_BINARY, program);
    auto window = run_quarvel({}, env(), 60, program);
    EXPECT_EQ(window.exit_code, 1);
    EXPECT_NE(window.err.find("the window is not available"), std::string::npos) << window.err;
    EXPECT_NE(window.err.find("quarvel-full not found"), std::string::npos) << window.err;
    auto capture = run_quarvel({"--capture", "out.tar.xz"}, env(), 60, program);
    EXPECT_EQ(capture.exit_code, 1);
    EXPECT_EQ(capture.err, "Could not write out.tar.xz: quarvel-full not found\n");
    auto report = run_quarvel({"--report"}, env(), 60, program);
    EXPECT_EQ(report.exit_code, 0);
    EXPECT_TRUE(is_report(report.out));
}
