#include "test_support.h"

#include "redact.h"
#include "util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
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
    write_file(fs::path(m_path + "/" + rel), content);
}

void TempDir::write_file(const fs::path& p, const std::string& content) {
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

void write_renumbered_hwmon(const TempDir& root) {
    for (auto [device, chip, milli] :
         {std::tuple{"nvme0", "nvme", "35000"}, {"sdb", "drivetemp", "28000"}}) {
        const std::string dir = std::string("sys/devices/") + device + "/hwmon/hwmon1/";
        root.write(dir + "name", std::string(chip) + "\n");
        root.write(dir + "temp1_input", std::string(milli) + "\n");
    }
    root.symlink("../../devices/nvme0/hwmon/hwmon1", "sys/class/hwmon/hwmon1");
}

void unplug_renumbered_nvme(const TempDir& root) {
    fs::remove_all(fs::path(root.path()) / "sys/devices/nvme0");
    fs::remove(fs::path(root.path()) / "sys/class/hwmon/hwmon1");
    root.symlink("../../devices/sdb/hwmon/hwmon1", "sys/class/hwmon/hwmon1");
}

RunResult run_quarvel(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, int timeout_seconds,
                      const std::string& program) {
    std::vector<std::string> strings = {program};
    strings.insert(strings.end(), args.begin(), args.end());
    size_t env_at = strings.size();
    for (auto& [k, v] : env)
        strings.push_back(k + "=" + v);
    if (!env.count("PATH")) strings.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < strings.size(); ++i)
        (i < env_at ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    // Standard error goes to a file, so one pipe read to its end cannot block the child.
    TempDir dir;
    const std::string err_path = dir.path() + "/stderr";
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    RunResult r;
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::seconds(timeout_seconds);
    char buf[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{out_pipe[0], POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            r.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        ssize_t n = read(out_pipe[0], buf, sizeof buf);
        if (n > 0)
            r.out.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.err = read_whole_file(err_path);
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

std::string machine_test_name(const ::testing::TestParamInfo<std::string>& param) {
    std::string n = param.param.empty() ? "this_computer" : param.param;
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

void open_up(const std::string& root, const std::vector<std::string>& locked, unsigned mode) {
    chmod(root.c_str(), 0755);
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_symlink()) chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
    for (const auto& rel : locked)
        chmod((root + "/" + rel).c_str(), mode);
}

std::string mask_time(const std::string& report) {
    size_t first = report.find('\n');
    size_t second = report.find('\n', first + 1);
    if (second == std::string::npos) return report;
    return report.substr(0, first + 1) + "Created: <time>" + report.substr(second);
}

std::string report_node(const std::string& report, const std::string& title) {
    size_t start = report.find("=== " + title);
    if (start == std::string::npos) return {};
    size_t end = report.find("===", report.find('\n', start));
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void use_english() {
    I18n::instance().set_language("en");
    util::set_number_format(".", ",");
}

std::unique_ptr<hw::Node> collect(const Collector& collector, const std::string& sysroot) {
    use_english();
    ScopedEnv root("QUARVEL_SYSROOT", sysroot.empty() ? std::nullopt : std::optional(sysroot));
    auto tree = std::make_unique<hw::Node>();
    collector(*tree);
    return tree;
}

const hw::Item* find_row(const hw::Node* node, const std::string& section, const std::string& name,
                         size_t nth) {
    if (node)
        for (const auto& s : node->sections)
            if (section.empty() || s.title == section)
                for (const auto& item : s.items)
                    if (item.name == name && nth-- == 0) return &item;
    return nullptr;
}

std::string value(const hw::Node* node, const std::string& section, const std::string& name,
                  size_t nth) {
    const hw::Item* item = find_row(node, section, name, nth);
    return item ? item->value : "<no row>";
}

std::vector<std::string> rows(const hw::Node* node, const std::string& section) {
    if (!node) return {"<no node>"};
    std::vector<std::string> out;
    for (const auto& s : node->sections)
        if (s.title == section)
            for (const auto& i : s.items)
                out.push_back(i.name + "=" + i.value + (i.note.empty() ? "" : " (" + i.note + ")"));
    return out;
}

std::map<std::string, std::unique_ptr<hw::Node>> expect_facts(const Collector& collector,
                                                              const std::vector<Fact>& facts) {
    std::map<std::string, std::unique_ptr<hw::Node>> trees;
    for (const auto& f : facts) {
        auto& tree = trees[f.machine];
        if (!tree) tree = collect(collector, fixture(f.machine));
        const hw::Node* node = tree->find(f.node);
        std::string name = f.name;
        std::string got = !node               ? "<no node>"
                          : name == "summary" ? node->summary
                          : name == "title"   ? node->title
                                              : value(node, f.section, name);
        EXPECT_EQ(got, f.value) << f.machine << ": " << f.node << " / " << f.section << " / "
                                << name;
    }
    return trees;
}

std::vector<const hw::Item*> identifier_rows(const hw::Node& tree) {
    static const std::regex label("serial|uuid|mac address|permanent address|world wide|unique id",
                                  std::regex::icase);
    std::vector<const hw::Item*> out;
    for (const auto& s : tree.sections)
        for (const auto& i : s.items)
            if (!i.value.empty() && std::regex_search(i.name, label) &&
                !redact::is_bus_address(i.value))
                out.push_back(&i);
    for (const auto& c : tree.children)
        for (const auto* i : identifier_rows(*c))
            out.push_back(i);
    return out;
}

namespace {
std::map<std::string, int>* g_reads = nullptr;
} // namespace

std::map<std::string, int> reads_during(const std::function<void()>& body) {
    std::map<std::string, int> reads;
    g_reads = &reads;
    util::set_access_observer([](const std::string& path, util::Access how, std::string_view) {
        if (how == util::Access::read) ++(*g_reads)[path];
    });
    body();
    util::set_access_observer(nullptr);
    g_reads = nullptr;
    return reads;
}

std::vector<std::string> child_ids(const hw::Node& node) {
    std::vector<std::string> ids;
    for (const auto& c : node.children)
        ids.push_back(c->id);
    return ids;
}

} // namespace testing_support
