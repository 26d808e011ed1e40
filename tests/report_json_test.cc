// The JSON report: what it holds of a tree, and that every fixture machine's, plain and
// redacted, passes a strict parser and the schema in schema/report.schema.json.
#include "report.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using hw::Node;
using testing_support::TempDir;

namespace {

// Bytes no collector should let through, in every kind of text the tree holds.
std::unique_ptr<Node> damaged_tree() {
    auto root = std::make_unique<Node>();
    root->id = "root";
    Node* n = root->add_child("a\x01",
                              "Ar\xff\xfe"
                              "ea",
                              "\xf0\x9f");
    n->summary = std::string("nul\0inside", 10);
    n->section("Empty");
    auto& s = n->section("S\x1b[0m");
    s.add("Name", "line 1\nline 2 \"quoted\" \\ \t", "note");
    s.add_locked("Serial number", "product_serial");
    // Interface names that differ only in a byte that is not UTF-8, or by a backslash.
    for (const char* name : {"wl\xfe", "wl\xff", "wl\\xFF"})
        root->add_child(std::string("net.") + name, name, "")->section("S").add("Name", "v");
    return root;
}

} // namespace

TEST(JsonReport, HoldsTheTreeWithEveryTextMadeValid) {
    testing_support::use_english();
    auto doc = nlohmann::json::parse(report::to_json(*damaged_tree()));
    EXPECT_EQ(doc["format"], "quarvel-report");
    EXPECT_EQ(doc["format_version"], 1);
    EXPECT_EQ(doc["redacted"], false);
    const auto& a = doc["root"]["children"][0];
    EXPECT_EQ(a["title"], "Ar\uFFFD\uFFFDea");
    EXPECT_EQ(a["summary"], std::string("nul\0inside", 10));
    ASSERT_EQ(a["sections"].size(), 1u); // the empty section is left out, as in the text
    const auto& rows = a["sections"][0]["rows"];
    EXPECT_EQ(rows[0], nlohmann::json::parse(R"({"name": "Name", "value":
        "line 1\nline 2 \"quoted\" \\ \t", "note": "note", "locked": false})"));
    EXPECT_EQ(rows[1]["locked"], true);
    EXPECT_EQ(rows[1]["value"], "");
    std::vector<std::string> ids;
    for (const auto& child : doc["root"]["children"])
        ids.push_back(child["id"]);
    EXPECT_EQ(ids,
              (std::vector<std::string>{"a\x01", "net.wl\\xFE", "net.wl\\xFF", "net.wl\\\\xFF"}));
}

TEST(JsonReport, EveryFixtureMachineAndADamagedTreePassAStrictParserAndTheSchema) {
    TempDir out, config;
    std::string files;
    for (const auto& machine : testing_support::fixture_machines()) {
        for (bool redact : {false, true}) {
            std::string path = out.path() + "/" + machine + (redact ? "-redacted" : "") + ".json";
            std::vector<std::string> args = {"--report", "--json", path};
            if (redact) args.insert(args.begin() + 1, "--redact");
            auto run = testing_support::run_quarvel(
                args, testing_support::plain_env(config.path(), testing_support::fixture(machine)));
            ASSERT_EQ(run.exit_code, 0) << machine << run.err;
            files += " '" + path + "'";
        }
    }
    out.write("damaged.json", report::to_json(*damaged_tree()));
    files += " '" + out.path() + "/damaged.json'";
    std::string source = QUARVEL_SOURCE_DIR;
    std::string command = "python3 '" + source + "/tests/validate_report_json.py' '" + source +
                          "/schema/report.schema.json'" + files;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
