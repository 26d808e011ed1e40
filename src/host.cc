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

Facts* g_record = nullptr;

// Hands `value` back, noting it in the facts being recorded.
template <class T> T noted(std::optional<T> Facts::*field, T value) {
    if (g_record) g_record->*field = value;
    return value;
}

} // namespace

void record_facts(Facts* facts) {
    g_record = facts;
}

KernelName kernel_name() {
    if (util::over_sysroot())
        if (const Facts* f = captured_facts(); f && f->kernel)
            return noted(&Facts::kernel, *f->kernel);
    KernelName k;
    if (util::over_sysroot()) {
        // Asked for by several branches of one collection.
        auto read = [](const char* path) { return util::read_file_shared(path); };
        k.sysname = read("/proc/sys/kernel/ostype");
        k.nodename = read("/proc/sys/kernel/hostname");
        k.release = read("/proc/sys/kernel/osrelease");
        k.version = read("/proc/sys/kernel/version");
        k.machine = read("/proc/sys/kernel/arch");
        return noted(&Facts::kernel, k);
    }
    struct utsname u;
    if (uname(&u) != 0) return k;
    k.sysname = u.sysname;
    k.nodename = u.nodename;
    k.release = u.release;
    k.version = u.version;
    k.machine = u.machine;
    return noted(&Facts::kernel, k);
}

namespace {

// A figure of sysconf, or the captured machine's.
std::optional<long> sysconf_fact(std::optional<long> Facts::*field, int name) {
    std::optional<long> v;
    if (util::over_sysroot()) {
        if (const Facts* f = captured_facts()) v = f->*field;
    } else if (long n = sysconf(name); n > 0) {
        v = n;
    }
    if (g_record && v) g_record->*field = v;
    return v;
}

} // namespace

std::optional<long> page_size() {
    return sysconf_fact(&Facts::page_size, _SC_PAGESIZE);
}

std::optional<long> processors_online() {
    return sysconf_fact(&Facts::processors_online, _SC_NPROCESSORS_ONLN);
}

// Over a capture, the uid of the process that took it: a capture taken by root holds the
// root-only files, so a replay reads them as that process did.
std::optional<unsigned> effective_uid() {
    std::optional<unsigned> uid;
    if (!util::over_sysroot())
        uid = static_cast<unsigned>(geteuid());
    else if (const Facts* f = captured_facts())
        uid = f->effective_uid;
    if (g_record && uid) g_record->effective_uid = uid;
    return uid;
}

std::string user_name() {
    if (util::over_sysroot()) return {};
    return own_account().name;
}

Account account_in_passwd(std::string_view passwd, unsigned uid) {
    for (const std::string& line : util::split(passwd, '\n')) {
        // name:password:uid:gid:gecos:home:shell
        std::vector<std::string> field = util::split(line, ':');
        if (field.size() < 6 || field[0].empty() || !util::all_digits(field[2])) continue;
        if (util::to_u64(field[2], ~uint64_t{0}) != uid) continue;
        return {field[0], field[5].starts_with('/') ? field[5] : std::string()};
    }
    return {};
}

Account own_account() {
    std::string passwd;
    Account account;
    if (util::read_own_file("/etc/passwd", 4u << 20, passwd))
        account = account_in_passwd(passwd, ::getuid());
    if (account.name.empty())
        for (const char* variable : {"LOGNAME", "USER"})
            if (const char* v = std::getenv(variable); v && *v) {
                account.name = v;
                break;
            }
    return account;
}

bool running_as_root() {
    auto uid = effective_uid();
    return uid && *uid == 0;
}

std::vector<InterfaceAddress> interface_addresses() {
    std::vector<InterfaceAddress> out;
    if (util::over_sysroot()) {
        const Facts* f = captured_facts();
        if (f && f->addresses) out = *f->addresses;
        return noted(&Facts::addresses, out);
    }
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
    return noted(&Facts::addresses, out);
}

namespace {

// A socket only carries the requests: one serves every interface of every collection, where a
// socket each cost a creation and a close per interface.
int ethtool_socket() {
    static const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd;
}

std::string read_permanent_address(const std::string& interface) {
    if (interface.empty() || interface.size() >= IFNAMSIZ) return {};
    const int fd = ethtool_socket();
    if (fd < 0) return {};
    constexpr unsigned max_addr_len = 32; // the kernel's MAX_ADDR_LEN
    alignas(ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + max_addr_len] = {};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = max_addr_len;
    struct ifreq ifr {};
    std::memcpy(ifr.ifr_name, interface.c_str(), interface.size());
    ifr.ifr_data = reinterpret_cast<char*>(buffer);
    const int rc = ioctl(fd, SIOCETHTOOL, &ifr);
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

std::optional<FsUsage> read_fs_usage(const std::string& mount_point) {
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

} // namespace

std::string permanent_address(const std::string& interface) {
    std::string address;
    if (!util::over_sysroot()) {
        address = read_permanent_address(interface);
    } else if (const Facts* f = captured_facts()) {
        auto it = f->permanent_addresses.find(interface);
        if (it != f->permanent_addresses.end()) address = it->second;
    }
    if (g_record && !address.empty()) g_record->permanent_addresses[interface] = address;
    return address;
}

std::optional<FsUsage> fs_usage(const std::string& mount_point) {
    std::optional<FsUsage> usage;
    if (!util::over_sysroot()) {
        usage = read_fs_usage(mount_point);
    } else if (const Facts* f = captured_facts()) {
        auto it = f->fs_usage.find(mount_point);
        if (it != f->fs_usage.end()) usage = it->second;
    }
    if (g_record && usage) g_record->fs_usage[mount_point] = *usage;
    return usage;
}

std::string environment(const char* name) {
    std::string value;
    if (util::over_sysroot()) {
        // The analyst's own session is no fact of the captured machine; a capture brings the
        // captured session's own.
        if (const Facts* f = captured_facts()) {
            auto it = f->environment.find(name);
            if (it != f->environment.end()) value = it->second;
        }
    } else if (const char* v = std::getenv(name)) {
        value = v;
    }
    // Also over a capture, so that a capture of it keeps the captured session.
    if (g_record && !value.empty()) g_record->environment[name] = value;
    return value;
}

bool display_available() {
    if (util::over_sysroot()) return false;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

} // namespace host
