// The process list's sampler: stat lines with awkward names, CPU shares across passes,
// processes that vanish while they are read, the filter, and the elevated command's check.
#include "proc_fake.h"
#include "util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

procs::Params params() {
    procs::Params p;
    p.clk_tck = 100;
    p.page_size = 4096;
    p.user_name = [](unsigned uid) { return uid ? "u" + std::to_string(uid) : "root"; };
    return p;
}

} // namespace

TEST(ProcessStat, NameRunsToTheLastParenthesisAndFieldsFollowIt) {
    for (const std::string name : {"(sd-pam)", "a) b", "x) S 1 2 3", "kworker/0:1H", "a b"}) {
        auto s = procs::parse_stat(fake_stat(42, name, 7, 5, 123456, 300));
        ASSERT_TRUE(s) << name;
        EXPECT_EQ(std::tie(s->name, s->state, s->ppid, s->ticks, s->start_time, s->rss_pages),
                  std::make_tuple(name, std::string("S"), 1, uint64_t{12}, uint64_t{123456},
                                  uint64_t{300}));
    }
    // A line break in a name would otherwise reach a one-line cell.
    EXPECT_EQ(procs::parse_stat(fake_stat(1, "a\nb", 0))->name, "a b");
    for (const std::string& bad : std::vector<std::string>{"", "garbage", "12 (x) S 1 2 3",
                                                           "x" + fake_stat(1, "z", 0), ") (x"})
        EXPECT_FALSE(procs::parse_stat(bad)) << bad;
}

TEST(ProcessFiles, StatusCommandLineAndMemory) {
    EXPECT_EQ(procs::parse_real_uid("Name:\tx\nUid:\t1000\t0\t0\t0\nGid:\t5\n"), 1000u);
    EXPECT_FALSE(procs::parse_real_uid("Name:\tx\nGid:\t5\n"));
    EXPECT_FALSE(procs::parse_real_uid("Uid:\t99999999999\n"));

    EXPECT_EQ(procs::parse_cmdline(std::string("/bin/sh\0-c\0echo hi\0", 19)),
              "/bin/sh -c echo hi");
    EXPECT_EQ(procs::parse_cmdline(std::string("a\tb\x01\nc", 7)), "a b c");
    const std::string long_arg(procs::max_command_bytes - 1, 'x');
    EXPECT_EQ(procs::parse_cmdline(long_arg + "é tail"), long_arg + "\u2026")
        << "cut before a character that does not fit whole";
    // Each stray byte is shown as a three-byte replacement character; the bound still holds.
    EXPECT_LE(procs::parse_cmdline(std::string(procs::max_command_bytes, '\xff')).size(),
              procs::max_command_bytes + std::string("\u2026").size());

    EXPECT_EQ(procs::shorten("abc", 3), "abc");
    EXPECT_EQ(procs::shorten("ab\u00e9", 3), "ab\u2026");

    EXPECT_EQ(procs::parse_mem_total("MemFree: 1 kB\nMemTotal:  16384 kB\n"), 16384u * 1024);
    EXPECT_EQ(procs::parse_mem_total("MemFree: 1 kB\n"), 0u);
}

TEST(ProcessSample, CpuShareIsTicksOverTheMeasuredInterval) {
    std::map<int, FakeProc> m{{10, {"idle"}}, {11, {"busy"}}};
    m[10].missing = {"statm"};
    std::map<int, procs::Proc> table;
    procs::Changes ch = procs::sample(table, fake_source(m), params(), 0, 1);
    EXPECT_EQ(ch.added, (std::vector<int>{10, 11}));
    EXPECT_EQ(table[11].rss, 12u * 4096) << "statm's count, as ps shows it";
    EXPECT_EQ(table[10].rss, 10u * 4096) << "without statm, the stat line's estimate";

    // 2 s later: 50 ticks of 1/100 s are 25 %; several threads may pass 100 %.
    m[11].ticks = 50;
    m[12] = {"threads"};
    ch = procs::sample(table, fake_source(m), params(), 2.0, 2);
    EXPECT_DOUBLE_EQ(table[11].cpu, 25.0);
    EXPECT_EQ(ch.changed, std::vector<int>{11}) << "an unchanged row is left alone";
    EXPECT_EQ(ch.added, std::vector<int>{12});
    EXPECT_EQ(table[12].cpu, 0) << "nothing to compare with yet";

    m[12].ticks = 300, m[11].ticks = 0; // the latter went backwards
    procs::sample(table, fake_source(m), params(), 1.0, 3);
    EXPECT_DOUBLE_EQ(table[12].cpu, 300.0);
    EXPECT_EQ(table[11].cpu, 0);

    // A new start of the view measures nothing in its first pass and keeps what was shown;
    // so does a pass a few milliseconds after the last, which then starts the next interval.
    for (double dt : {0.0, 0.004}) {
        m[12].ticks += 100;
        procs::sample(table, fake_source(m), params(), dt, 4);
        EXPECT_DOUBLE_EQ(table[12].cpu, 300.0) << dt;
    }
    m[12].ticks += 50;
    procs::sample(table, fake_source(m), params(), 1.0, 5);
    EXPECT_DOUBLE_EQ(table[12].cpu, 50.0);
}

