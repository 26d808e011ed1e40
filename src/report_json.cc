// The report as JSON, for programs rather than people. The layout is described by
// schema/report.schema.json; "format_version" changes whenever a field changes meaning.
#include "entry.h"
#include "redact.h"
#include "report.h"
#include "util.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace report {

namespace {

constexpr int format_version = 1;

using nlohmann::ordered_json;

// ISO 8601 with the offset written "+01:00", which every JSON consumer's date parser reads.
std::string created_now() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[64] = "";
    if (!localtime_r(&now, &local) ||
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
        return "1970-01-01T00:00:00+00:00";
    std::string s = stamp;
    size_t minutes = s.size() - 2; // %z gives "+0100"
    return s.substr(0, minutes) + ":" + s.substr(minutes);
}

// Ids come from kernel names (interfaces, disks), which may hold any bytes. Turning the bytes
// that are not UTF-8 into U+FFFD, as in the other texts, would give "wl\xfe" and "wl\xff" one
// id; written as "\xFE" and "\xFF" (and a backslash as two) they stay apart, and the ids
// of well-formed names stay as they are.
std::string id_text(std::string_view id) {
    std::string out;
    for (size_t i = 0; i < id.size();) {
        const auto c = static_cast<unsigned char>(id[i]);
        size_t len = util::utf8_sequence_at(id, i);
        if (c == '\\') {
            out += "\\\\";
        } else if (len > 0) {
            out += id.substr(i, len);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
            len = 1;
        }
        i += len;
    }
    return out;
}

// Empty sections are left out, as in the text report, so both describe the same rows.
ordered_json node_json(const hw::Node& node) {
    ordered_json sections = ordered_json::array();
    for (const auto& section : node.sections) {
        if (section.empty()) continue;
        ordered_json rows = ordered_json::array();
        for (const auto& item : section.items)
            rows.push_back({{"name", item.name},
                            {"value", item.value},
                            {"note", item.note},
                            {"locked", item.needs_root}});
        sections.push_back({{"title", section.title}, {"rows", std::move(rows)}});
    }
    ordered_json children = ordered_json::array();
    for (const auto& child : node.children)
        children.push_back(node_json(*child));
    return {{"id", id_text(node.id)},
            {"title", node.title},
            {"icon", node.icon},
            {"summary", node.summary},
            {"sections", std::move(sections)},
            {"children", std::move(children)}};
}

} // namespace

std::string to_json(const hw::Node& root, const Options& options) {
    std::unique_ptr<hw::Node> redacted;
    if (options.redact) redacted = redact::redacted_copy(root);
    ordered_json doc = {
        {"format", "quarvel-report"}, {"format_version", format_version},
        {"program", "Quarvel"},       {"version", entry::version},
        {"created", created_now()},   {"language", I18n::instance().effective_language()},
        {"redacted", options.redact}, {"root", node_json(redacted ? *redacted : root)},
    };
    // Tree texts come from firmware and drivers; a byte that slipped past the collectors'
    // cleaning must not make the whole report unwritable, so it becomes U+FFFD.
    return doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

} // namespace report
