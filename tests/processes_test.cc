// The process list's sampler: stat lines with awkward names, CPU shares across passes,
// processes that vanish while they are read, the filter, and the elevated command's check.
#include "live/processes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string stat_line(int pid, const std::string& name, uint64_t utime, uint64_t stime = 0,
                      uint64_t start = 500, uint64_t rss = 10) {
    return std::to_string(pid) + " (" + name + ") S 1 1 1 0 -1 4194560 10 0 0 0 " +
           std::to_string(utime) + " " + std::to_string(stime) + " 0 0 20 0 1 0 " +
           std::to_string(start) + " 1000 " + std::to_string(rss) +
           " 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";
}

// Processes made of texts; a file left out reads as empty, as for a process that ended.
struct Machine {
    std::map<int, std::map<std::string, std::string>> files;

    void add(int pid, const std::string& name, uint64_t ticks, unsigned uid = 1000,
             const std::string& cmdline = "", uint64_t start = 500) {
        files[pid] = {
            {"stat", stat_line(pid, name, ticks, 0, start)},
            {"status", "Name:\t" + name + "\nUid:\t" + std::to_string(uid) + "\t0\t0\t0\n"},
            {"cmdline", cmdline}};
    }
    procs::Source source() {
        procs::Source s;
        s.list = [this] {
            std::vector<int> pids;
            for (const auto& f : files)
                pids.push_back(f.first);
            return pids;
        };
        s.read = [this](int pid, const char* file) {
            auto p = files.find(pid);
            if (p == files.end()) return std::string();
            auto f = p->second.find(file);
            return f == p->second.end() ? std::string() : f->second;
        };
        return s;
    }
};

procs::Params params() {
    procs::Params p;
    p.clk_tck = 100;
    p.page_size = 4096;
    p.user_name = [](unsigned uid) {
        return uid == 0 ? std::string("root") : "u" + std::to_string(uid);
    };
    return p;
}

} // namespace

TEST(ProcessStat, NameRunsToTheLastParenthesisAndFieldsFollowIt) {
    for (const std::string name : {"(sd-pam)", "a) b", "x) S 1 2 3", "kworker/0:1H", "a b"}) {
        auto s = procs::parse_stat(stat_line(42, name, 7, 5, 123456, 300));
        ASSERT_TRUE(s) << name;
        EXPECT_EQ(s->name, name);
        EXPECT_EQ(s->state, "S") << name;
        EXPECT_EQ(s->ppid, 1) << name;
        EXPECT_EQ(s->ticks, 12u) << name;
        EXPECT_EQ(s->start_time, 123456u) << name;
        EXPECT_EQ(s->rss_pages, 300u) << name;
    }
    // A line break in a name would otherwise reach a one-line cell.
    EXPECT_EQ(procs::parse_stat(stat_line(1, "a\nb", 0))->name, "a b");
    for (const std::string& bad : std::vector<std::string>{"", "garbage", "12 (x) S 1 2 3",
                                                           "x" + stat_line(1, "z", 0), ") (x"})
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

    EXPECT_EQ(procs::shorten("abc", 3), "abc");
    EXPECT_EQ(procs::shorten("ab\u00e9", 3), "ab\u2026");

    EXPECT_EQ(procs::parse_mem_total("MemFree: 1 kB\nMemTotal:  16384 kB\n"), 16384u * 1024);
    EXPECT_EQ(procs::parse_mem_total("MemFree: 1 kB\n"), 0u);
}

TEST(ProcessSample, CpuShareIsTicksOverTheMeasuredInterval) {
    Machine m;
    m.add(10, "idle", 1000);
    m.add(11, "busy", 1000);
    std::map<int, procs::Proc> table;
    procs::Changes ch = procs::sample(table, m.source(), params(), 0, 1);
    EXPECT_EQ(ch.added, (std::vector<int>{10, 11}));
    EXPECT_EQ(table[11].cpu, 0) << "nothing to compare with yet";
    EXPECT_EQ(table[11].rss, 10u * 4096);

    // 2 s later: 50 ticks of 1/100 s are 25 %; several threads may pass 100 %.
    m.add(11, "busy", 1050);
    m.add(12, "threads", 0);
    ch = procs::sample(table, m.source(), params(), 2.0, 2);
    EXPECT_DOUBLE_EQ(table[11].cpu, 25.0);
    EXPECT_EQ(table[10].cpu, 0);
    EXPECT_EQ(ch.changed, std::vector<int>{11}) << "an unchanged row is left alone";
    EXPECT_EQ(ch.added, std::vector<int>{12});

    m.add(12, "threads", 300);
    m.add(11, "busy", 1000); // a counter that went backwards
    procs::sample(table, m.source(), params(), 1.0, 3);
    EXPECT_DOUBLE_EQ(table[12].cpu, 300.0);
    EXPECT_EQ(table[11].cpu, 0);

    // A new start of the view measures nothing in its first pass and keeps what was shown.
    m.add(12, "threads", 400);
    procs::sample(table, m.source(), params(), 0, 4);
    EXPECT_DOUBLE_EQ(table[12].cpu, 300.0);
    EXPECT_EQ(table[12].ticks, 400u);
}

TEST(ProcessSample, VanishedAndReplacedProcessesLeaveTheList) {
    Machine m;
    m.add(20, "stays", 0);
    m.add(21, "ends", 0);
    m.add(22, "listed, then gone", 0);
    m.files[22].erase("stat");
    m.add(23, "gone between reads", 0);
    m.files[23].erase("status");
    std::map<int, procs::Proc> table;
    procs::Changes ch = procs::sample(table, m.source(), params(), 0, 1);
    EXPECT_EQ(ch.added, (std::vector<int>{20, 21}));

    m.files.erase(21);
    m.add(20, "stays", 0, 1000, "", 999); // the PID now names another process
    ch = procs::sample(table, m.source(), params(), 1.0, 2);
    EXPECT_EQ(ch.removed, (std::vector<int>{20, 21}));
    EXPECT_EQ(ch.added, std::vector<int>{20});
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table[20].start_time, 999u);
}

TEST(ProcessSample, UsersCommandsAndKernelThreads) {
    Machine m;
    m.add(2, "kthreadd", 0, 0);
    m.add(30, "sh", 0, 1000, std::string("/bin/sh\0-l\0", 11));
    std::map<int, procs::Proc> table;
    procs::sample(table, m.source(), params(), 0, 1);
    EXPECT_EQ(table[2].cmd, "[kthreadd]");
    EXPECT_EQ(table[2].user, "root");
    EXPECT_EQ(table[30].cmd, "/bin/sh -l");
    EXPECT_EQ(table[30].user, "u1000");

    // A daemon that dropped its rights shows its new user within a few passes.
    m.add(30, "sh", 0, 1001, std::string("/bin/sh\0-l\0", 11));
    uint64_t pass = 2;
    while (table[30].uid == 1000 && pass < 2 + procs::detail_period)
        procs::sample(table, m.source(), params(), 1.0, pass++);
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
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> args;
            for (size_t i = 1; i < argv.size(); ++i)
                args.push_back(argv[i].data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
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
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_FALSE(procs::read_identity(procs::live_source(), child)) << "reaped";
}