TEST(ProcessSample, VanishedAndReplacedProcessesLeaveTheList) {
    std::map<int, FakeProc> m{
        {20, {"stays"}}, {21, {"ends"}}, {22, {"listed, then gone"}}, {23, {"gone between reads"}}};
    m[22].missing = {"stat"}, m[23].missing = {"status"};
    std::map<int, procs::Proc> table;
    EXPECT_EQ(procs::sample(table, fake_source(m), params(), 0, 1).added,
              (std::vector<int>{20, 21}));

    m.erase(21);
    m[20].start = 999; // the PID now names another process
    procs::Changes ch = procs::sample(table, fake_source(m), params(), 1.0, 2);
    EXPECT_EQ(ch.removed, (std::vector<int>{20, 21}));
    EXPECT_EQ(ch.added, std::vector<int>{20});
    EXPECT_EQ(table.size(), 1u);
}

TEST(ProcessSample, UsersCommandsAndKernelThreads) {
    std::map<int, FakeProc> m{{2, {"kthreadd", 0}},
                              {30, {"sh", 1000, std::string("/bin/sh\0-l\0", 11)}}};
    std::map<int, procs::Proc> table;
    procs::sample(table, fake_source(m), params(), 0, 1);
    EXPECT_EQ(table[2].cmd, "[kthreadd]");
    EXPECT_EQ(table[2].user, "root");
    EXPECT_EQ(table[30].cmd, "/bin/sh -l");

    // A program run through exec keeps the PID: its name tells, and its command line follows
    // in the same pass.
    m[30].name = "sleep", m[30].cmdline = std::string("sleep", 6) + "62";
    procs::sample(table, fake_source(m), params(), 1.0, 3);
    EXPECT_EQ(table[30].cmd, "sleep 62");

    // Ended and not yet waited for: the name alone is left, marked as ps marks it.
    m[30].cmdline.clear(), m[30].state = 'Z';
    procs::sample(table, fake_source(m), params(), 1.0, 4);
    EXPECT_EQ(table[30].cmd, "[sleep] <defunct>");
    m[30].state = 'S';

    // A daemon that dropped its rights shows its new user within a few passes.
    m[30].uid = 1001;
    for (uint64_t pass = 2; pass < 2 + procs::detail_period; ++pass)
        procs::sample(table, fake_source(m), params(), 1.0, pass);
    EXPECT_EQ(table[30].user, "u1001");
}

TEST(ProcessFilter, SearchesPidUserCommandAndNameLowerCased) {
    procs::Proc p;
    p.pid = 1234, p.uid = 1000, p.user = "alice", p.cmd = "/usr/bin/Firefox --new",
    p.name = "GeckoMain";
    procs::Proc other = p;
    other.pid = 77, other.user = "bob1234", other.uid = 1001;
    const struct {
        std::string needle;
        bool mine_only, shows_p, shows_other;
    } cases[] = {
        {"", false, true, true},        {"1234", false, true, true},
        {"firefox", false, true, true}, {"geckomain", false, true, true},
        {"bob", false, false, true},    {"", true, true, false},
        {"1234", true, true, false},    {"chrome", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(procs::visible(p, c.needle, c.mine_only, 1000), c.shows_p) << c.needle;
        EXPECT_EQ(procs::visible(other, c.needle, c.mine_only, 1000), c.shows_other) << c.needle;
    }
}

// The command run as root after the password prompt: it signals only the process it was
// given, by PID, uid and start time. Run here without the elevation tool.
TEST(ProcessEnd, ElevatedCommandSignalsOnlyTheSameProcess) {
    pid_t child = fork();
    if (child == 0) {
        for (;;)
            pause();
    }
    ASSERT_GT(child, 0);
    auto id = procs::read_identity(procs::live_source(), child);
    ASSERT_TRUE(id);
    auto run = [](const procs::Identity& who) {
        std::vector<std::string> argv = procs::elevated_end_argv(who);
        EXPECT_EQ(argv.front(), "pkexec");
        std::vector<char*> args;
        for (size_t i = 1; i < argv.size(); ++i)
            args.push_back(argv[i].data());
        args.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) execv(args[0], args.data()), _exit(127);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    procs::Identity later = *id, other_user = *id;
    later.start_time += 1;
    other_user.uid += 1;
    EXPECT_EQ(run(later), procs::exit_already_ended);
    EXPECT_EQ(run(other_user), procs::exit_already_ended);
    EXPECT_EQ(kill(child, 0), 0) << "still running";
    EXPECT_EQ(run(*id), 0);
    // Ended, not yet collected: a zombie takes the signal and stays, so it counts as ended.
    auto zombie = [&] {
        auto s = procs::parse_stat(util::read_file_raw("/proc/" + std::to_string(child) + "/stat"));
        return s && s->state == "Z";
    };
    for (int i = 0; i < 300 && !zombie(); ++i)
        usleep(10000);
    ASSERT_TRUE(zombie());
    EXPECT_FALSE(procs::read_identity(procs::live_source(), child));
    EXPECT_EQ(run(*id), procs::exit_already_ended);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_FALSE(procs::read_identity(procs::live_source(), child)) << "reaped";
}
