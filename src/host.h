// Facts that come from system calls rather than files. Over a captured tree
// (QUARVEL_SYSROOT) they come from the facts file that --capture writes beside the kernel
// files, or, for trees without one, from the captured files where the kernel also writes
// them; otherwise they are absent, so a report over a capture never mixes in this host.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct KernelName {
    std::string sysname;  // "Linux"
    std::string nodename; // host name
    std::string release;  // "6.1.0-18-amd64"
    std::string version;  // "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"
    std::string machine;  // "x86_64"; empty over a capture that does not record it
};

// uname(), or /proc/sys/kernel/{ostype,hostname,osrelease,version,arch} of the capture.
KernelName kernel_name();

// sysconf(_SC_PAGESIZE) and sysconf(_SC_NPROCESSORS_ONLN); nothing over a capture.
std::optional<long> page_size();
std::optional<long> processors_online();

// The effective user id; nothing over a capture (the capture's owner is unknown).
std::optional<unsigned> effective_uid();
// The login name of the user running this process; empty over a capture.
std::string user_name();

// An account's entry of the password database.
struct Account {
    std::string name;
    std::string home; // absolute, or empty
};
// The entry of `uid` in the text of /etc/passwd; empty when it is not there.
Account account_in_passwd(std::string_view passwd, unsigned uid);
// The real user's entry in /etc/passwd, read past the sysroot (it is this program's user, not a
// fact of the machine described). The report's program is linked on its own and loads no name
// service modules, so an account of a directory service is not found there: the name is then
// the one the login set (LOGNAME, USER), and the home empty.
Account own_account();
// True only when this process really runs with administrator rights on the live system.
bool running_as_root();

struct InterfaceAddress {
    std::string interface;
    int family = 0;      // AF_INET, AF_INET6
    std::string address; // printable form
    std::string netmask; // printable form, may be empty
    unsigned prefix_len = 0;
    std::string broadcast; // printable form; empty unless the interface broadcasts
};
// getifaddrs(); nothing over a capture.
std::vector<InterfaceAddress> interface_addresses();

// The hardware's own MAC address as the driver reports it through ethtool ("aa:bb:…"),
// which stays when the address in use was changed; empty over a capture, when the driver
// does not know one, or when it reads all zeros.
std::string permanent_address(const std::string& interface);

struct FsUsage {
    uint64_t total_bytes = 0;
    uint64_t free_bytes = 0;      // f_bfree: free, including the blocks reserved for root
    uint64_t available_bytes = 0; // f_bavail: free for unprivileged users
    uint64_t total_inodes = 0;
    uint64_t free_inodes = 0;
};
// statvfs() of a mount point; nothing over a capture or when the call fails.
std::optional<FsUsage> fs_usage(const std::string& mount_point);

// A variable of this program's environment (desktop, display, language, shell). Over a tree
// of another machine never the analyst's own: the captured session's when the capture
// recorded it, otherwise empty.
std::string environment(const char* name);

// True when a graphical display may be reached (DISPLAY or WAYLAND_DISPLAY set) and no
// capture is being read.
bool display_available();

// ---- Captures -------------------------------------------------------------------------------

// The answers above as one captured machine gave them. Every field is optional: what the
// report never asked for is not recorded, and a replay then answers as for a bare tree.
struct Facts {
    std::optional<KernelName> kernel;
    std::optional<long> page_size;
    std::optional<long> processors_online;
    std::optional<unsigned> effective_uid;
    std::optional<std::vector<InterfaceAddress>> addresses;
    std::map<std::string, std::string> permanent_addresses; // interface -> address
    std::map<std::string, FsUsage> fs_usage;                // mount point -> figures
    std::map<std::string, std::string> environment;         // variable -> value (set ones)
    // The identifier databases the captured machine had ("" for none), so that a replay
    // knows whether a database missing from the capture was left out or never there.
    std::optional<std::string> pci_ids, usb_ids;
};

// Where the facts file lies in a capture, as a machine path.
constexpr const char* facts_path = "/.quarvel-capture";

// A line-oriented text: "quarvel-capture 1", then one fact per line, fields separated by
// tabs, with tab, newline and backslash escaped. Unknown lines are skipped when read, so
// later versions may add facts.
std::string format_facts(const Facts& facts);
// Nothing when the text is not a facts file.
std::optional<Facts> parse_facts(std::string_view text);

// While set, every answer given above is also written into `facts`. Null stops.
void record_facts(Facts* facts);

// The facts file of the capture under QUARVEL_SYSROOT; null over the live system and over
// trees that have none (hand-made fixtures, captures taken by other means).
const Facts* captured_facts();

} // namespace host
