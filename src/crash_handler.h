// Turns a fatal signal into a crash report file and offers to mail it, then lets the process
// die by the signal it caught. Independent of the toolkit, the catalog and the settings, so it
// can be installed before anything else and works in every mode.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

class CrashHandler {
public:
    // Prepares everything the handler will need and installs it for SIGSEGV, SIGABRT, SIGFPE,
    // SIGBUS, SIGILL and SIGTRAP. Reads the environment once, here.
    static void install();
};

// The handler itself. Uses only async-signal-safe calls: the crash may come from inside the
// allocator or while another thread holds a library lock.
void crashHandler(int sig);

// The pieces of the handler that are plain text work, open to tests.
namespace crash {

constexpr const char* support_address = "crash-reports@quarvel.org";

// "$XDG_RUNTIME_DIR/Quarvel_crash.txt", or under "/tmp" when the variable is unset, empty or
// not an absolute path.
std::string report_path();

// German when LANG, LC_ALL or LANGUAGE begins with "de".
bool german_from_env();

struct DialogTexts {
    std::string title;
    std::string ok;
    std::string cancel;
};
DialogTexts dialog_texts(bool german);

// `text` in single quotes, arriving literally in bash whatever it contains.
std::string shell_quote(std::string_view text);

// The bash script that asks for a description, appends it to `report_file` and opens the
// mail. The mail subject is the script's first positional parameter ($1).
std::string dialog_script(const std::string& report_file, const DialogTexts& texts);

// "SIGSEGV (Segmentation fault)" and its kin; "Unknown signal" for any other number.
const char* signal_description(int sig);

// The local clock's offset from UTC now and after its next change (summer time) within about
// a year, worked out ahead so the handler can tell local time without the time-zone code and
// its lock.
struct LocalClock {
    long before = 0;
    time_t change_at = 0; // 0: no change ahead
    long after = 0;

    long offset_at(time_t t) const { return change_at != 0 && t >= change_at ? after : before; }
};
LocalClock local_clock_from(time_t now);

// Formats `t` as "%Y-%m-%d %H:%M:%S" for a clock `utc_offset` seconds ahead of UTC, into
// `out` (at least 32 bytes, NUL-terminated). Signal-safe.
void format_time(time_t t, long utc_offset, char* out);

} // namespace crash
