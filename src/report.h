// The plain-text report: the same text goes to standard output, a file or the clipboard. The
// same tree can also be written as JSON.
#pragma once

#include "hw/hardware.h"

#include <string>

namespace report {

// Header, then every child of `root` at depth 0; the root's own title and rows are not written.
std::string to_text(const hw::Node& root);
// Header, then `node` itself at depth 0 with all its descendants (copying one branch).
std::string node_to_text(const hw::Node& node);

struct Options {
    // For reports that are shared: serial numbers, UUIDs, MAC and IP addresses, the host name
    // and user names become placeholders (one value, one placeholder within a report).
    bool redact = false;
};
std::string to_text(const hw::Node& root, const Options& options);
std::string node_to_text(const hw::Node& node, const Options& options);
// The whole tree, the root included, as one JSON document (schema/report.schema.json).
std::string to_json(const hw::Node& root, const Options& options = {});

} // namespace report
