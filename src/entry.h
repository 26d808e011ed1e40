// The program's front door: the command-line modes and the dispatch to the window.
#pragma once

namespace entry {

constexpr const char* version = "1.0";

// Scans the arguments for the first recognised option and runs that mode; without one,
// runs the window. Returns the process exit code.
int run(int argc, char** argv);

// --report [FILE]: collects the tree without a window and writes the text report.
int run_report_mode(int argc, char** argv);

} // namespace entry
