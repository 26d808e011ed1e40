#include "hw/hardware.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace hw;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class English : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }
};

} // namespace

TEST(Section, AddDropsEmptyValuesButAlwaysAndLockedKeepThem) {
    Section s;
    s.add("Model", "", "model");
    EXPECT_TRUE(s.empty());
    s.add("Model", "X1", "model");
    s.add_always("Serial", "", "");
    s.add_locked("UUID", "product_uuid");
    ASSERT_EQ(s.items.size(), 3u);
    EXPECT_EQ(s.items[0].value, "X1");
    EXPECT_EQ(s.items[0].note, "model");
    EXPECT_FALSE(s.items[1].needs_root);
    EXPECT_TRUE(s.items[2].needs_root);
    EXPECT_EQ(s.items[2].value, "");
}

TEST(Node, SectionIsReusedByTitleAndNewTitlesAppend) {
    Node n;
    n.section("A").add("x", "1");
    n.section("B").add("y", "2");
    n.section("A").add("z", "3");
    ASSERT_EQ(n.sections.size(), 2u);
    EXPECT_EQ(n.sections[0].items.size(), 2u);
    EXPECT_EQ(n.sections[1].title, "B");
}

TEST(Node, FindSearchesPreOrderAndChildPointersStayValid) {
    Node root;
    root.id = "root";
    Node* a = root.add_child("a", "A", "");
    Node* dup1 = a->add_child("dup", "first", "");
    for (int i = 0; i < 100; ++i)
        root.add_child("filler" + std::to_string(i), "", "");
    root.add_child("dup", "second", "");
    EXPECT_EQ(root.find("root"), &root);
    EXPECT_EQ(root.find("dup"), dup1); // pre-order: inside a before the later sibling
    EXPECT_EQ(root.find("dup")->title, "first");
    EXPECT_EQ(a->id, "a"); // still valid after many siblings were added
    EXPECT_EQ(root.find("nothing"), nullptr);
}

TEST(Node, MatchesTitlesSummariesSectionsNamesAndValuesOnly) {
    Node n;
    n.title = "Intel Graphics";
    n.summary = "2 monitors";
    n.section("Driver").add("Module", "i915", "module/NOTE-ONLY");
    n.add_child("c", "child-only", "");
    EXPECT_TRUE(n.matches(""));
    EXPECT_TRUE(n.matches("intel"));
    EXPECT_TRUE(n.matches("monitors"));
    EXPECT_TRUE(n.matches("driver"));
    EXPECT_TRUE(n.matches("module"));
    EXPECT_TRUE(n.matches("i915"));
    EXPECT_FALSE(n.matches("note-only"));
    EXPECT_FALSE(n.matches("child-only"));
    EXPECT_FALSE(n.matches("INTEL")); // the caller lower-cases the needle
}

TEST_F(English, SysfsShortcutsReadTrimAndLabel) {
    TempDir dir;
    dir.write("sys/d/zero", "0\n");
    dir.write("sys/d/one", "1");
    dir.write("sys/d/y", "Y\n");
    dir.write("sys/d/enabled", "enabled\n");
    dir.write("sys/d/empty", "");
    dir.write("sys/d/size", "1000215216\n");
    dir.write("sys/d/freq", "2400000\n");
    dir.write("sys/d/garbage", "garbage\n");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
    Section s;
    add_sysfs_bool(s, "zero", "/sys/d", "zero");
    add_sysfs_bool(s, "one", "/sys/d", "one");
    add_sysfs_bool(s, "y", "/sys/d", "y");
    add_sysfs_bool(s, "enabled", "/sys/d", "enabled");
    add_sysfs_bool(s, "empty", "/sys/d", "empty");
    add_sysfs_bool(s, "missing", "/sys/d", "missing");
    ASSERT_EQ(s.items.size(), 4u);
    EXPECT_EQ(s.items[0].value, "No");
    EXPECT_EQ(s.items[1].value, "Yes");
    EXPECT_EQ(s.items[2].value, "Yes");
    EXPECT_EQ(s.items[3].value, "Yes");
    EXPECT_EQ(s.items[0].note, "zero");

    Section t;
    add_sysfs_bytes(t, "Size", "/sys/d", "size", 512);
    add_sysfs_khz(t, "Clock", "/sys/d", "freq");
    add_sysfs_khz(t, "Bad", "/sys/d", "garbage");
    add_sysfs(t, "Raw", "/sys/d", "garbage");
    add_sysfs(t, "Empty", "/sys/d", "empty");
    ASSERT_EQ(t.items.size(), 4u);
    EXPECT_EQ(t.items[0].value, "477 GiB");
    EXPECT_EQ(t.items[1].value, "2.40 GHz");
    EXPECT_EQ(t.items[2].value, "0 Hz"); // present but unparsable: still a row
    EXPECT_EQ(t.items[3].value, "garbage");
}

