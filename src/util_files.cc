// Readers of kernel pseudo-files. The only code in the program that opens, lists or reads
// links of system files; everything goes through host_path() so QUARVEL_SYSROOT re-roots it.
#include "util.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace util {

std::string sysroot() {
    const char* env = std::getenv("QUARVEL_SYSROOT");
    if (!env || !*env) return {};
    std::string root = env;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    // A sysroot of "/" is the live system.
    return root == "/" ? std::string() : root;
}

bool over_sysroot() {
    return !sysroot().empty();
}

std::string host_path(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string root = sysroot();
    return root.empty() ? path : root + path;
}

namespace {

// Captures made by tools that cannot keep symbolic links (some archive formats, copies onto
// file systems without links) hold each link as a small regular file whose text is the link
// target. Sysfs links are always relative ("../../devices/…", "../.."), which no attribute
// file reads like, so over a sysroot such a file stands for the link it replaced. The live
// system has real links and never takes these paths.
std::string as_stored_link(std::string text) {
    if (text.size() >= 4096) return {};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text != ".." && !starts_with(text, "../")) return {};
    for (unsigned char c : text)
        if (c <= ' ' || c == 0x7f) return {};
    return text;
}

// No kernel attribute or table comes near this; a capture that holds a device node such as
// /dev/zero where a file should be must not exhaust memory. Files are also opened with
// O_NONBLOCK, so a FIFO reads as empty instead of hanging.
constexpr size_t max_file_bytes = 64u << 20;

constexpr size_t read_chunk = 65536;

// A read shorter than `complete_below` bytes ends the file (0: only an empty read does). Most
// files are read in one call; the call that would only report the end is a quarter of the
// system calls a collection makes, and on large machines those calls are its whole cost.
std::string read_fd(int fd, size_t complete_below = 0) {
    std::string out;
    char buf[read_chunk];
    while (out.size() < max_file_bytes) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            if (static_cast<size_t>(n) < complete_below) break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break; // end of file, or an attribute whose read fails (EIO, EINVAL, EISDIR …)
        }
    }
    return out;
}

std::string stored_link_target(const std::string& host) {
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= 4096) return {};
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return {};
    std::string text = read_fd(fd);
    ::close(fd);
    return as_stored_link(std::move(text));
}

// The target of the link at this host path, real or (over a sysroot) stored; empty when it
// is no link. `not_dir` tells that a component before the last one was no directory.
std::string link_target(const std::string& host, bool* not_dir = nullptr) {
    char buf[4096];
    ssize_t n = ::readlink(host.c_str(), buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, static_cast<size_t>(n));
    int err = errno;
    if (not_dir) *not_dir = n < 0 && err == ENOTDIR;
    if (n < 0 && err == EINVAL && over_sysroot()) return stored_link_target(host);
    return {};
}

// Over a sysroot, a path that runs through a stored link fails with ENOTDIR; the same path
// with every link followed may then be opened. Empty when there is nothing to retry. With
// `keep_last` the final component stays as it is (for lstat and readlink).
std::string retry_path(const std::string& path, bool keep_last = false) {
    if (!over_sysroot() || path.empty() || path[0] != '/') return {};
    std::string resolved;
    if (keep_last) {
        size_t slash = path.find_last_of('/');
        std::string parent = resolve_path(path.substr(0, slash));
        resolved = (parent == "/" ? std::string() : parent) + path.substr(slash);
    } else {
        resolved = resolve_path(path);
    }
    return resolved == path ? std::string() : host_path(resolved);
}

std::string read_host_file(const std::string& host) {
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::string out = read_fd(fd);
    ::close(fd);
    return out;
}

// When a short read shows that the file is complete. A sysfs attribute hands over its whole
// text in one read, a binary one at most a page per read; a file of a capture is a regular
// file, which fills every read but the last. /proc files are sequences of records that come
// a page or less at a time, and cgroup files too: those are read until an empty read.
size_t complete_below(const std::string& path, const std::string& host) {
    if (host.size() != path.size()) return read_chunk;
    if (starts_with(path, "/sys/") && !starts_with(path, "/sys/fs/")) return 4096;
    return 0;
}

} // namespace

std::string read_file_raw(const std::string& path) {
    // sysfs and /proc report sizes that have nothing to do with their contents, so read
    // until end of file instead of trusting stat().
    std::string host = host_path(path);
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOTDIR) return {};
        std::string again = retry_path(path);
        return again.empty() ? std::string() : read_host_file(again);
    }
    std::string out = read_fd(fd, complete_below(path, host));
    ::close(fd);
    // A file that is a stored link reads as its target's contents, as a real link would.
    if (over_sysroot() && out.size() < 4096 && !as_stored_link(out).empty())
        if (std::string again = retry_path(path); !again.empty()) return read_host_file(again);
    return out;
}

