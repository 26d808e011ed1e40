// --capture: packs the kernel files a report reads, and what the system calls answered,
// into an archive that QUARVEL_SYSROOT replays once unpacked. The archive is written by a
// module loaded on demand (it needs the archive library), so the report never loads it.
#pragma once

#include "host.h"
#include "util.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace capture {

struct Entry {
    enum class Kind { directory, file, link };
    Kind kind = Kind::file;
    std::string content; // a file's bytes
    std::string target;  // a link's target, exactly as the link holds it
    // A file this process could not open: packed empty and unreadable to all, so that a
    // replay sees a root-only file as the live system did.
    bool unreadable = false;
};
// Machine paths ("/sys/class/net/eth0") to what the archive holds there; every directory
// on the way has an entry of its own.
using Tree = std::map<std::string, Entry>;

// What the readers were asked while a report was collected.
struct Recording {
    std::map<std::string, std::string> reads;                 // path -> bytes of the first read
    std::map<std::string, std::vector<std::string>> listings; // path -> names seen
    std::vector<std::string> looks;                           // probed: exists, directory, link…
    host::Facts facts;
};

// The argument after --capture, unless it is another option; null when there is none.
const char* archive_path(int argc, char** argv);

// Runs `work` (collecting a report), recording every path and system-call answer.
Recording record(const std::function<void()>& work);

// Where a capture holds the report it was taken with, as a machine path beside the facts.
constexpr const char* report_path = "/.quarvel-report.txt";

// The tree of everything `rec` touched, as it lies on the machine (under QUARVEL_SYSROOT
// when set): links kept as links with their targets captured too, directories that were
// listed filled with their entries, files with the bytes the report read. Files that could
// not be opened are marked unreadable; files that never end are left out. With `blank`,
// serial numbers and UUIDs in the files are replaced by zeros.
Tree gather(const Recording& rec, bool blank);

// `content` of the file at `path` with its serial numbers and UUID turned into zeros of the
// same length: attribute files by name or by shape, SMBIOS tables and
// EDID blocks field by field (the EDID checksum made right again). Anything else unchanged.
std::string blank(const std::string& path, std::string content);

// MAC and IP addresses, the host name and the names of `user` and of every user whose
// directory the capture names (/home/alice, /media/alice/USB) replaced all through `tree`
// and `facts`, as the redacted report hides them: one value, one stand-in, of the value's
// own shape so that a replay reads it as before. MACs become locally administered ones
// (02:00:00:00:00:01), IP addresses ones kept for documentation (192.0.2.1, 2001:db8::1,
// fe80::1 for a link-local one), the host "host" and users "user1", "user2"…; UUIDs in
// running text become zeros as UUID files do. Addresses are looked for in the files that
// name them in running text (the kernel command line, the mount tables), where a dotted
// number is no version.
void hide_identities(Tree& tree, host::Facts& facts, const std::string& user);

// Interfaces named after their MAC address ("enx00e04c680001") renamed all through `tree`
// (paths, link targets, file contents) to names of the same type and length numbered from
// one ("enx000000000001"): the name would tell the address its blanked file hides.
void hide_mac_names(Tree& tree);

// `s` with its letters and digits turned into zeros: blanked, but of the same length and shape.
std::string zeros(std::string s);

// --capture FILE.tar.xz [--no-redact]
int run_capture_mode(int argc, char** argv);

} // namespace capture
