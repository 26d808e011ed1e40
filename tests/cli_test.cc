// End-to-end tests of the command line: they run the built program.
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

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

size_t count_top_level_nodes(const std::string& report) {
    size_t n = 0;
    for (const auto& line : util::split(report, '\n'))
        if (util::starts_with(line, "=== ")) ++n;
    return n;
}

bool is_report(const std::string& text) {
    return util::starts_with(text, "Quarvel — Hardware report\nCreated: ");
}

} // namespace

TEST_F(CommandLine, VersionAndHelp) {
    auto v = run_quarvel({"--version"}, env());
    EXPECT_EQ(v.exit_code, 0);
    EXPECT_EQ(v.out, "Quarvel 1.0\n");
    EXPECT_EQ(run_quarvel({"-v"}, env()).out, "Quarvel 1.0\n");
    // The first recognised option wins.
    auto first = run_quarvel({"-v", "--report"}, env());
    EXPECT_EQ(first.out, "Quarvel 1.0\n");
    EXPECT_EQ(first.exit_code, 0);

    auto h = run_quarvel({"--unknown", "--help"}, env());
    EXPECT_EQ(h.exit_code, 0);
    EXPECT_EQ(h.out, "Quarvel 1.0 — Shows every hardware detail this system reports about "
                     "itself.\n\n"
                     "  (ohne Argument)      Fenster oeffnen\n"
                     "  --report [DATEI]     kompletten Bericht ausgeben oder speichern\n"
                     "  --version            Version ausgeben\n"
                     "  --help               diese Hilfe\n");
    EXPECT_EQ(run_quarvel({"-h"}, env()).out, h.out);
}

TEST_F(CommandLine, ReportToStandardOutputHasTheHeaderAndTwelveBranches) {
    // Without any power supply a machine has no power branch.
    m_sysroot.write("sys/class/power_supply/AC/type", "Mains\n");
    auto r = run_quarvel({"--report"}, env());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(is_report(r.out));
    EXPECT_EQ(count_top_level_nodes(r.out), 12u);
    // An option after --report is neither a file nor a new mode.
    auto rv = run_quarvel({"--report", "-v"}, env());
    EXPECT_EQ(rv.exit_code, 0);
    EXPECT_TRUE(is_report(rv.out));
}

TEST_F(CommandLine, ReportToAFileReplacesIt) {
    std::string path = m_out.path() + "/out.txt";
    m_out.write("out.txt", std::string(100000, 'z'));
    auto r = run_quarvel({"-r", path}, env());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "Bericht geschrieben: " + path + "\n");
    std::string written = read_whole_file(path);
    EXPECT_TRUE(is_report(written));
    EXPECT_EQ(written.find('z' + std::string(10, 'z')), std::string::npos);
}

TEST_F(CommandLine, TheFileIsTheFirstNonOptionAfterAReportOption) {
    std::string path = m_out.path() + "/later.txt";
    auto r = run_quarvel({"--report", "--version", "--report", path}, env());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "Bericht geschrieben: " + path + "\n");
    EXPECT_TRUE(is_report(read_whole_file(path)));
}

TEST_F(CommandLine, UnwritableTargetsFailWithExitOne) {
    std::string missing = m_out.path() + "/no/such/dir/r.txt";
    auto r = run_quarvel({"--report", missing}, env());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Konnte " + missing + " nicht schreiben\n");
    EXPECT_EQ(r.out, "");

    // The open succeeds, the writes fail: still a failure, never the success line.
    auto full = run_quarvel({"--report", "/dev/full"}, env());
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_EQ(full.err, "Konnte /dev/full nicht schreiben\n");
    EXPECT_EQ(full.out, "");
}

TEST_F(CommandLine, WithoutAnOptionTheWindowPathRunsNotTheReport) {
    for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"--foo"}}) {
        auto r = run_quarvel(args, env()); // no display in this environment
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err, "");
        EXPECT_FALSE(is_report(r.out));
    }
}
