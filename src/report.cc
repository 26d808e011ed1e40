#include "report.h"

#include "redact.h"
#include "util.h"

#include <algorithm>
#include <ctime>
#include <string_view>

namespace report {

namespace {

constexpr size_t name_column = 30;
// Continuation lines of a multi-line value start under its first character: 4 + 30 + 2.
constexpr size_t value_column = 36;

std::string header() {
    char stamp[64] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string out = std::string("Quarvel — ") + tr("report.title") + "\n";
    out += std::string(tr("report.created")) + ": " + stamp + "\n";
    out += std::string(72, '-') + "\n";
    return out;
}

// Appended piece by piece, with no temporary string per row: the report of a large machine
// has tens of thousands of rows.
void write_node(std::string& out, const hw::Node& node, size_t depth, std::string_view locked) {
    const size_t indent = 2 * depth;
    out += '\n';
    out.append(indent, ' ').append("=== ").append(node.title);
    if (!node.summary.empty()) out.append("  [").append(node.summary).append("]");
    out.append(" ===\n");
    for (const auto& section : node.sections) {
        if (section.empty()) continue;
        out.append(indent + 2, ' ').append(section.title) += '\n';
        for (const auto& item : section.items) {
            out.append(indent + 4, ' ').append(item.name);
            // Terminal columns, not characters: Japanese names are twice as wide, and Thai or
            // Hindi ones hold marks that take no column.
            size_t width = util::display_width(item.name);
            if (width < name_column) out.append(name_column - width, ' ');
            out.append("  ");
            // As in the window: a locked row must not read like a fact the firmware lacks.
            std::string_view value = item.needs_root ? locked : std::string_view(item.value);
            for (size_t nl; (nl = value.find('\n')) != std::string_view::npos;) {
                out.append(value.substr(0, nl)) += '\n';
                out.append(indent + value_column, ' ');
                value.remove_prefix(nl + 1);
            }
            out.append(value);
            if (!item.note.empty()) out.append("   (").append(item.note).append(")");
            out += '\n';
        }
    }
    for (const auto& child : node.children)
        write_node(out, *child, depth + 1, locked);
}

// About the size of the text write_node makes of `node`, so that it is made in one piece: a
// text grown by doubling was copied whole at each step and faulted in twice the pages.
size_t text_size(const hw::Node& node, size_t depth) {
    const size_t indent = 2 * depth;
    size_t size = indent + node.title.size() + node.summary.size() + 16;
    for (const auto& section : node.sections) {
        size += indent + section.title.size() + 3;
        for (const auto& item : section.items)
            size += indent + std::max(item.name.size(), name_column) + item.value.size() +
                    item.note.size() + 12;
    }
    for (const auto& child : node.children)
        size += text_size(*child, depth + 1);
    return size;
}

std::string locked_text() {
    return std::string("\U0001F512 ") + tr("msg.needs_root");
}

} // namespace

std::string to_text(const hw::Node& root) {
    std::string out = header();
    const std::string locked = locked_text();
    size_t size = out.size();
    for (const auto& child : root.children)
        size += text_size(*child, 0);
    out.reserve(size);
    for (const auto& child : root.children)
        write_node(out, *child, 0, locked);
    return out;
}

std::string node_to_text(const hw::Node& node) {
    std::string out = header();
    out.reserve(out.size() + text_size(node, 0));
    write_node(out, node, 0, locked_text());
    return out;
}

std::string to_text(const hw::Node& root, const Options& options) {
    return options.redact ? to_text(*redact::redacted_copy(root)) : to_text(root);
}

std::string node_to_text(const hw::Node& node, const Options& options) {
    return options.redact ? node_to_text(*redact::redacted_copy(node)) : node_to_text(node);
}

} // namespace report
