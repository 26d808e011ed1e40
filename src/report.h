// The plain-text report: the same text goes to standard output, a file or the clipboard.
#pragma once

#include "hw/hardware.h"

#include <string>

namespace report {

// Header, then every child of `root` at depth 0; the root's own title and rows are not written.
std::string to_text(const hw::Node& root);
// Header, then `node` itself at depth 0 with all its descendants (copying one branch).
std::string node_to_text(const hw::Node& node);

} // namespace report
