#include "report.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using hw::Node;

namespace {

using Report = testing_support::English;

// The report without its three header lines (the second one carries the time).
std::string body(const std::string& text) {
    size_t pos = 0;
    for (int i = 0; i < 3; ++i)
        pos = text.find('\n', pos) + 1;
    return text.substr(pos);
}

std::string pad(size_t n) {
    return std::string(n, ' ');
}

} // namespace

TEST_F(Report, HeaderHasTitleTimeAndRule) {
    auto lines = util::split(report::to_text(Node{}), '\n');
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0] + "|" + lines[1].substr(0, 9) + "|" + lines[2] + "|" + lines[3],
              "Quarvel — Hardware report|Created: |" + std::string(72, '-') + "|");
    EXPECT_EQ(lines[1].size(), std::string("Created: 2026-05-04 13:07:09").size());
}

TEST_F(Report, NamesArePaddedToThirtyCodePointsAndLockedRowsSaySo) {
    Node root;
    Node* n = root.add_child("a", "Area", "");
    n->summary = "2 things";
    auto& s = n->section("Section");
    s.add("Name", "Value", "note");
    s.add("Имя", "Значение");             // 3 letters, 6 bytes
    s.add(std::string(31, 'x'), "long");  // no fill
    s.add(std::string(30, 'y'), "exact"); // no fill either
    s.add_locked("Serial number", "product_serial");
    EXPECT_EQ(body(report::to_text(root)),
              "\n=== Area  [2 things] ===\n  Section\n    Name" + pad(26) +
                  "  Value   (note)\n    Имя" + pad(27) + "  Значение\n    " +
                  std::string(31, 'x') + "  long\n    " + std::string(30, 'y') +
                  "  exact\n    Serial number" + pad(17) +
                  "  🔒 not readable without root   (product_serial)\n");
}

TEST_F(Report, EmptySectionsAndTheRootAreNotWrittenAndABranchStartsAtDepthZero) {
    Node root;
    root.title = "Computer";
    root.section("Root section").add("x", "y");
    Node* n = root.add_child("a", "Only title", "");
    n->section("Empty");
    n->section("Also empty").add("dropped", "");
    EXPECT_EQ(body(report::to_text(root)), "\n=== Only title ===\n");
    n->add_child("b", "B", "")->section("S").add("k", "v");
    EXPECT_EQ(body(report::node_to_text(*n)),
              "\n=== Only title ===\n\n  === B ===\n    S\n      k" + pad(29) + "  v\n");
}
