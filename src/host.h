// Facts that come from system calls rather than files. Over a captured tree
// (QUARVEL_SYSROOT) they are taken from the captured files where the kernel also writes
// them, and are otherwise absent, so a report over a capture never mixes in this host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// A variable of this program's environment (desktop, display, language, shell); empty over
// a capture, whose machine had a session of its own that the capture does not record.
std::string environment(const char* name);

// True when a graphical display may be reached (DISPLAY or WAYLAND_DISPLAY set) and no
// capture is being read.
bool display_available();

} // namespace host