FileContents::FileContents(const std::string& path, size_t max_bytes) {
    int fd = ::open(host_path(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        size_t size = std::min(static_cast<size_t>(st.st_size), max_bytes);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            m_map = map;
            m_size = size;
            ::close(fd);
            return;
        }
    }
    // Not mappable (a pipe, a device, a file system without mmap): read it.
    std::string text;
    char buf[65536];
    while (text.size() < max_bytes) {
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, max_bytes - text.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    m_owned = std::make_unique<const std::string>(std::move(text));
}

FileContents::FileContents(std::string text)
    : m_owned(std::make_unique<const std::string>(std::move(text))) {}

FileContents::FileContents(FileContents&& other) noexcept
    : m_map(std::exchange(other.m_map, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_owned(std::move(other.m_owned)) {}

FileContents& FileContents::operator=(FileContents&& other) noexcept {
    if (this != &other) {
        release();
        m_map = std::exchange(other.m_map, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_owned = std::move(other.m_owned);
    }
    return *this;
}

FileContents::~FileContents() {
    release();
}

void FileContents::release() {
    if (m_map) ::munmap(m_map, m_size);
    m_map = nullptr;
    m_size = 0;
}

std::string_view FileContents::text() const {
    if (m_map) return {static_cast<const char*>(m_map), m_size};
    return m_owned ? std::string_view(*m_owned) : std::string_view();
}

std::string read_text(const std::string& path) {
    return printable(read_file_raw(path));
}

std::string read_file(const std::string& path) {
    return trim(read_file_raw(path));
}

std::vector<std::string> read_lines(const std::string& path) {
    // An unreadable file and an empty one both give no lines.
    return lines(read_file_raw(path));
}

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) {
            out.emplace_back(text.substr(start));
            break;
        }
        out.emplace_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

std::vector<std::string> list_dir(const std::string& path, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(host_path(path).c_str());
    if (!dir && errno == ENOTDIR)
        if (std::string again = retry_path(path); !again.empty()) dir = ::opendir(again.c_str());
    if (!dir) return names;
    while (struct dirent* e = ::readdir(dir)) {
        std::string_view name = e->d_name;
        if (name == "." || name == "..") continue;
        if (!starts_with(name, prefix)) continue;
        names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return natural_less(a, b); });
    return names;
}

bool path_exists(const std::string& path) {
    struct stat st;
    if (::lstat(host_path(path).c_str(), &st) == 0) return true;
    if (errno != ENOTDIR) return false;
    std::string again = retry_path(path, true);
    return !again.empty() && ::lstat(again.c_str(), &st) == 0;
}

bool is_dir(const std::string& path) {
    struct stat st;
    if (::stat(host_path(path).c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        // A stored link to a directory is a small regular file.
        if (!over_sysroot() || !S_ISREG(st.st_mode) || st.st_size >= 4096) return false;
    } else if (errno != ENOTDIR) {
        return false;
    }
    std::string again = retry_path(path);
    return !again.empty() && ::stat(again.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readable(const std::string& path) {
    int fd = ::open(host_path(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOTDIR)
        if (std::string again = retry_path(path); !again.empty())
            fd = ::open(again.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::string read_link_full(const std::string& path) {
    bool not_dir = false;
    std::string target = link_target(host_path(path), &not_dir);
    if (target.empty() && not_dir)
        if (std::string again = retry_path(path, true); !again.empty()) target = link_target(again);
    return target;
}

std::string read_link_base(const std::string& path) {
    return base_name(read_link_full(path));
}

std::string resolve_path(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::deque<std::string> todo;
    for (auto& part : split(path, '/'))
        todo.push_back(part);
    std::vector<std::string> done;
    int links_followed = 0;
    constexpr int max_links = 40; // the kernel's own limit for nested links
    while (!todo.empty()) {
        std::string part = std::move(todo.front());
        todo.pop_front();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!done.empty()) done.pop_back();
            continue;
        }
        done.push_back(part);
        if (links_followed >= max_links) continue;
        std::string target = link_target(host_path("/" + join(done, "/")));
        if (target.empty()) continue;
        ++links_followed;
        done.pop_back();
        if (target[0] == '/') done.clear();
        auto parts = split(target, '/');
        for (auto it = parts.rbegin(); it != parts.rend(); ++it)
            todo.push_front(*it);
    }
    return "/" + join(done, "/");
}

bool write_all(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace util
