// The program's front door: the command-line modes and the dispatch to the window.
#pragma once

#include <cstdio>
#include <string>

namespace entry {

constexpr const char* version = "1.0";

// Scans the arguments for the first recognised option and runs that mode; without one,
// runs the window. Returns the process exit code.
int run(int argc, char** argv);

// --report [FILE]: collects the tree without a window and writes the text report.
int run_report_mode(int argc, char** argv);

// A line of the command-line modes to `to`. It names paths and variables as given: their
// control characters must not reach the terminal as commands.
void say(std::FILE* to, const std::string& text);

// The reason of a failure (strerror of `err`) in the user's language and in UTF-8.
std::string reason(int err);

// The mode of a new report or capture file: run as root, what it holds may be root's alone.
unsigned output_file_mode();

} // namespace entry
