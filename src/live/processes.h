// The process list's sampler: the kernel's per-process files turned into records, CPU shares
// from tick deltas over the measured interval, and the list's filter. No toolkit here; the
// view in src/gui/procview keeps the rows in step with what a pass reports.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace procs {

// ---- Parsers of /proc/PID files -------------------------------------------------------------

struct Stat {
    std::string name;  // from the first "(" to the last ")"
    std::string state; // "R", "S", "Z", …
    int ppid = 0;
    uint64_t ticks = 0;      // user + system time, in clock ticks
    uint64_t start_time = 0; // clock ticks after boot; with the PID it names one process
    uint64_t rss_pages = 0;  // resident pages, as the kernel estimates them here
    bool kernel = false;     // a kernel thread, by the kernel's own flag
};

// The name may hold spaces, parentheses and ") ", so only what follows the last ")" is split
// into fields. Nothing for text that is not a stat line.
std::optional<Stat> parse_stat(std::string_view text);
// The resident pages of a statm text: its second number.
std::optional<uint64_t> parse_statm_resident(std::string_view statm);
// The real uid: the first number of the "Uid:" line.
std::optional<unsigned> parse_real_uid(std::string_view status);
// Arguments joined by spaces, on one line, as printable UTF-8 of at most max_command_bytes.
std::string parse_cmdline(std::string_view raw);
// "MemTotal:" of /proc/meminfo in bytes; 0 when missing.
uint64_t parse_mem_total(std::string_view meminfo);

constexpr size_t max_command_bytes = 4096;

// `text` cut to at most `max_bytes` on a character boundary, with "…" appended when cut.
std::string shorten(std::string_view text, size_t max_bytes);

// ---- Sampling -------------------------------------------------------------------------------

struct Proc {
    int pid = 0;
    int ppid = 0;
    unsigned uid = 0;
    std::string user, name, cmd, state;
    uint64_t rss = 0;   // bytes
    uint64_t ticks = 0; // user + system
    uint64_t start_time = 0;
    double cpu = 0; // percent of one CPU; several busy threads go beyond 100
    bool kernel = false;
    bool alive = false;
};

// How a pass reads. The live source lists and reads /proc through the util readers; tests
// hand in their own texts. An empty text means the file could not be read.
struct Source {
    std::function<std::vector<int>()> list;
    std::function<std::string(int pid, const char* file)> read;
};
Source live_source();

struct Params {
    long clk_tck = 100;
    long page_size = 0; // 0: unknown, resident memory is left out
    std::function<std::string(unsigned uid)> user_name;
};

// Status and command line change rarely (a daemon dropping its rights, a server renaming its
// workers), while reading them for every process every second costs more than the stat file
// itself. A new process, and one whose name changed (it ran another program), has them read
// at once, a known one every this many passes.
constexpr uint64_t detail_period = 8;

// Shorter passes (the one right after a process was ended) keep the shares shown: one tick of
// 1/100 s over a few milliseconds would read as several hundred per cent.
constexpr double min_interval_s = 0.1;

struct Changes {
    std::vector<int> added;   // new rows, in PID order
    std::vector<int> changed; // rows whose shown values differ
    std::vector<int> removed; // gone, or the PID now names another process
};

// One pass over the processes of `source`. `dt` is the time since the previous pass in
// seconds, 0 for the first one: new processes then show 0 and known ones keep their share, as
// they do over an interval shorter than `min_interval_s`.
// A process that vanishes while it is read is skipped and counts as ended. `pass` numbers
// the passes and picks the known processes whose details are read again.
Changes sample(std::map<int, Proc>& procs, const Source& source, const Params& params, double dt,
               uint64_t pass);

// ---- The list's filter ----------------------------------------------------------------------

// `needle` is already util::fold_case-d; it is searched in the PID, user, command and name.
bool visible(const Proc& p, const std::string& needle, bool mine_only, unsigned my_uid);

// ---- Ending a process -----------------------------------------------------------------------

// What names one process for as long as it lives: its PID is reused afterwards, its start
// time is not repeated under the same PID.
struct Identity {
    int pid = 0;
    unsigned uid = 0;
    uint64_t start_time = 0;
    bool operator==(const Identity&) const = default;
};
// Nothing for a process that has ended, also one left as a zombie for its parent to collect.
std::optional<Identity> read_identity(const Source& source, int pid);

// Exit status of the elevated command when the PID no longer names the process.
constexpr int exit_already_ended = 3;

// The command that ends another user's process through the elevation tool. The check of the
// identity runs after the authentication, right before the signal, because the password
// prompt can stay open for as long as the user likes.
std::vector<std::string> elevated_end_argv(const Identity& id);

} // namespace procs
