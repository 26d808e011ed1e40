// The window's own branch of the tree: opening a terminal and the process list.
#pragma once

#include "hw/hardware.h"

#include <string>
#include <vector>

namespace tools {

// The terminal programs to try, in order: `env_terminal` (the TERMINAL variable) when set and
// not empty, then the usual emulators, the generic names first.
std::vector<std::string> terminal_candidates(const char* env_terminal);

// Adds the Tools branch as the last child of a collected tree's root.
void add_branch(hw::Node& root);

} // namespace tools
