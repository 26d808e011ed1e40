// Helpers shared by the tests: scoped environment changes, throw-away directory trees, running
// the built program, and collecting a branch and reading its rows.
#pragma once

#include "hw/hardware.h"
#include "hw/ids.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Sets (or, with nullopt, removes) an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // Writes `content` to path() + rel, creating parent directories.
    void write(const std::string& rel, const std::string& content) const;
    void mkdir(const std::string& rel) const;
    // Creates the link path() + rel pointing at `target`, exactly as written.
    void symlink(const std::string& target, const std::string& rel) const;
    // Writes `content` to the absolute `path`, creating parent directories.
    static void write_file(const std::filesystem::path& path, const std::string& content);

private:
    std::string m_path;
};

// Under `root`, hwmon1 is an NVMe drive's chip (35 °C) until unplug_renumbered_nvme() removes
// the drive and gives its number to a SATA disk's chip (28 °C), as the kernel hands a removed
// chip's number to the next one.
void write_renumbered_hwmon(const TempDir& root);
void unplug_renumbered_nvme(const TempDir& root);

struct RunResult {
    int exit_code = -1;  // valid when the program exited
    int term_signal = 0; // non-zero when a signal ended it
    bool timed_out = false;
    double seconds = 0; // wall time from start to exit
    std::string out;
    std::string err;
};

// Runs the built program with `args` in an environment made only of `env` (plus PATH), so
// nothing of the developer's session (language, display, configuration) leaks in. A program
// still running after `timeout_seconds` is killed, so a hang fails a test instead of stalling
// the suite.
// `program` is another copy of the program to run instead of the built one.
RunResult run_quarvel(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {}, int timeout_seconds = 60,
                      const std::string& program = QUARVEL_BINARY);

// The fixed environment most end-to-end tests use: English, UTC, no display, an empty
// configuration directory, and the given sysroot (or none when empty).
std::map<std::string, std::string> plain_env(const std::string& config_dir,
                                             const std::string& sysroot = "");

// Runs `check` with the rights of an ordinary user: in a child process that drops to
// "nobody" when the tests run as root (as in CI), so permission-dependent behaviour is
// exercised either way. True when `check` returned true.
bool as_unprivileged_user(const std::function<bool()>& check);

std::string read_whole_file(const std::string& path);

// A fixture machine: tests/fixtures/<name>, a tree of kernel files read through
// QUARVEL_SYSROOT.
std::string fixture(const std::string& name);
// Other test inputs: tests/data/<name>.
std::string test_data(const std::string& name);
// The names of all fixture machines, sorted.
std::vector<std::string> fixture_machines();
// A fixture machine's name as a test name; the empty name stands for this computer.
std::string machine_test_name(const ::testing::TestParamInfo<std::string>& param);

// Makes everything under `root` readable by everyone, then gives the `locked` paths (relative
// to `root`) the mode `mode`: with as_unprivileged_user, how tests meet root-only files.
void open_up(const std::string& root, const std::vector<std::string>& locked = {},
             unsigned mode = 0);

// The report with its time of writing (the second header line) masked.
std::string mask_time(const std::string& report);
// The lines of `report` from the node header starting with "=== `title`" to the next header.
std::string report_node(const std::string& report, const std::string& title);

// English texts and number separators, in which the expected values are written.
void use_english();
// A test whose expected texts are English, whatever language an earlier test left behind.
class English : public ::testing::Test {
protected:
    void SetUp() override { use_english(); }
};

using Collector = std::function<void(hw::Node&)>;
// A collector that names devices, given the identifier files found under the sysroot.
template <class F> Collector with_ids(F collector) {
    return [collector](hw::Node& root) { collector(root, hw::Ids::load()); };
}
// The tree `collector` builds over `sysroot` (the live system when empty), in English.
std::unique_ptr<hw::Node> collect(const Collector& collector, const std::string& sysroot);

// The `nth` row named `name` in the section titled `section` (in any section when empty).
const hw::Item* find_row(const hw::Node* node, const std::string& section, const std::string& name,
                         size_t nth = 0);
// The value of that row, or "<no row>" so that a missing row reads clearly in a failure.
std::string value(const hw::Node* node, const std::string& section, const std::string& name,
                  size_t nth = 0);
// "name=value (note)" of each row of the section, or {"<no node>"}.
std::vector<std::string> rows(const hw::Node* node, const std::string& section);
std::vector<std::string> child_ids(const hw::Node& node);
// The files `body` reads, each with the number of times it was read.
std::map<std::string, int> reads_during(const std::function<void()>& body);

// Rows whose English label says they hold a serial number, UUID, MAC address or WWID, found
// the way a reader of the report finds them rather than by the program's own list; a root
// hub's serial, which is its controller's PCI address, is no identifier.
std::vector<const hw::Item*> identifier_rows(const hw::Node& tree);

// One fact of a fixture machine: the value of a row of a node, "<no row>" for a row that must
// be absent, or with the name "summary" or "title" the node's own.
struct Fact {
    const char *machine, *node, *section, *name, *value;
};
// Checks each fact in the trees `collector` builds over the fixture machines, which are
// returned by machine name for further checks.
std::map<std::string, std::unique_ptr<hw::Node>> expect_facts(const Collector& collector,
                                                              const std::vector<Fact>& facts);

} // namespace testing_support
