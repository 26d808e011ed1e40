#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : m_name(std::move(name)) {
    if (const char* old = std::getenv(m_name.c_str())) m_old = old;
    if (value)
        setenv(m_name.c_str(), value->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "quarvel-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make files unreadable on purpose; give the owner rights back before removing.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

void TempDir::write(const std::string& rel, const std::string& content) const {
    fs::path p = fs::path(m_path + "/" + rel);
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!f) throw std::runtime_error("cannot write " + p.string());
}

void TempDir::mkdir(const std::string& rel) const {
    fs::create_directories(m_path + "/" + rel);
}

void TempDir::symlink(const std::string& target, const std::string& rel) const {
    fs::path p = fs::path(m_path + "/" + rel);
    fs::create_directories(p.parent_path());
    if (::symlink(target.c_str(), p.c_str()) != 0) throw std::runtime_error("symlink failed");
}

namespace {

void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
            } else {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

} // namespace

RunResult run_quarvel(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env) {
    std::vector<std::string> env_strings;
    bool has_path = false;
    for (auto& [k, v] : env) {
        env_strings.push_back(k + "=" + v);
        has_path = has_path || k == "PATH";
    }
    if (!has_path) env_strings.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    std::vector<char*> envp;
    for (auto& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_strings = {QUARVEL_BINARY};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, STDIN_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    RunResult r;
    drain(out_pipe[0], err_pipe[0], r.out, r.err);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.term_signal = WTERMSIG(status);
    return r;
}

std::map<std::string, std::string> plain_env(const std::string& config_dir,
                                             const std::string& sysroot) {
    // TZ: times of a capture (the boot time) must read the same on every machine.
    std::map<std::string, std::string> env = {{"LANGUAGE", "en"},
                                              {"LANG", "C.UTF-8"},
                                              {"TZ", "UTC"},
                                              {"XDG_CONFIG_HOME", config_dir},
                                              {"HOME", config_dir}};
    if (!sysroot.empty()) env["QUARVEL_SYSROOT"] = sysroot;
    return env;
}

bool as_unprivileged_user(const std::function<bool()>& check) {
    if (geteuid() != 0) return check();
    pid_t pid = fork();
    if (pid == 0) {
        const gid_t nobody_gid = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody_gid) != 0 || setuid(65534) != 0) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string fixture(const std::string& name) {
    return std::string(QUARVEL_FIXTURES) + "/" + name;
}

} // namespace testing_support

namespace testing_support {

std::string test_data(const std::string& name) {
    return std::string(QUARVEL_SOURCE_DIR) + "/tests/data/" + name;
}

std::vector<std::string> fixture_machines() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(QUARVEL_FIXTURES, ec))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace testing_support
