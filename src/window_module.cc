#include "window_module.h"

#include "hw/display_session.h"
#include "i18n.h"
#include "module_loader.h"
#include "util.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace window_module {

namespace {

constexpr const char* module_name = "quarvel-window.so";
// The display part of the toolkit alone, for the report's probe.
constexpr const char* display_module_name = "quarvel-display.so";

struct Probe {
    pid_t pid = -1;
    int fd = -1;
    timespec deadline{};
    bool done = false;
    std::optional<hw::DisplaySession> session;
};

Probe g_probe;

int ms_until(const timespec& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ms =
        (deadline.tv_sec - now.tv_sec) * 1000LL + (deadline.tv_nsec - now.tv_nsec) / 1000000;
    return ms < 0 ? 0 : static_cast<int>(ms);
}

// The provider in the report's process: the child's answer, waited for until the deadline.
std::optional<hw::DisplaySession> probed_session() {
    if (g_probe.done) return g_probe.session;
    g_probe.done = true;
    std::string text;
    bool complete = false;
    while (!complete) {
        pollfd p{g_probe.fd, POLLIN, 0};
        int ready = ::poll(&p, 1, ms_until(g_probe.deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break; // the deadline passed
        char buf[4096];
        ssize_t n = ::read(g_probe.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            complete = n == 0;
        else if (text.size() < (1u << 20))
            text.append(buf, static_cast<size_t>(n));
        if (n < 0) break;
    }
    ::close(g_probe.fd);
    ::kill(g_probe.pid, SIGKILL);
    int status = 0;
    ::waitpid(g_probe.pid, &status, 0);
    // Only a whole answer of a child that finished normally counts.
    if (complete && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        g_probe.session = hw::session_from_text(text);
    return g_probe.session;
}

} // namespace

void start_display_session_probe(int argc, char** argv, int deadline_ms) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (module_loader::loadable()) _exit(print_display_session(argc, argv, fds[1]));
        // The full program answers on its standard output, which it keeps from the toolkit.
        if (::dup2(fds[1], STDOUT_FILENO) < 0) _exit(1);
        std::vector<char*> args = {argv[0], const_cast<char*>(display_session_option)};
        args.insert(args.end(), argv + 1, argv + argc);
        args.push_back(nullptr);
        module_loader::hand_over(args.data());
        _exit(1);
    }
    ::close(fds[1]);
    g_probe.pid = pid;
    g_probe.fd = fds[0];
    clock_gettime(CLOCK_MONOTONIC, &g_probe.deadline);
    g_probe.deadline.tv_sec += deadline_ms / 1000;
    g_probe.deadline.tv_nsec += (deadline_ms % 1000) * 1000000L;
    if (g_probe.deadline.tv_nsec >= 1000000000L) {
        g_probe.deadline.tv_sec += 1;
        g_probe.deadline.tv_nsec -= 1000000000L;
    }
    hw::set_display_session_provider(probed_session);
}

void end_display_session_probe() {
    if (g_probe.pid < 0 || g_probe.done) return;
    g_probe.deadline = timespec{};
    probed_session();
}

int run_window(int argc, char** argv) {
    std::string error;
    using Entry = int (*)(int, char**);
    auto entry = reinterpret_cast<Entry>(
        module_loader::function(module_name, "quarvel_window_main", &error));
    if (!entry) {
        std::fprintf(stderr, "%s\n", I18n::trf("cli.no_window", error.c_str()).c_str());
        return 1;
    }
    return entry(argc, argv);
}

int print_display_session(int argc, char** argv, int fd) {
    // The report goes to standard output; nothing of the toolkit may land in it. A crash
    // of the toolkit here is no crash of the report: no crash report for it.
    int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) ::dup2(null_fd, STDOUT_FILENO);
    for (int sig : {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP})
        ::signal(sig, SIG_DFL);
    std::string text;
    if (init_toolkit(argc, argv))
        if (auto session = hw::display_session()) text = hw::session_to_text(*session);
    return util::write_all(fd, text) ? 0 : 1;
}

bool init_toolkit(int argc, char** argv) {
    using Init = int (*)(int, char**);
    auto init = reinterpret_cast<Init>(
        module_loader::function(display_module_name, "quarvel_toolkit_init", nullptr));
    return init && init(argc, argv) != 0;
}

} // namespace window_module
