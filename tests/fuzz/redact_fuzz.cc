// Redaction scans every text of a report for addresses, UUIDs and names. On any text it ends,
// and keeps valid UTF-8 valid.
#include "fuzz_support.h"
#include "redact.h"
#include "util.h"

#include <string>

FUZZ_TARGET(input) {
    I18n::instance().set_language("en");
    const std::string text = util::valid_utf8(input);
    hw::Node root;
    hw::Node* n = root.add_child("a", text, "");
    n->summary = text;
    n->section("S").add_always(tr("f.hostname"), text.substr(0, 12));
    n->section("S").add_always("Row", text, text);
    auto copy = redact::redacted_copy(root);
    const hw::Node& c = *copy->children.at(0);
    for (const std::string* s : {&c.title, &c.summary, &c.sections.at(0).items.at(1).value})
        if (util::valid_utf8(*s) != *s) std::abort();
}
