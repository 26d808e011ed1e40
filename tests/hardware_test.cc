#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace hw;
using testing_support::English;
using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(Tree, RowsSectionsAndLookups) {
    Node root;
    root.id = "root";
    Section& s = root.section("A");
    s.add("Model", "", "model"); // an empty value is no row
    s.add("Model", "X1", "model");
    s.add_always("Serial", "");
    s.add_locked("UUID", "product_uuid");
    root.section("B");
    root.section("A").add("z", "3"); // the same title reuses the section
    ASSERT_EQ(root.sections.size(), 2u);
    ASSERT_EQ(root.sections[0].items.size(), 4u);
    EXPECT_EQ(root.sections[0].items[0].value, "X1");
    EXPECT_FALSE(root.sections[0].items[1].needs_root);
    EXPECT_TRUE(root.sections[0].items[2].needs_root);

    Node* a = root.add_child("a", "A", "");
    Node* dup1 = a->add_child("dup", "first", "");
    for (int i = 0; i < 100; ++i)
        root.add_child("filler" + std::to_string(i), "", "");
    root.add_child("dup", "second", "");
    EXPECT_EQ(root.find("root"), &root);
    EXPECT_EQ(root.find("dup"), dup1); // pre-order: inside a before the later sibling
    EXPECT_EQ(a->id, "a");             // still valid after many siblings were added
    EXPECT_EQ(root.find("nothing"), nullptr);
}

TEST(Tree, SearchIgnoresCaseOutsideAscii) {
    Node cpu;
    cpu.title = "Процессор";
    cpu.section("Кэш").add("Размер", "Ölçü");
    for (const char* typed : {"процессор", "ПРОЦЕССОР", "кэш", "размер", "ÖLÇÜ"})
        EXPECT_TRUE(cpu.matches(util::fold_case(typed))) << typed;
    EXPECT_FALSE(cpu.matches(util::fold_case("память")));
}

TEST_F(English, SnapTextsOnlyInsideASnapNameTheMissingInterfaces) {
    TempDir dir;
    dir.mkdir("sys/block");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    {
        ScopedEnv snap("SNAP_NAME", std::nullopt);
        EXPECT_EQ(snap_permission_hint("hardware-observe"), "");
        EXPECT_TRUE(missing_snap_permissions().empty());
    }
    ScopedEnv snap("SNAP_NAME", "quarvel");
    EXPECT_EQ(snap_permission_hint("hardware-observe"),
              "The Snap is missing a permission for this. Run once in a terminal: "
              "sudo snap connect quarvel:hardware-observe");
    EXPECT_EQ(missing_snap_permissions(),
              (std::vector<std::string>{"hardware-observe", "system-observe", "mount-observe"}));
    dir.write("sys/block/sda/size", "1\n");
    dir.write("var/lib/snapd/hostfs/etc/os-release", "ID=debian\n");
    dir.write("run/mount/utab", "");
    EXPECT_TRUE(missing_snap_permissions().empty());
}

namespace {

void fails_oddly(Node&) {
    throw 42;
}
void adds_then_fails(Node& root) {
    root.add_child("partial", "Partial", "");
    throw std::logic_error("late");
}
void works(Node& root) {
    root.add_child("fine", "Fine", "✓")->section("S").add("a", "b");
}

} // namespace

// A collector that throws, even something that is no exception, costs only its own branch.
TEST_F(English, AFailingCollectorLeavesItsPartialWorkAndTheOthersRun) {
    auto root =
        collect_with({{"a", works}, {"b", adds_then_fails}, {"c", fails_oddly}, {"d", works}});
    EXPECT_EQ(root->id + root->title + root->icon, "rootComputer🖥");
    EXPECT_EQ(testing_support::child_ids(*root),
              (std::vector<std::string>{"fine", "partial", "error.b", "error.c", "fine"}));
    const Node* failed = root->find("error.c");
    EXPECT_EQ(failed->title + failed->icon, "c⚠");
    EXPECT_EQ(testing_support::rows(failed, "Error"),
              std::vector<std::string>{"Status=could not be read"});
}

TEST(Collection, SharedFilesAreReadOncePerCollection) {
    TempDir dir;
    dir.write("swaps", "first\n");
    const std::string path = dir.path() + "/swaps";
    static std::string seen_path;
    static std::vector<std::string> seen;
    seen_path = path;
    seen.clear();
    // The second collector sees what the first read, though the file changed in between;
    // the next collection, and any read outside one, sees the file as it is.
    auto first = [](hw::Node&) {
        seen.push_back(*util::read_shared(seen_path));
        std::ofstream(seen_path, std::ios::trunc) << "second\n";
    };
    auto second = [](hw::Node&) { seen.push_back(*util::read_shared(seen_path)); };
    hw::collect_with({{"first", first}, {"second", second}});
    EXPECT_EQ(seen, (std::vector<std::string>{"first\n", "first\n"}));
    EXPECT_EQ(*util::read_shared(path), "second\n");
}
