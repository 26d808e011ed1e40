#include "report.h"
#include "util.h"

#include <gtest/gtest.h>

using hw::Node;

namespace {

class Report : public ::testing::Test {
protected:
    void SetUp() override { I18n::instance().set_language("en"); }
    void TearDown() override { I18n::instance().set_language("en"); }
};

// The report without its three header lines (the second one carries the time).
std::string body(const std::string& text) {
    size_t pos = 0;
    for (int i = 0; i < 3; ++i)
        pos = text.find('\n', pos) + 1;
    return text.substr(pos);
}

} // namespace

TEST_F(Report, HeaderHasTitleTimeAndRule) {
    Node root;
    std::string text = report::to_text(root);
    auto lines = util::split(text, '\n');
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Quarvel — Hardware report");
    EXPECT_TRUE(util::starts_with(lines[1], "Created: "));
    EXPECT_EQ(lines[1].size(), std::string("Created: 2026-05-04 13:07:09").size());
    EXPECT_EQ(lines[2], std::string(72, '-'));
    EXPECT_EQ(text.size(), lines[0].size() + lines[1].size() + lines[2].size() + 3);
}

TEST_F(Report, NamesArePaddedToThirtyCodePoints) {
    Node root;
    Node* n = root.add_child("a", "Area", "");
    n->summary = "2 things";
    auto& s = n->section("Section");
    s.add("Name", "Value", "note");
    s.add("Имя", "Значение");             // 3 letters, 6 bytes
    s.add(std::string(31, 'x'), "long");  // no fill
    s.add(std::string(30, 'y'), "exact"); // no fill either
    s.add_locked("Serial number", "product_serial");
    std::string expected = "\n=== Area  [2 things] ===\n"
                           "  Section\n"
                           "    Name" +
                           std::string(26, ' ') +
                           "  Value   (note)\n"
                           "    Имя" +
                           std::string(27, ' ') +
                           "  Значение\n"
                           "    " +
                           std::string(31, 'x') +
                           "  long\n"
                           "    " +
                           std::string(30, 'y') +
                           "  exact\n"
                           "    Serial number" +
                           std::string(17, ' ') + "     (product_serial)\n";
    EXPECT_EQ(body(report::to_text(root)), expected);
}

TEST_F(Report, MultiLineValuesContinueUnderTheFirstCharacter) {
    Node root;
    Node* a = root.add_child("a", "A", "");
    a->section("S").add("Lines", "a\nb");
    Node* b = a->add_child("b", "B", "")->add_child("c", "C", "");
    b->section("T").add("Flags", "x\ny", "flags");
    std::string expected = "\n=== A ===\n"
                           "  S\n"
                           "    Lines" +
                           std::string(25, ' ') + "  a\n" + std::string(36, ' ') +
                           "b\n"
                           "\n  === B ===\n"
                           "\n    === C ===\n"
                           "      T\n"
                           "        Flags" +
                           std::string(25, ' ') + "  x\n" + std::string(4 + 36, ' ') +
                           "y   (flags)\n";
    EXPECT_EQ(body(report::to_text(root)), expected);
}

TEST_F(Report, EmptySectionsAreSkippedAndTheRootIsNotWritten) {
    Node root;
    root.title = "Computer";
    root.section("Root section").add("x", "y");
    Node* n = root.add_child("a", "Only title", "");
    n->section("Empty");
    n->section("Also empty").add("dropped", "");
    EXPECT_EQ(body(report::to_text(root)), "\n=== Only title ===\n");
}

TEST_F(Report, NodeToTextWritesTheBranchItselfAtDepthZero) {
    Node root;
    Node* a = root.add_child("a", "A", "");
    Node* b = a->add_child("b", "B", "");
    b->section("S").add("k", "v");
    root.add_child("other", "Other", "");
    EXPECT_EQ(body(report::node_to_text(*a)),
              "\n=== A ===\n\n  === B ===\n    S\n      k" + std::string(29, ' ') + "  v\n");
}
