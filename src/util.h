// Small helpers shared by every collector, the report and the window: reading kernel
// pseudo-files, cutting and comparing text, parsing numbers and formatting them for display.
//
// Reading never fails loudly (a missing file gives empty text) and parsing never throws (the
// caller's fallback comes back instead). Every displayed number goes through the fmt_* family,
// which applies the interface language's separators.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace util {

// ---- Files and directories ------------------------------------------------------------------
//
// Every absolute path handed to these readers is re-rooted under the directory named by
// QUARVEL_SYSROOT when that variable is set and not empty, so a captured tree of another
// machine reads exactly like the live one. Callers always write the kernel's own paths.

// The directory named by QUARVEL_SYSROOT without trailing slashes; empty when unset.
std::string sysroot();
// True when a sysroot is in force: facts of the running host must then be left out.
bool over_sysroot();

// While one lives on this thread, its readers read this machine even under a sysroot: for
// reference data that describes no machine (the identifier databases) and that a capture may
// lack. Another thread's collection goes on reading the capture.
class ThisMachine {
public:
    ThisMachine();
    ~ThisMachine();
    ThisMachine(const ThisMachine&) = delete;
    ThisMachine& operator=(const ThisMachine&) = delete;
};

// While one lives on this thread, the readers keep open the directories they read several
// files from and remember what they learnt of links, and the sysroot is the one in force when
// it began. For one collection: between collections devices come and go. Scopes nest.
class ReadScope {
public:
    ReadScope();
    // A scope for another thread reading for the same collection as `*collection`: the files
    // read once for the collection (read_shared) and what was learnt of links are shared, the
    // open directories are the thread's own. `*collection` outlives it.
    explicit ReadScope(const ReadScope* collection);
    ~ReadScope();
    // This thread's innermost scope; null where none lives or ThisMachine reads this computer.
    static const ReadScope* current();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

    struct State;
    State* state() const { return m_state.get(); }

private:
    std::unique_ptr<State> m_state;
    ReadScope* m_outer;
};

// Told of every path the readers below are asked about, as the machine's own path: --capture
// packs exactly these. A read is told after it, with the bytes the caller got (empty also
// when the file could not be opened), and a listing with the names it gave, each ended by a
// NUL, so that a capture holds what the report saw rather than what is there a moment later.
enum class Access { read, list, look };
using AccessObserver = void (*)(const std::string& path, Access how, std::string_view result);
// Null stops the telling; there is one observer at a time.
void set_access_observer(AccessObserver observer);
// Whether an observer is being told: its record follows the order of the reads.
bool access_observed();

// Under a sysroot every link is resolved inside it (an absolute target starts again at the
// sysroot, ".." stops there) and only regular files and directories are opened.

// 0 when no sysroot is set or it opens as a directory; otherwise the reason (an errno value).
int sysroot_error();
// Tests: resolve paths under a sysroot without the kernel's openat2, as on kernels before 5.6.
void set_resolve_without_openat2(bool on);

// What one read may take. A sysfs attribute holds at most one page (64 KiB on the largest
// page size); whole /proc tables of the largest machines (the cpuinfo of thousands of
// processors) stay well below the table limit. A file that holds more was not written by a
// real kernel: it is read only up to the limit, and the cut is recorded (take_cut_reads).
constexpr size_t attribute_limit = 64u << 10;
constexpr size_t table_limit = 16u << 20;

// The paths whose reads were cut on this thread since the last call (at most a few dozen are
// kept), and in `total` how many cuts there were; clears the record.
std::vector<std::string> take_cut_reads(size_t* total = nullptr);
// Adds to this thread's record what take_cut_reads gave on another thread.
void add_cut_reads(const std::vector<std::string>& paths, size_t total);

// Up to table_limit (or max_bytes) bytes.
std::string read_file_raw(const std::string& path);
std::string read_file_raw(const std::string& path, size_t max_bytes);
// A one-value attribute, trimmed; up to attribute_limit bytes.
std::string read_file(const std::string& path);
// A file that several parts of one collection read (the processor table, the swap list, a
// graphics card's ids, the kernel's names) as read_file_raw gives it, read once while this
// thread's ReadScope lives and handed out again from memory. Outside a scope every call reads
// the file. At most `max_bytes` are read (attribute_limit for one-value attributes). The text
// is handed out, never copied: the processor table of a large machine is megabytes.
std::shared_ptr<const std::string> read_shared(const std::string& path,
                                               size_t max_bytes = table_limit);
