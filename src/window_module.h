// The window and everything that needs the graphical toolkit live in a module loaded on
// demand, so the report and the elevated copy never pay for loading the toolkit's libraries.
#pragma once

namespace window_module {

// Runs the window (the module's App) and returns its exit code. When the module cannot be
// loaded, says so on standard error and returns 1.
int run_window(int argc, char** argv);

// For the report with a display: loads the module and initialises the toolkit, so facts of
// the display session can be collected. False when there is no module or no display.
bool init_toolkit(int argc, char** argv);

// For the report with a display: asks the toolkit for the display session in a child process
// and makes its answer the display-session provider. A display that accepts the connection
// and never answers costs at most `deadline_ms` (counted from this call); the session is then
// left out. The toolkit is never loaded into this process.
void start_display_session_probe(int argc, char** argv, int deadline_ms = 2000);
// The child's part: initialises the toolkit and writes the display session's text to `fd`
// (nothing when there is none). Standard output is sent to /dev/null first. The exit code.
int print_display_session(int argc, char** argv, int fd);
// The option that makes the full program the child of a report that cannot load the toolkit.
inline constexpr const char* display_session_option = "--display-session";
// Ends the child if nobody asked for its answer, so no child outlives the report.
void end_display_session_probe();

} // namespace window_module
