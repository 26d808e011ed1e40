#include "host.h"

#include "util.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace host {

namespace {

unsigned prefix_length(const sockaddr* mask) {
    if (!mask) return 0;
    const unsigned char* bytes = nullptr;
    size_t len = 0;
    if (mask->sa_family == AF_INET) {
        bytes = reinterpret_cast<const unsigned char*>(
            &reinterpret_cast<const sockaddr_in*>(mask)->sin_addr);
        len = 4;
    } else if (mask->sa_family == AF_INET6) {
        bytes = reinterpret_cast<const unsigned char*>(
            &reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr);
        len = 16;
    }
    unsigned bits = 0;
    for (size_t i = 0; i < len; ++i)
        bits += static_cast<unsigned>(__builtin_popcount(bytes[i]));
    return bits;
}

std::string printable(const sockaddr* sa) {
    if (!sa) return {};
    char buf[INET6_ADDRSTRLEN] = {};
    if (sa->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, buf, sizeof buf);
    } else if (sa->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, buf, sizeof buf);
    }
    return buf;
}

} // namespace

KernelName kernel_name() {
    KernelName k;
    if (util::over_sysroot()) {
        k.sysname = util::read_file("/proc/sys/kernel/ostype");
        k.nodename = util::read_file("/proc/sys/kernel/hostname");
        k.release = util::read_file("/proc/sys/kernel/osrelease");
        k.version = util::read_file("/proc/sys/kernel/version");
        k.machine = util::read_file("/proc/sys/kernel/arch");
        return k;
    }
    struct utsname u;
    if (uname(&u) != 0) return k;
    k.sysname = u.sysname;
    k.nodename = u.nodename;
    k.release = u.release;
    k.version = u.version;
    k.machine = u.machine;
    return k;
}

std::optional<long> page_size() {
    if (util::over_sysroot()) return std::nullopt;
    long v = sysconf(_SC_PAGESIZE);
    return v > 0 ? std::optional<long>(v) : std::nullopt;
}

std::optional<long> processors_online() {
    if (util::over_sysroot()) return std::nullopt;
    long v = sysconf(_SC_NPROCESSORS_ONLN);
    return v > 0 ? std::optional<long>(v) : std::nullopt;
}

std::optional<unsigned> effective_uid() {
    if (util::over_sysroot()) return std::nullopt;
    return static_cast<unsigned>(geteuid());
}

bool running_as_root() {
    auto uid = effective_uid();
    return uid && *uid == 0;
}

std::vector<InterfaceAddress> interface_addresses() {
    std::vector<InterfaceAddress> out;
    if (util::over_sysroot()) return out;
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (struct ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || !a->ifa_name) continue;
        int family = a->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        InterfaceAddress ia;
        ia.interface = a->ifa_name;
        ia.family = family;
        ia.address = printable(a->ifa_addr);
        ia.netmask = printable(a->ifa_netmask);
        ia.prefix_len = prefix_length(a->ifa_netmask);
        if ((a->ifa_flags & IFF_BROADCAST) && a->ifa_broadaddr)
            ia.broadcast = printable(a->ifa_broadaddr);
        out.push_back(std::move(ia));
    }
    freeifaddrs(list);
    return out;
}

std::string permanent_address(const std::string& interface) {
    if (util::over_sysroot() || interface.empty() || interface.size() >= IFNAMSIZ) return {};
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    constexpr unsigned max_addr_len = 32; // the kernel's MAX_ADDR_LEN
    alignas(ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + max_addr_len] = {};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = max_addr_len;
    struct ifreq ifr {};
    std::memcpy(ifr.ifr_name, interface.c_str(), interface.size());
    ifr.ifr_data = reinterpret_cast<char*>(buffer);
    int rc = ioctl(fd, SIOCETHTOOL, &ifr);
    close(fd);
    if (rc != 0 || request->size == 0 || request->size > max_addr_len) return {};
    const unsigned char* bytes = buffer + sizeof(ethtool_perm_addr);
    std::string out;
    bool all_zero = true;
    for (unsigned i = 0; i < request->size; ++i) {
        if (i) out += ':';
        out += util::to_hex(bytes[i], 2);
        all_zero = all_zero && bytes[i] == 0;
    }
    return all_zero ? std::string() : out;
}

std::optional<FsUsage> fs_usage(const std::string& mount_point) {
    if (util::over_sysroot()) return std::nullopt;
    struct statvfs st;
    if (statvfs(mount_point.c_str(), &st) != 0) return std::nullopt;
    uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    FsUsage u;
    u.total_bytes = static_cast<uint64_t>(st.f_blocks) * unit;
    u.free_bytes = static_cast<uint64_t>(st.f_bfree) * unit;
    u.available_bytes = static_cast<uint64_t>(st.f_bavail) * unit;
    u.total_inodes = st.f_files;
    u.free_inodes = st.f_ffree;
    return u;
}

std::string environment(const char* name) {
    if (util::over_sysroot()) return {};
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool display_available() {
    if (util::over_sysroot()) return false;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

} // namespace host