// read_file and read_text of an attribute, through read_shared.
std::string read_file_shared(const std::string& path);
std::string read_text_shared(const std::string& path);

// A data file held whole for the life of the object (an identifier database too small to
// be worth reading in pieces, see OpenFile): read up to `max_bytes`. Empty when the file
// cannot be opened.
class FileContents {
public:
    FileContents();
    FileContents(const std::string& path, size_t max_bytes);
    // Text that comes from elsewhere (tests), held the same way.
    explicit FileContents(std::string text);
    FileContents(FileContents&&) noexcept;
    FileContents& operator=(FileContents&&) noexcept;
    ~FileContents();

    // Stays valid, and at the same address, as long as this object lives, also when moved.
    std::string_view text() const;

private:
    struct Storage;
    std::unique_ptr<const Storage> m_owned; // on the heap, so moving keeps its address
};
// A large regular file (at least `min_bytes`) kept open to be read in pieces where asked:
// the identifier databases, of which a report needs a few lines of a 1.3 MB file. Holding
// the whole file in memory cost more than scanning it. `is_open` is false when the
// file does not open, is smaller, or is no regular file, and while reads are observed
// (--capture records whole files): the caller then reads it whole.
class OpenFile {
public:
    OpenFile() = default;
    OpenFile(const std::string& path, size_t min_bytes);
    OpenFile(OpenFile&& other) noexcept;
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile();
    bool is_open() const { return m_fd >= 0; }
    uint64_t size() const { return m_size; }
    // Up to `length` bytes from `offset`: fewer at the end, and none once the file was cut
    // short meanwhile.
    size_t read_at(uint64_t offset, char* out, size_t length) const;

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};
// The lines of a table (up to table_limit bytes), at most `max_lines` of them.
std::vector<std::string> read_lines(const std::string& path);
std::vector<std::string> read_lines(const std::string& path, size_t max_lines);
// What read_lines makes of a text already read: cut at "\n", no empty line after the last.
std::vector<std::string> lines(std::string_view text);
// The same, at most `max_lines` of them; more is recorded as a cut read of `path`.
std::vector<std::string> lines(std::string_view text, size_t max_lines, const std::string& path);
std::vector<std::string> list_dir(const std::string& path, const std::string& prefix = "");
// How many names list_dir would give, without making or sorting them: a machine with a
// terabyte of memory has thousands of memory blocks, which are only counted.
size_t count_dir(const std::string& path, const std::string& prefix = "");
bool path_exists(const std::string& path);
bool is_dir(const std::string& path);
bool readable(const std::string& path);
// A one-value attribute as text fit for display: cut at the first NUL (firmware strings are
// often padded with NULs and garbage), control characters other than line breaks dropped (tabs
// become spaces), trimmed, and made valid UTF-8. Model names, serials and labels come from firmware
// and drivers and may hold any bytes.
std::string read_text(const std::string& path);
std::string read_link_full(const std::string& path);
std::string read_link_base(const std::string& path);

// Follows every symbolic link in `path` the way the kernel would, but inside the sysroot:
// an absolute link target starts again at the sysroot and ".." never climbs above it. The
// result is the machine's own absolute path (without the sysroot prefix), "." and ".."
// resolved; components that do not exist are kept as written. Sysfs device links are
// relative ("../../../0:0:0:0"), so this is how a collector learns where a device sits.
std::string resolve_path(const std::string& path);

// Reads the user's or the system's own regular file at `path` (never re-rooted) up to
// `max_bytes` into `out`. A FIFO or socket planted at the path would block or never end, so
// only a regular file is read; false when there is none to read.
bool read_own_file(const std::string& path, size_t max_bytes, std::string& out);

// Writes all of `text` to the descriptor, retrying short writes; false on any failure, so a
// full disk is never reported as success.
bool write_all(int fd, const std::string& text);

// Replaces the user's own file at `path` (a saved report, the settings; never re-rooted) with
// `text`: written to a new file in the same folder, checked to the close, then renamed over
// the old one, so a full disk or any other failure leaves the previous file whole. A link is
// followed and its target replaced (or made); an existing target that is not a regular file (a
// terminal, a pipe) is written in place. A new file gets `new_file_mode` less the umask; a
// replaced one keeps its mode, and its owner where the writer may give it (the administrator
// writing a user's file). A file its owner made read-only is refused (EACCES). False on any
// failure.
// Without `wait_for_reader` (the window, which must never hang), a pipe or a device that would
// make the open wait (a named pipe nobody reads, a serial line without carrier) fails at once:
// a pipe with EPIPE.
bool replace_file(const std::string& path, const std::string& text, unsigned new_file_mode = 0666,
                  bool wait_for_reader = true);

