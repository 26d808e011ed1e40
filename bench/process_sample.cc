// How long one pass of the process list's sampler takes with many processes: the benchmark
// starts that many sleeping children of its own, then times passes over the live /proc. The
// first pass reads every process's status and command line; later ones read the stat and statm
// files of every process and the other two files of a rotating share. For comparison it times the
// bare floor: opening and reading each process's stat file once, with nothing parsed.
//
// usage: build/bench_process_sample [CHILDREN] [PASSES]   (default 5000 and 15;
//        target: a steady pass with 5,000 processes under 40 ms)
//
// Wall time includes waiting for a core on a shared machine; processor time does not.
// Compare figures within one run.
#include "live/processes.h"

#include "timing.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::ms_between;
using bench::now;
using bench::Stamp;

void print_row(const char* what, std::vector<double> wall, std::vector<double> cpu) {
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("  %-34s wall min %6.1f  median %6.1f  max %6.1f   cpu median %6.1f ms\n", what,
                wall.front(), wall[wall.size() / 2], wall.back(), cpu[cpu.size() / 2]);
}

} // namespace

int main(int argc, char** argv) {
    const int children = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int passes = argc > 2 ? std::max(std::atoi(argv[2]), 1) : 15;

    std::vector<pid_t> kids;
    const pid_t parent = getpid();
    for (int i = 0; i < children; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            // Ends with the benchmark however it ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(0);
            for (;;)
                pause();
        }
        if (pid < 0) {
            std::perror("fork");
            break;
        }
        kids.push_back(pid);
    }

    const procs::Source source = procs::live_source();
    procs::Params params;
    params.clk_tck = sysconf(_SC_CLK_TCK);
    params.page_size = sysconf(_SC_PAGESIZE);
    params.user_name = [](unsigned uid) { return std::to_string(uid); };

    std::map<int, procs::Proc> table;
    Stamp a = now();
    procs::sample(table, source, params, 0, 0);
    Stamp b = now();
    std::printf("process_sample: %zu processes (%zu children of the benchmark)\n", table.size(),
                kids.size());
    print_row("first pass (all files)", {ms_between(a.wall, b.wall)}, {ms_between(a.cpu, b.cpu)});

    std::vector<double> wall, cpu, floor_wall, floor_cpu;
    for (int i = 1; i <= passes; ++i) {
        a = now();
        procs::sample(table, source, params, 1.0, static_cast<uint64_t>(i));
        b = now();
        wall.push_back(ms_between(a.wall, b.wall));
        cpu.push_back(ms_between(a.cpu, b.cpu));

        a = now();
        size_t bytes = 0;
        for (int pid : source.list())
            bytes += source.read(pid, "stat").size();
        b = now();
        floor_wall.push_back(ms_between(a.wall, b.wall));
        floor_cpu.push_back(ms_between(a.cpu, b.cpu));
        if (bytes == 0) std::printf("  (no stat file could be read)\n");
    }
    print_row("steady pass", wall, cpu);
    print_row("floor: list + read every stat", floor_wall, floor_cpu);

    for (pid_t pid : kids)
        kill(pid, SIGKILL);
    for (pid_t pid : kids)
        waitpid(pid, nullptr, 0);
    return 0;
}
