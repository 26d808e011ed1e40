// Reading the protected facts through the system's elevation tools: which tool to try, and
// what its exit status and output mean. Decided here without the toolkit.
#pragma once

#include "hw/root_data.h"

#include <string>
#include <vector>

namespace elevation {

struct Tool {
    const char* program;
    const char* option; // or null
};

// pkexec (asks with the desktop's own dialog), then sudo without a password prompt.
const std::vector<Tool>& tools();

// What one attempt gave.
struct Run {
    bool spawned = false; // the tool could be started at all
    bool exited = false;  // it ended by itself, with `status`
    int status = 0;
    int signal = 0;        // or it was ended by this signal
    bool stopped = false;  // the user stopped the wait
    bool overflow = false; // it printed more than any answer holds, and was ended for it
    std::string out, err;
};

// More than the protected facts of any machine take: a copy that prints past this prints
// something else, and reading on would only fill the memory.
constexpr size_t max_answer = 4u << 20;

enum class Outcome { elevated, cancelled, failed, next_tool };

struct Verdict {
    Outcome outcome = Outcome::next_tool;
    std::string detail; // failed: why, as one line of printable text; may be empty
    hw::RootData data;  // elevated: the protected facts
};

// A wait the user stopped is a cancel. A tool or copy ended by a signal (the out-of-memory
// killer, a crash) says so. Once the helper ran (its output begins with its version line) its
// answer counts, whatever the exit status: the facts, or its error. Before that, pkexec's 126 means
// the user dismissed the dialog and 127 that authorisation failed; another tool is tried only when
// a tool failed without saying why.
Verdict judge(const std::string& program, const Run& run);

// Over a sysroot the protected files are the captured machine's, read as they lie: pkexec
// and sudo clear the environment, so an elevated copy would read this machine's firmware
// into the captured machine's tree.
Verdict read_captured();

// The status line for a final verdict.
std::string status_text(const Verdict& v);

} // namespace elevation
