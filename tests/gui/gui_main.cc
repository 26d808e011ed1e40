// The window tests run against an X server and a session bus of their own, so they neither
// need nor disturb the developer's desktop, and the screen has a known size (1920×1080).
#include "test_support.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Starts `argv` with `fd_placeholder` replaced by the number of a pipe's write end, and returns
// the first line the child writes there (the display number or the bus address).
pid_t start_with_reply(std::vector<std::string> argv, const std::string& fd_placeholder,
                       std::string& reply) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    for (auto& a : argv)
        if (size_t at = a.find(fd_placeholder); at != std::string::npos)
            a.replace(at, fd_placeholder.size(), std::to_string(fds[1]));
    pid_t pid = fork();
    if (pid == 0) {
        // Ends with the tests however they end, and keeps none of their output open: the
        // test runner waits for that output to close.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (FILE* null = std::fopen("/dev/null", "w")) {
            dup2(fileno(null), STDOUT_FILENO);
            dup2(fileno(null), STDERR_FILENO);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    for (;;) {
        char c;
        ssize_t n = read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1 || c == '\n') break;
        reply += c;
    }
    close(fds[0]);
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);

    const testing_support::TempDir config_dir;
    const std::string config = config_dir.path();
    // A bus with no activatable services: a desktop portal installed on the machine must not
    // be started in place of the fake one.
    const std::string bus_config = config + "/bus.conf";
    if (FILE* f = std::fopen(bus_config.c_str(), "w")) {
        std::fputs("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                   "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                   "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination="
                   "\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                   "</policy></busconfig>\n",
                   f);
        std::fclose(f);
    }

    // A server that gives no reply is started again: on a loaded machine the bus once ended
    // without giving its address.
    auto start = [](const std::vector<std::string>& command, std::string& reply) {
        pid_t pid = -1;
        for (int attempt = 0; attempt < 3 && reply.empty(); ++attempt) {
            stop(pid);
            pid = start_with_reply(command, "FD", reply);
        }
        return pid;
    };
    std::string display, address;
    pid_t xvfb = start({"Xvfb", "-displayfd", "FD", "-screen", "0", "1920x1080x24", "-nolisten",
                        "tcp", "-noreset"},
                       display);
    pid_t dbus = start(
        {"dbus-daemon", "--config-file=" + bus_config, "--nofork", "--print-address=FD"}, address);
    if (display.empty() || address.empty()) {
        std::fprintf(stderr, "window tests: could not start Xvfb (%s) or dbus-daemon (%s)\n",
                     display.c_str(), address.c_str());
        stop(xvfb), stop(dbus);
        return 1;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("GDK_GL", "disable", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);

    gtk_init(&argc, &argv);
    std::setlocale(LC_NUMERIC, "C");
    int rc = RUN_ALL_TESTS();

    stop(dbus);
    stop(xvfb);
    return rc;
}