TEST_F(English, SnapTextsAreEmptyOutsideASnap) {
    ScopedEnv snap("SNAP_NAME", std::nullopt);
    EXPECT_EQ(snap_permission_hint("hardware-observe"), "");
    EXPECT_TRUE(missing_snap_permissions().empty());
    EXPECT_EQ(yesno(true), "Yes");
    EXPECT_EQ(yesno(false), "No");
}

TEST_F(English, SnapTextsNameTheMissingInterfaces) {
    TempDir dir;
    dir.mkdir("sys/block");
    ScopedEnv snap("SNAP_NAME", "quarvel");
    ScopedEnv root("QUARVEL_SYSROOT", dir.path());
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

void fails(Node&) {
    throw std::runtime_error("boom");
}
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

TEST_F(English, EveryCollectorFailingGivesTwelveFailureNodesInTableOrder) {
    std::vector<CollectorEntry> table;
    for (const auto& e : collector_table())
        table.push_back({e.name, fails});
    auto root = collect_with(table);
    EXPECT_EQ(root->id, "root");
    EXPECT_EQ(root->title, "Computer");
    EXPECT_EQ(root->icon, "🖥");
    const char* names[] = {"system", "cpu",     "memory",  "graphics", "storage", "pci",
                           "usb",    "network", "sensors", "power",    "input",   "os"};
    ASSERT_EQ(root->children.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const Node& n = *root->children[i];
        EXPECT_EQ(n.id, std::string("error.") + names[i]);
        EXPECT_EQ(n.title, names[i]);
        EXPECT_EQ(n.icon, "⚠");
        ASSERT_EQ(n.sections.size(), 1u);
        EXPECT_EQ(n.sections[0].title, "Error");
        ASSERT_EQ(n.sections[0].items.size(), 1u);
        EXPECT_EQ(n.sections[0].items[0].name, "Status");
        EXPECT_EQ(n.sections[0].items[0].value, "could not be read");
        EXPECT_EQ(n.sections[0].items[0].note, "");
    }
}

TEST_F(English, AFailingCollectorLeavesItsPartialWorkAndTheOthersRun) {
    auto root =
        collect_with({{"a", works}, {"b", adds_then_fails}, {"c", fails_oddly}, {"d", works}});
    ASSERT_EQ(root->children.size(), 5u);
    EXPECT_EQ(root->children[0]->id, "fine");
    EXPECT_EQ(root->children[1]->id, "partial");
    EXPECT_EQ(root->children[2]->id, "error.b");
    EXPECT_EQ(root->children[3]->id, "error.c");
    EXPECT_EQ(root->children[4]->id, "fine");
}

TEST(CollectorTable, HasTheTwelveBranchesInOrder) {
    std::vector<std::string> names;
    for (const auto& e : collector_table())
        names.push_back(e.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"system", "cpu", "memory", "graphics", "storage", "pci",
                                        "usb", "network", "sensors", "power", "input", "os"}));
}