// Removes the new file that replace_file is writing in this process, if any: a crash halfway
// would leave it beside the target. Async-signal-safe, for the crash handler.
void remove_unfinished_replacement();

// ---- Text -----------------------------------------------------------------------------------

std::string trim(std::string_view s);
// trim without the copy, for parsers of large texts.
std::string_view trim_view(std::string_view s);
std::string lower(std::string_view s);
// `s` with upper-case letters turned to lower case in the scripts of the interface's languages
// (Latin, Greek, Cyrillic), for searches that ignore case in every language. Other characters,
// and bytes that are not UTF-8, stay as they are.
std::string fold_case(std::string_view s);
bool starts_with(std::string_view s, std::string_view p);
bool ends_with(std::string_view s, std::string_view p);
std::vector<std::string> split(std::string_view s, char sep);
std::string join(const std::vector<std::string>& v, std::string_view sep);
// The words of `s`: cut at runs of white space (and NULs), no empty words. Kernel tables
// such as /proc/swaps and /proc/loadavg align their columns with varying blanks.
std::vector<std::string> split_ws(std::string_view s);
// True for a non-empty run of ASCII digits and nothing else.
bool all_digits(std::string_view s);
bool natural_less(std::string_view a, std::string_view b);

// Replaces every byte sequence that is not valid UTF-8 with U+FFFD. Kernel strings (model
// names, serials, firmware strings) are arbitrary bytes; what the interface shows must not be.
std::string valid_utf8(std::string_view s);
// The length of the well-formed UTF-8 sequence that starts at byte `i` of `s`; 0 where none does.
size_t utf8_sequence_at(std::string_view s, size_t i);

// Characters as the eye counts them: every byte that does not continue a UTF-8 sequence.
size_t code_points(std::string_view s);
// Columns the text takes in a terminal: East Asian wide characters take two.
size_t display_width(std::string_view s);

// The part of a path after its last "/" (the whole text when it has none).
std::string base_name(std::string_view path);

// Text from outside (files, devices, other processes) made fit to show in a terminal and a
// window: control characters dropped (tabs, and line breaks unless `keep_newlines`, become
// spaces), including the C1 controls that terminals also obey, and valid UTF-8.
std::string clean_text(std::string_view s, bool keep_newlines = true);
// The same, changing `s` only where there is something to clean (most texts are plain).
void clean_text_in_place(std::string& s, bool keep_newlines = true);

// What read_text does to text already read: cut at the first NUL, clean_text, trimmed.
std::string printable(std::string_view s);

// Decodes the octal escapes (\040, \011, \012, \134) the kernel writes into mount tables and
// /proc/swaps for white space and backslashes in names.
std::string unescape_octal(std::string_view s);

// ---- Number parsing -------------------------------------------------------------------------

uint64_t to_u64(std::string_view s, uint64_t def);
int64_t to_i64(std::string_view s, int64_t def);
double to_double(std::string_view s, double def);
// The value of one hexadecimal digit (either case); -1 for any other character. Inline: the
// identifier files' loader calls it for every id it reads.
inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
uint32_t parse_hex(std::string_view s, uint32_t def);
// Like parse_hex but keeps all 64 bits (PCI resource addresses above 4 GiB).
uint64_t parse_hex64(std::string_view s, uint64_t def);
std::string to_hex(uint32_t v, int digits);

// ---- Number formatting ----------------------------------------------------------------------

extern std::string g_decimal;
extern std::string g_group;

void set_number_format(const std::string& decimal_sep, const std::string& group_sep);
std::string fmt_int(uint64_t v);
// Signed counterpart of fmt_int for values that may be negative (currents, offsets).
std::string fmt_signed(int64_t v);
std::string fmt_double(double v, int decimals);
std::string fmt_percent(double v, int decimals);
std::string fmt_bytes(uint64_t bytes);
std::string fmt_bytes_si(uint64_t bytes);
std::string fmt_bytes_both(uint64_t bytes);
std::string fmt_hz(uint64_t hz);
std::string fmt_khz(uint64_t khz);
std::string fmt_mhz(double mhz);
std::string fmt_duration(uint64_t seconds);
std::string fmt_columns(const std::vector<std::string>& tokens, size_t max_line_chars);

} // namespace util
