// Every fixture machine under tests/fixtures is collected twice: in-process for a structural
// self-check of the tree, and by the built program for its golden report under
// tests/golden/<machine>.txt. UPDATE_GOLDEN=1 rewrites the golden files, so every change of
// output shows up in review.
#include "hw/hardware.h"
#include "report.h"
#include "test_support.h"
#include "util.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string_view>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class FixtureMachine : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { testing_support::use_english(); }
};

std::string golden_path(const std::string& machine) {
    return std::string(QUARVEL_SOURCE_DIR) + "/tests/golden/" + machine + ".txt";
}

void check_node(const hw::Node& node, std::set<std::string>& ids,
                std::vector<std::string>& faults) {
    if (!ids.insert(node.id).second) faults.push_back("duplicate id " + node.id);
    if (node.id.empty() || node.title.empty()) faults.push_back("no id or title: " + node.id);
    // Joined with newlines, so that a sequence cut at the end of one text stays invalid.
    std::string texts = node.title + "\n" + node.summary;
    for (const auto& s : node.sections) {
        texts += "\n" + s.title;
        for (const auto& item : s.items) {
            texts += "\n" + item.name + "\n" + item.value + "\n" + item.note;
            if (item.name.empty()) faults.push_back(node.id + ": row without a name");
            if (item.value.empty() != item.needs_root)
                faults.push_back(node.id +
                                 ": empty value without a lock, or a locked value: " + item.name);
        }
    }
    if (util::valid_utf8(texts) != texts) faults.push_back(node.id + ": invalid UTF-8");
    for (const auto& c : node.children)
        check_node(*c, ids, faults);
}

} // namespace

TEST_P(FixtureMachine, TreeIsWellFormed) {
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::fixture(GetParam()));
    std::unique_ptr<hw::Node> tree;
    const auto reads = testing_support::reads_during([&] { tree = hw::collect_all(); });
    std::set<std::string> ids;
    std::vector<std::string> faults;
    check_node(*tree, ids, faults);
    for (const auto& entry : hw::collector_table()) {
        std::string name = entry.name;
        // A machine without power supplies (most desktops) has no power branch at all.
        if (name == "power" && util::list_dir("/sys/class/power_supply").empty()) continue;
        if (!tree->find(name) && !tree->find("error." + name))
            faults.push_back("no branch and no failure node for " + name);
    }
    // Whatever several branches show is read once, also by another name (CPUs that share a
    // frequency policy reach the same files through their own links).
    std::map<std::string, int> by_file;
    for (const auto& [path, times] : reads)
        by_file[util::resolve_path(path)] += times;
    for (const auto& [path, times] : by_file)
        if (times > 1) faults.push_back("read " + std::to_string(times) + " times: " + path);
    for (const auto& f : faults)
        ADD_FAILURE() << GetParam() << ": " << f;
}

TEST_P(FixtureMachine, ReportMatchesGolden) {
    TempDir config;
    auto run = testing_support::run_quarvel(
        {"--report"},
        testing_support::plain_env(config.path(), testing_support::fixture(GetParam())));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::string actual = testing_support::mask_time(run.out);
    std::string path = golden_path(GetParam());
    const char* update = std::getenv("UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        GTEST_SKIP() << "rewrote " << path;
    }
    std::string expected = testing_support::read_whole_file(path);
    ASSERT_FALSE(expected.empty())
        << "no golden report " << path << "; run the tests with UPDATE_GOLDEN=1 and review it";
    EXPECT_EQ(actual, expected) << "report of " << GetParam() << " changed; if intended, "
                                << "rerun with UPDATE_GOLDEN=1 and review the diff";
}

// Where others may write to a capture's directories, it is read entry by entry, each looked at
// before it is opened; where only its owner may, from listings. What it shows is the same.
TEST(FixtureMachines, ReportIsTheSameWhereOthersMayWrite) {
    namespace fs = std::filesystem;
    for (const char* machine : {"desktop-amd", "laptop-usb-battery", "cpu-x86-2socket-smt-numa"}) {
        TempDir copy, config;
        const std::string root = copy.path() + "/machine";
        fs::copy(testing_support::fixture(machine), root,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_directory() && !e.is_symlink())
                fs::permissions(e.path(), fs::perms::group_write, fs::perm_options::add);
        auto run = testing_support::run_quarvel({"--report"},
                                                testing_support::plain_env(config.path(), root));
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(testing_support::mask_time(run.out),
                  testing_support::read_whole_file(golden_path(machine)))
            << machine;
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, FixtureMachine,
                         ::testing::ValuesIn(testing_support::fixture_machines()),
                         testing_support::machine_test_name);
