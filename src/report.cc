#include "report.h"

#include "redact.h"
#include "util.h"

#include <ctime>

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

void write_node(std::string& out, const hw::Node& node, size_t depth) {
    std::string indent(2 * depth, ' ');
    out += "\n" + indent + "=== " + node.title;
    if (!node.summary.empty()) out += "  [" + node.summary + "]";
    out += " ===\n";
    std::string continuation = "\n" + indent + std::string(value_column, ' ');
    const std::string locked = std::string("\U0001F512 ") + tr("msg.needs_root");
    for (const auto& section : node.sections) {
        if (section.empty()) continue;
        out += indent + "  " + section.title + "\n";
        for (const auto& item : section.items) {
            out += indent + "    " + item.name;
            size_t width = util::code_points(item.name);
            if (width < name_column) out.append(name_column - width, ' ');
            out += "  ";
            // As in the window: a locked row must not read like a fact the firmware lacks.
            const std::string& value = item.needs_root ? locked : item.value;
            for (char c : value) {
                if (c == '\n')
                    out += continuation;
                else
                    out += c;
            }
            if (!item.note.empty()) out += "   (" + item.note + ")";
            out += "\n";
        }
    }
    for (const auto& child : node.children)
        write_node(out, *child, depth + 1);
}

} // namespace

std::string to_text(const hw::Node& root) {
    std::string out = header();
    for (const auto& child : root.children)
        write_node(out, *child, 0);
    return out;
}

std::string node_to_text(const hw::Node& node) {
    std::string out = header();
    write_node(out, node, 0);
    return out;
}

std::string to_text(const hw::Node& root, const Options& options) {
    return options.redact ? to_text(*redact::redacted_copy(root)) : to_text(root);
}

std::string node_to_text(const hw::Node& node, const Options& options) {
    return options.redact ? node_to_text(*redact::redacted_copy(node)) : node_to_text(node);
}

} // namespace report
