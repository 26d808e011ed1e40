// Readers of kernel pseudo-files. The only code in the program that opens, lists or reads
// links of system files; under QUARVEL_SYSROOT every path is resolved inside that directory.
#include "util.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace util {

namespace {

thread_local int g_this_machine = 0; // ThisMachine guards of this thread

} // namespace

// ---- What one collection remembers ----------------------------------------------------------
//
// A collection reads a few dozen attributes of each of thousands of directories, and on large
// machines opening files is its whole cost. While a ReadScope lives, the directories read from
// are kept open and their files opened relative to them, and what was learnt of links is
// kept. Nothing outlives the scope: between collections devices come and go.

struct ReadScope::State {
    std::string root; // the sysroot when the scope began; empty for the live system
    struct Dir {
        std::string path;
        int fd = -1;
        bool missing = false; // no such directory: none of its files need be looked for
        bool sealed = false;  // only this user or the superuser may change what it holds
        bool pending = false; // visited once, not opened yet
        // The directory's own path where `path` reached it through a link (a device's
        // directory through its class link), once the kernel named it: the same directory
        // asked for by either path is opened and listed once.
        mutable std::string named;
        // What a sealed directory of a capture holds (the records of getdents64, names and
        // kinds), listed at the first look: nobody else can change it, so every look at an
        // entry is answered from memory.
        mutable std::string listing;
        mutable bool listed = false;
        mutable bool listable = false;
        uint64_t used = 0;
    };
    static constexpr size_t kept = 16;
    Dir dirs[kept];
    uint64_t clock = 0;
    // What the threads reading for one collection share.
    struct Common {
        std::mutex links_mutex;
        std::unordered_map<std::string, std::string> links; // path -> link target, "" for
                                                            // none, a NUL for nothing there
        // path -> what read_shared read; nothing while a thread reads it. In parts by the
        // path's hash: the threads of a large machine read thousands of these files each,
        // and with one lock they kept waking each other.
        struct SharedPart {
            std::mutex mutex;
            std::unordered_map<std::string, std::shared_ptr<const std::string>> files;
            std::condition_variable read; // told when a file of `files` has been read
        };
        std::array<SharedPart, 16> shared;
    };
    std::shared_ptr<Common> common = std::make_shared<Common>();
    // path -> the text of a small file read to tell a stored link from a file (over a
    // sysroot): reading the file itself then takes nothing more.
    std::unordered_map<std::string, std::string> looked_into;
    // Directories found too large to list: opened again and again (the processors' parent
    // for each processor), they are looked into by name.
    std::unordered_set<std::string> unlisted;

    ~State() {
        for (auto& d : dirs)
            if (d.fd >= 0) ::close(d.fd);
    }
};

namespace {

thread_local ReadScope* g_scope = nullptr;

// The scope's state where it applies: not while ThisMachine reads this computer's files.
ReadScope::State* scope_state() {
    return g_scope && g_this_machine == 0 ? g_scope->state() : nullptr;
}

std::string sysroot_from_environment() {
    const char* env = std::getenv("QUARVEL_SYSROOT");
    if (!env || !*env) return {};
    std::string root = env;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    // A sysroot of "/" is the live system.
    return root == "/" ? std::string() : root;
}

} // namespace

ReadScope::ReadScope() : m_state(std::make_unique<State>()), m_outer(g_scope) {
    m_state->root = g_this_machine > 0 ? std::string() : sysroot_from_environment();
    g_scope = this;
}

ReadScope::ReadScope(const ReadScope* collection)
    : m_state(std::make_unique<State>()), m_outer(g_scope) {
    m_state->root = collection->m_state->root;
    m_state->common = collection->m_state->common;
    g_scope = this;
}

ReadScope::~ReadScope() {
    g_scope = m_outer;
}

const ReadScope* ReadScope::current() {
    return g_this_machine == 0 ? g_scope : nullptr;
}

ThisMachine::ThisMachine() {
    ++g_this_machine;
}

ThisMachine::~ThisMachine() {
    --g_this_machine;
}

std::string sysroot() {
    if (g_this_machine > 0) return {};
    if (g_scope) return g_scope->state()->root;
    return sysroot_from_environment();
}

bool over_sysroot() {
    // Asked before most reads: answered without a copy of the root's name.
    if (g_this_machine > 0) return false;
    if (g_scope) return !g_scope->state()->root.empty();
    return !sysroot_from_environment().empty();
}

namespace {

AccessObserver g_observer = nullptr;

void tell(const std::string& path, Access how, std::string_view result = {}) {
    if (g_observer) g_observer(path, how, result);
}

// ---- Reads under a sysroot -------------------------------------------------------------------
//
// A capture may hold links that point anywhere ("/etc/shadow", "../../../../root"). Every
// open, stat, link read and listing under a sysroot therefore resolves the whole path inside
// the capture's directory: by the kernel (openat2 with RESOLVE_IN_ROOT) where it can, else
// component by component here. Only regular files and directories are opened for reading: a
// device node in an unpacked capture must never be opened (opening some devices acts).

std::mutex g_root_mutex;
std::string g_root_path;
int g_root_fd = -1;
bool g_walk_only = false;              // tests: resolve without the kernel's help
std::atomic<bool> g_no_openat2{false}; // learnt once: this kernel or sandbox has no openat2

// The sysroot directory, opened once while QUARVEL_SYSROOT names it; -1 with errno set
// when it cannot be opened as a directory.
std::optional<std::string> g_root_name; // the kernel's name for it, once asked (root_name)

int root_fd_locked(const std::string& root) {
    if (g_root_fd < 0 || g_root_path != root) {
        if (g_root_fd >= 0) ::close(g_root_fd);
        g_root_path = root;
        g_root_fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        g_root_name.reset();
    }
    return g_root_fd;
}

int root_fd(const std::string& root) {
    std::lock_guard<std::mutex> lock(g_root_mutex);
    return root_fd_locked(root);
}

std::string link_text_at(int fd) {
    char buf[4096];
    ssize_t n = ::readlinkat(fd, "", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Resolves `rel` below the directory `root` the way the kernel resolves a path for a process
// whose root is that directory: absolute link targets start again at it and ".." stops at
// it. Returns an O_PATH descriptor of the object, or -1 with errno set (ENOTDIR where
// `dir_only` asks for a directory and the object is none).
int walk_in_root(int root, const std::string& rel, bool follow_last, bool dir_only) {
    std::vector<int> dirs; // opened directories below the root, innermost last
    auto close_dirs = [&] {
        for (int d : dirs)
            ::close(d);
        dirs.clear();
    };
    auto fail = [&](int fd, int err) {
        if (fd >= 0) ::close(fd);
        close_dirs();
        errno = err;
        return -1;
    };
    std::deque<std::string> todo;
    for (auto& part : split(rel, '/'))
        todo.push_back(std::move(part));
    int links = 0;
    while (!todo.empty()) {
        std::string part = std::move(todo.front());
        todo.pop_front();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!dirs.empty()) {
                ::close(dirs.back());
                dirs.pop_back();
            }
            continue;
        }
        bool last = std::all_of(todo.begin(), todo.end(),
                                [](const std::string& p) { return p.empty() || p == "."; });
        int parent = dirs.empty() ? root : dirs.back();
        int fd = ::openat(parent, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return fail(-1, errno);
        struct stat st;
        if (::fstat(fd, &st) != 0) return fail(fd, errno);
        if (S_ISLNK(st.st_mode) && (!last || follow_last)) {
            std::string target = link_text_at(fd);
            ::close(fd);
            constexpr int max_links = 40; // the kernel's own limit for nested links
            if (target.empty() || ++links > max_links) return fail(-1, ELOOP);
            if (target[0] == '/') close_dirs();
            auto parts = split(target, '/');
            for (auto it = parts.rbegin(); it != parts.rend(); ++it)
                todo.push_front(std::move(*it));
            continue;
        }
        if (last) {
            close_dirs();
            if (dir_only && !S_ISDIR(st.st_mode)) return fail(fd, ENOTDIR);
            return fd;
        }
        if (!S_ISDIR(st.st_mode)) return fail(fd, ENOTDIR);
        dirs.push_back(fd);
    }
    // The path names the root itself, or climbs back to a directory already open.
    int fd = ::openat(dirs.empty() ? root : dirs.back(), ".", O_PATH | O_CLOEXEC);
    int err = errno;
    close_dirs();
    errno = err;
    return fd;
}

// An O_PATH descriptor of `path` (absolute, the machine's own) inside the sysroot `root`;
// with `dir_only` only a directory is taken (else ENOTDIR), checked while resolving: a
// look afterwards would cost a call for every directory kept open. With `listable` too, a
// directory this user may list is opened for reading instead.
int locate(const std::string& root, const std::string& path, bool follow_last,
           bool dir_only = false, bool listable = false) {
    int rfd = root_fd(root);
    if (rfd < 0) return -1;
    size_t skip = path.find_first_not_of('/');
    std::string rel = skip == std::string::npos ? "." : path.substr(skip);
    if (!g_walk_only && !g_no_openat2) {
        struct open_how how {};
        how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
        const int rest = O_CLOEXEC | (follow_last ? 0 : O_NOFOLLOW) | (dir_only ? O_DIRECTORY : 0);
        // A directory to list is opened for reading, which for a directory does nothing else;
        // one this user may not list is still taken, as a path.
        for (int kind : {listable && dir_only ? O_RDONLY : O_PATH, O_PATH}) {
            how.flags = static_cast<uint64_t>(kind | rest);
            // A rename or mount anywhere on the system while the kernel resolves a ".." makes
            // it give up with EAGAIN rather than risk an escape: a path that exists, such as
            // every device link of sysfs, failed now and then while other programs renamed
            // files. It asks to be tried again; the walk below answers if it keeps giving up.
            long fd = -1;
            for (int attempt = 0; attempt < 16; ++attempt) {
                fd = ::syscall(SYS_openat2, rfd, rel.c_str(), &how, sizeof how);
                if (fd >= 0 || errno != EAGAIN) break;
            }
            if (fd >= 0) return static_cast<int>(fd);
            if (errno == EAGAIN) break;
            if (errno == EACCES && kind != O_PATH) continue;
            // Kernels before 5.6 lack the call; some sandboxes' filters refuse unknown calls.
            if (errno != ENOSYS && errno != EPERM) return -1;
            g_no_openat2 = true;
            break;
        }
    }
    return walk_in_root(rfd, rel, follow_last, dir_only);
}

// This process's /proc/self/fd, kept open: reopening thousands of files need not walk /proc
// each time. A child forked from us opens its own, not ours (asking for the process id on
// every open would cost a call per file). -1 without /proc.
bool g_fd_dir_stale = true;

int own_fd_dir() {
    static std::mutex mutex;
    static int fd = -1;
    static const bool watching = [] {
        return ::pthread_atfork(nullptr, nullptr, [] { g_fd_dir_stale = true; }) == 0;
    }();
    std::lock_guard<std::mutex> lock(mutex);
    if (g_fd_dir_stale || !watching) {
        if (fd >= 0) ::close(fd);
        fd = ::open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
        g_fd_dir_stale = false;
    }
    return fd;
}

// This process's entry for the descriptor `fd`, as a directory and a name for the *at calls.
struct FdEntry {
    int dir;
    char name[32];
};

FdEntry fd_entry(int fd) {
    FdEntry entry{own_fd_dir(), {}};
    if (entry.dir >= 0) {
        std::snprintf(entry.name, sizeof entry.name, "%d", fd);
    } else {
        entry.dir = AT_FDCWD;
        std::snprintf(entry.name, sizeof entry.name, "/proc/self/fd/%d", fd);
    }
    return entry;
}

// Opens the object behind an O_PATH descriptor for reading, without a second path lookup
// that could meet something else; -1 for anything but a regular file or a directory.
// `known` is what the descriptor's own fstat told, where the caller asked it already.
int reopen(int path_fd, int flags, const struct stat* known = nullptr) {
    struct stat st;
    if (known)
        st = *known;
    else if (::fstat(path_fd, &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = ENXIO;
        return -1;
    }
    const FdEntry entry = fd_entry(path_fd);
    return ::openat(entry.dir, entry.name, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// The name the kernel gives the object behind `fd` (its path from this process's root); empty
// where it gives none.
std::string name_of(int fd) {
    const FdEntry entry = fd_entry(fd);
    char buf[4096];
    ssize_t n = ::readlinkat(entry.dir, entry.name, buf, sizeof buf);
    return n > 0 && static_cast<size_t>(n) < sizeof buf ? std::string(buf, static_cast<size_t>(n))
                                                        : std::string();
}

// The sysroot's own name as the kernel gives it (links in QUARVEL_SYSROOT followed), asked once
// per sysroot; empty where it gives none.
std::string root_name(const std::string& root) {
    std::lock_guard<std::mutex> lock(g_root_mutex);
    int fd = root_fd_locked(root);
    if (!g_root_name) g_root_name = fd >= 0 ? name_of(fd) : std::string();
    return *g_root_name;
}

// ---- Directories kept open by a ReadScope -------------------------------------------------------
//
// A file in a kept directory is opened by its last name alone: no walk from the root. Over a
// sysroot that name is still opened in two steps, an O_PATH descriptor that follows no link
// and then the object behind it, so that a device node that another process puts in the
// file's place between a look and an open is never opened. A link is resolved the usual way,
// inside the sysroot.

using KeptDir = ReadScope::State::Dir;

constexpr int take_full_path = -2;

// "/a/b/c" into "/a/b" and "c"; false for what the kept directories do not serve (relative
// paths, and paths ending in "/", "." or "..").
bool split_last(const std::string& path, std::string_view& dir, std::string_view& name) {
    if (path.size() < 2 || path[0] != '/') return false;
    size_t slash = path.rfind('/');
    name = std::string_view(path).substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return false;
    dir = slash == 0 ? std::string_view("/") : std::string_view(path).substr(0, slash);
    return true;
}

int open_dir(const ReadScope::State& s, const std::string& dir) {
    if (s.root.empty()) return ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return locate(s.root, dir, true, true, true);
}

// The records getdents64 gives of the directory `fd`, appended to `out` as they come; false
// for a directory too large to be worth it, or one that cannot be read (a descriptor opened
// as a path only).
bool list_entries(int fd, std::string& out) {
    constexpr size_t most = 4096; // a device's directory takes a kilobyte or two
    alignas(struct dirent64) char buf[32768];
    out.clear();
    for (;;) {
        ssize_t n = ::getdents64(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > most) return false;
    }
}

// Whether nobody but this user and the superuser can put another object in place of an entry
// of the directory: then what a look at an entry saw is what an open of it meets, and the
// open need not go through an O_PATH descriptor. Group or other write permission (an ACL
// granting it shows in the group bits) or another owner leaves the two-step open.
bool sealed_dir(const struct stat& st) {
    static const uid_t self = ::geteuid(); // the program never changes who it runs as
    return S_ISDIR(st.st_mode) && (st.st_uid == self || st.st_uid == 0) &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A directory of at most one block: a device's, with a few dozen entries. One that holds
// hundreds (every disk, every processor) is looked into by name: it may be opened again for
// every device, and listing it each time would cost more than the looks.
constexpr off_t listing_at_most = 4096;

// Whether `d` holds its listing, made now if it may be.
bool listed(ReadScope::State& s, const KeptDir& d) {
    // Listing costs about what three looks cost: the directories of the processors' caches
    // are looked into four times, a device's a dozen.
    if (d.listable && !d.listed) {
        d.listed = list_entries(d.fd, d.listing);
        d.listable = d.listed; // no second try
        if (!d.listed) s.unlisted.insert(d.path);
    }
    return d.listed;
}

// Calls `each(record)` for the records of a listed kept directory until it returns true.
template <class F> void for_each_listed(const KeptDir& d, F each) {
    for (size_t at = 0; at + offsetof(struct dirent64, d_name) < d.listing.size();) {
        const auto* e = reinterpret_cast<const struct dirent64*>(d.listing.data() + at);
        if (e->d_reclen == 0) break;
        at += e->d_reclen;
        if (each(*e)) return;
    }
}

// What the listing of a kept directory says of `name`: -1 nothing (not listed, or the file
// system gives no kinds), 0 no such entry, else its DT_ kind.
int listed_kind(ReadScope::State& s, const KeptDir& d, std::string_view name) {
    if (!listed(s, d)) return -1;
    int kind = 0;
    for_each_listed(d, [&](const struct dirent64& e) {
        if (name != e.d_name) return false;
        kind = e.d_type == DT_UNKNOWN ? -1 : e.d_type;
        return true;
    });
    return kind;
}

// The entry of `s` for the directory `path` itself, open or found missing; null where it has
// none.
const KeptDir* find_kept(const ReadScope::State& s, std::string_view path) {
    for (const KeptDir& d : s.dirs)
        if (d.used > 0 && (d.path == path || d.named == path)) return &d;
    return nullptr;
}

// Whether what the scope knows of the directories above `path` rules it out: one of them is
// missing, or its listing lacks the next name on the way (a capture holds no /usr, no
// /sys/class/drm…). The parent is listed for this where it may be; the others answer only
// with a listing made already.
bool ruled_out(ReadScope::State& s, std::string_view path) {
    for (size_t end = path.size(), slash; end > 1; end = slash) {
        slash = path.rfind('/', end - 1);
        if (slash == std::string_view::npos) return false;
        std::string_view parent = slash == 0 ? std::string_view("/") : path.substr(0, slash);
        std::string_view name = path.substr(slash + 1, end - slash - 1);
        const KeptDir* p = find_kept(s, parent);
        if (!p || name.empty() || name == ".") continue;
        if (p->missing) return true;
        const bool nearest = end == path.size();
        if (p->fd >= 0 && (nearest || p->listed) && listed_kind(s, *p, name) == 0) return true;
    }
    return false;
}

// Opens the kept directory `d`; over a capture, one ruled out by what is known above it is
// known missing without a look.
void open_kept(ReadScope::State& s, KeptDir& d) {
    d.pending = false;
    if (!s.root.empty() && ruled_out(s, d.path)) {
        d.fd = -1;
        d.missing = true;
        return;
    }
    d.fd = open_dir(s, d.path); // -1 is kept too: no second try
    d.missing = d.fd < 0 && errno == ENOENT;
    struct stat st;
    d.sealed = !s.root.empty() && d.fd >= 0 && ::fstat(d.fd, &st) == 0 && sealed_dir(st);
    d.listable = d.sealed && st.st_size <= listing_at_most && !s.unlisted.count(d.path);
}

// The kept entry of the directory `dir`. Over a capture it is opened on the first visit: its
// files are opened in several steps, which through the directory are cheap ones. On the live
// system a file is opened by its whole path until its directory is visited again: a third of
// the directories are read from once, and for those a descriptor of the directory was one
// open and one close more.
const KeptDir& kept_dir(ReadScope::State& s, std::string_view dir) {
    ++s.clock;
    KeptDir* oldest = &s.dirs[0];
    for (auto& d : s.dirs) {
        if (d.used > 0 && (d.path == dir || d.named == dir)) {
            d.used = s.clock;
            if (d.pending) open_kept(s, d);
            return d;
        }
        if (d.used < oldest->used) oldest = &d;
    }
    if (oldest->fd >= 0) ::close(oldest->fd);
    oldest->path = std::string(dir);
    oldest->named.clear();
    oldest->used = s.clock;
    oldest->fd = -1;
    oldest->missing = oldest->sealed = oldest->listed = oldest->listable = false;
    oldest->pending = s.root.empty();
    if (!oldest->pending) open_kept(s, *oldest);
    return *oldest;
}

// This scope's entry for the directory `path` itself, open or found missing; null where it
// has none.
const KeptDir* kept_entry(const std::string& path) {
    const ReadScope::State* s = scope_state();
    return s ? find_kept(*s, path) : nullptr;
}

// Whether `path` itself is a directory this scope found missing: nothing is there to open or
// to look at through links either.
bool known_missing(const std::string& path) {
    const KeptDir* d = kept_entry(path);
    return d && d->missing;
}

// Over a sysroot, a path that exists whole and ends in a directory is resolved by the kernel
// in one call (RESOLVE_IN_ROOT is resolve_path's own rule) and named by it: a device's
// directory costs three calls instead of a look at each of its parts. Empty where that does
// not apply (a missing part, a link stored as a file, no openat2, a name the kernel cannot
// give plainly): the walk answers those.
std::string resolved_by_kernel(const std::string& path) {
    const std::string root = sysroot();
    if (root.empty() || g_walk_only || g_no_openat2) return {};
    std::string name;
    const KeptDir* kept = nullptr;
    if (ReadScope::State* s = scope_state()) {
        // Kept, as a read from it would open it: a device's directory is resolved to be read.
        kept = &kept_dir(*s, path);
        if (kept->fd < 0) return {};
        name = name_of(kept->fd);
    } else {
        int fd = locate(root, path, true, true);
        if (fd < 0) return {};
        name = name_of(fd);
        ::close(fd);
    }
    // Only now: the root's name costs a look into /proc, and a capture may lack all it is
    // asked to resolve.
    std::string base = root_name(root);
    if (base.empty() || base[0] != '/') return {};
    if (base == "/") base.clear();
    if (name == base) return "/";
    if (name.size() <= base.size() || !starts_with(name, base) || name[base.size()] != '/' ||
        ends_with(name, " (deleted)"))
        return {};
    std::string resolved = name.substr(base.size());
    if (kept && resolved != path) kept->named = resolved;
    return resolved;
}

// The kept directory of `path` and its last name; null where none serves. `missing` (errno
// ENOENT) tells that the directory is known not to exist, so neither does the file.
const KeptDir* kept_dir_of(ReadScope::State*& s, const std::string& path, std::string& name,
                           bool& missing) {
    missing = false;
    s = scope_state();
    std::string_view dir, last;
    if (!s || !split_last(path, dir, last)) return nullptr;
    const KeptDir& d = kept_dir(*s, dir);
    missing = d.missing;
    if (missing) errno = ENOENT;
    if (d.fd < 0) return nullptr;
    name = last;
    return &d;
}

// `path` opened through its kept directory; take_full_path where that does not apply.
int open_in_kept_dir(const std::string& path, int flags) {
    if (const KeptDir* self = kept_entry(path)) {
        if (self->missing) {
            errno = ENOENT;
            return -1;
        }
        // A kept directory's own "." is the directory itself: no walk, no link to follow, and
        // nothing but a directory to open.
        if (self->fd >= 0) return ::openat(self->fd, ".", flags | O_CLOEXEC | O_NONBLOCK);
    }
    ReadScope::State* s = nullptr;
    std::string name;
    bool missing = false;
    const KeptDir* d = kept_dir_of(s, path, name, missing);
    if (missing) return -1;
    if (!d) return take_full_path;
    if (s->root.empty()) return ::openat(d->fd, name.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    if (d->sealed) {
        int kind = listed_kind(*s, *d, name);
        if (kind < 0) {
            struct stat st;
            if (::fstatat(d->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
            kind = IFTODT(st.st_mode);
        }
        if (kind == 0) {
            errno = ENOENT;
            return -1;
        }
        if (kind == DT_LNK) return take_full_path;
        if (kind != DT_REG && kind != DT_DIR) {
            errno = ENXIO;
            return -1;
        }
        return ::openat(d->fd, name.c_str(),
                        flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    }
    // The entry itself, no link followed; a link is resolved inside the sysroot the usual way.
    int pfd = ::openat(d->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (pfd < 0) return -1;
    struct stat st;
    int fd = ::fstat(pfd, &st) != 0 ? -1
             : S_ISLNK(st.st_mode)  ? take_full_path
                                    : reopen(pfd, flags, &st);
    int err = errno;
    ::close(pfd);
    errno = err;
    return fd;
}

// lstat or stat of `path` through its kept directory: 1 done, 0 failed (errno set),
// take_full_path to look the usual way.
int stat_in_kept_dir(const std::string& path, struct stat& st, bool follow_last) {
    // Without following, a dangling link would still be there to look at.
    if (follow_last && known_missing(path)) {
        errno = ENOENT;
        return 0;
    }
    ReadScope::State* s = nullptr;
    std::string name;
    bool missing = false;
    const KeptDir* d = kept_dir_of(s, path, name, missing);
    if (missing) return 0;
    if (!d) return take_full_path;
    if (s->root.empty())
        return ::fstatat(d->fd, name.c_str(), &st, follow_last ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
    const int kind = listed_kind(*s, *d, name);
    if (kind == 0) {
        errno = ENOENT;
        return 0;
    }
    // A look opens nothing. A link to follow is resolved inside the sysroot.
    if (kind == DT_LNK && follow_last) return take_full_path;
    if (::fstatat(d->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    return follow_last && S_ISLNK(st.st_mode) ? take_full_path : 1;
}

// What the listing of the kept directory of `path` says of its last name (listed_kind), over a
// sysroot; -1 where no listing answers. With `follow_last`, a kept directory known missing
// is no directory (without following, a dangling link would still be there to look at).
int listed_kind_of(const std::string& path, bool follow_last) {
    if (!over_sysroot()) return -1;
    if (follow_last && known_missing(path)) return 0; // its parent need not be opened
    ReadScope::State* s = nullptr;
    std::string name;
    bool missing = false;
    const KeptDir* d = kept_dir_of(s, path, name, missing);
    if (missing) return 0;
    return d ? listed_kind(*s, *d, name) : -1;
}

// Opens `path` for reading: the live system's own file, or the capture's under a sysroot.
int open_read(const std::string& path, int flags = O_RDONLY) {
    if (int fd = open_in_kept_dir(path, flags); fd != take_full_path) return fd;
    std::string root = sysroot();
    if (root.empty() || path.empty() || path[0] != '/')
        return ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    int pfd = locate(root, path, true);
    if (pfd < 0) return -1;
    int fd = reopen(pfd, flags);
    int err = errno;
    ::close(pfd);
    errno = err;
    return fd;
}

// lstat (follow_last false) or stat of `path`, under the sysroot when one is set.
bool stat_path(const std::string& path, struct stat& st, bool follow_last) {
    if (int done = stat_in_kept_dir(path, st, follow_last); done != take_full_path) return done;
    std::string root = sysroot();
    if (root.empty() || path.empty() || path[0] != '/')
        return (follow_last ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
    int pfd = locate(root, path, follow_last);
    if (pfd < 0) return false;
    bool ok = ::fstat(pfd, &st) == 0;
    int err = errno;
    ::close(pfd);
    errno = err;
    return ok;
}

// ---- What one read may take ------------------------------------------------------------------

// Per thread: a branch read on a thread of its own reports its own cuts.
thread_local std::vector<std::string> g_cut_paths;
thread_local size_t g_cut_count = 0;

void note_cut(const std::string& path) {
    // Samplers read between collections; the list must not grow while nobody takes it.
    constexpr size_t kept = 64;
    if (g_cut_paths.size() < kept) g_cut_paths.push_back(path);
    ++g_cut_count;
}

constexpr size_t read_chunk = 65536;

// When a short read shows that the file is complete. A sysfs attribute hands over its whole
// text in one read, a binary one at most a page per read; a file of a capture is a regular
// file (nothing else is opened there), which fills every read but the last. /proc files are
// sequences of records that come a page or less at a time, and cgroup files too: those are
// read until an empty read.
size_t complete_below(const std::string& path) {
    if (over_sysroot()) return read_chunk;
    if (starts_with(path, "/sys/") && !starts_with(path, "/sys/fs/")) return 4096;
    return 0;
}

// Room for a file that fills the first read: the size a regular file (a capture's) gives,
// else a megabyte, of which only what is read takes memory. Growing by doubling instead
// copied the text at each step into fresh pages, and a large machine's processor table is
// megabytes.
void reserve_for_rest(int fd, size_t max_bytes, std::string& out) {
    struct stat st;
    const bool sized = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    const size_t expected = sized ? static_cast<size_t>(st.st_size) : 16 * read_chunk;
    out.reserve(std::min(expected, max_bytes) + 1);
}

// Reads to the end or to `max_bytes`; `cut` tells that the file held more. A read shorter
// than `short_read` bytes ends the file (0: only an empty read does): the call that would
// only report the end is a quarter of the system calls a collection makes, and on large
// machines those calls are its whole cost.
std::string read_fd(int fd, size_t max_bytes, bool& cut, size_t short_read = 0) {
    std::string out;
    char buf[read_chunk];
    cut = false;
    while (out.size() < max_bytes) {
        size_t want = std::min(sizeof buf, max_bytes - out.size());
        ssize_t n = ::read(fd, buf, want);
        if (n > 0) {
            if (out.empty() && static_cast<size_t>(n) == sizeof buf)
                reserve_for_rest(fd, max_bytes, out);
            out.append(buf, static_cast<size_t>(n));
            if (static_cast<size_t>(n) < std::min(want, short_read)) return out;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return out; // end of file, or an attribute whose read fails (EIO, EINVAL, EISDIR …)
        }
    }
    char probe;
    ssize_t n;
    do
        n = ::read(fd, &probe, 1);
    while (n < 0 && errno == EINTR);
    cut = n > 0;
    return out;
}

std::string read_bounded(const std::string& path, size_t max_bytes, bool* was_cut = nullptr) {
    int fd = open_read(path);
    if (fd < 0) return {};
    bool cut = false;
    std::string out = read_fd(fd, max_bytes, cut, complete_below(path));
    ::close(fd);
    if (cut) note_cut(path);
    if (was_cut) *was_cut = cut;
    return out;
}

// ---- Links stored as files -------------------------------------------------------------------

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

// The target of the link at `path`, real or (over a sysroot) stored; empty when it is no
// link. `not_dir` tells that a component before the last one was no directory, `gone` that
// nothing is there.
std::string find_link_target(const std::string& path, bool& not_dir, bool& gone) {
    not_dir = false;
    gone = false;
    ReadScope::State* s = nullptr;
    std::string name;
    bool missing = false;
    const KeptDir* d = kept_dir_of(s, path, name, missing);
    gone = missing;
    if (missing) return {};
    std::string root = sysroot();
    const bool own = root.empty() || path.empty() || path[0] != '/';
    // A path of the live system, or one name below a kept directory, is asked where it
    // stands: reading a link's text follows nothing, so nothing leaves a sysroot.
    if (own || d) {
        // Neither a name that is not there nor a directory is a link of any kind.
        if (int kind = d ? listed_kind(*s, *d, name) : -1; kind == 0 || kind == DT_DIR) {
            gone = kind == 0;
            return {};
        }
        char buf[4096];
        ssize_t n = d ? ::readlinkat(d->fd, name.c_str(), buf, sizeof buf - 1)
                      : ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n > 0) return std::string(buf, static_cast<size_t>(n));
        const int err = n < 0 ? errno : EINVAL;
        not_dir = err == ENOTDIR;
        gone = err == ENOENT;
        if (own || err != EINVAL) return {};
        // No link: over a sysroot it may still be one stored as a small file.
        struct stat st;
        if (::fstatat(d->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_size >= 4096)
            return {};
    }
    int pfd = d ? ::openat(d->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                : locate(root, path, false);
    if (pfd < 0) {
        not_dir = errno == ENOTDIR;
        gone = errno == ENOENT;
        return {};
    }
    std::string target = link_text_at(pfd);
    if (target.empty()) {
        struct stat st;
        if (::fstat(pfd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < 4096) {
            int fd = reopen(pfd, O_RDONLY);
            if (fd >= 0) {
                bool cut = false;
                std::string text = read_fd(fd, 4096, cut);
                ::close(fd);
                target = as_stored_link(text);
                if (s && target.empty() && !cut) s->looked_into.emplace(path, std::move(text));
            }
        }
    }
    ::close(pfd);
    return target;
}

// find_link_target, remembered for the scope: resolving paths asks about the same
// directories ("/sys", "/sys/devices", …) for every device.
std::string link_target(const std::string& path, bool* not_dir = nullptr, bool* gone = nullptr) {
    static const std::string nothing_there(1, '\0'); // no link's target holds a NUL
    ReadScope::State* s = scope_state();
    if (s) {
        std::lock_guard<std::mutex> lock(s->common->links_mutex);
        if (auto it = s->common->links.find(path); it != s->common->links.end()) {
            if (gone) *gone = it->second == nothing_there;
            return it->second == nothing_there ? std::string() : it->second;
        }
    }
    // Not held while looking: two threads that both look learn the same.
    bool failed_dir = false, absent = false;
    std::string target = find_link_target(path, failed_dir, absent);
    if (not_dir) *not_dir = failed_dir;
    if (gone) *gone = absent;
    if (s && !failed_dir) {
        std::lock_guard<std::mutex> lock(s->common->links_mutex);
        s->common->links.emplace(path, absent ? nothing_there : target);
    }
    return target;
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
    return resolved == path ? std::string() : resolved;
}

} // namespace

void set_access_observer(AccessObserver observer) {
    g_observer = observer;
}

bool access_observed() {
    return g_observer != nullptr;
}

void set_resolve_without_openat2(bool on) {
    g_walk_only = on;
}

int sysroot_error() {
    std::string root = sysroot();
    if (root.empty()) return 0;
    if (root_fd(root) < 0) return errno;
    // A handle opens without any right to the directory: one that may not be listed or
    // entered would give an empty machine that looks real.
    return ::access(root.c_str(), R_OK | X_OK) == 0 ? 0 : errno;
}

std::vector<std::string> take_cut_reads(size_t* total) {
    if (total) *total = g_cut_count;
    g_cut_count = 0;
    return std::exchange(g_cut_paths, {});
}

void add_cut_reads(const std::vector<std::string>& paths, size_t total) {
    for (const std::string& path : paths)
        note_cut(path);
    g_cut_count += total - std::min(total, paths.size());
}

std::string read_file_raw(const std::string& path) {
    return read_file_raw(path, table_limit);
}

namespace {

// What the open descriptor `fd` of `path` holds; closes it.
std::string read_opened(const std::string& path, int fd, size_t max_bytes) {
    // sysfs and /proc report sizes that have nothing to do with their contents, so read
    // until end of file instead of trusting stat().
    bool cut = false;
    std::string out = read_fd(fd, max_bytes, cut, complete_below(path));
    ::close(fd);
    // A file that is a stored link reads as its target's contents, as a real link would.
    if (over_sysroot() && out.size() < 4096 && !as_stored_link(out).empty())
        if (std::string again = retry_path(path); !again.empty())
            return read_bounded(again, max_bytes);
    if (cut) note_cut(path);
    return out;
}

// The text of `path` when this scope already read it whole to see whether it is a link.
const std::string* looked_into(const std::string& path, size_t max_bytes) {
    const ReadScope::State* s = scope_state();
    if (!s || s->looked_into.empty()) return nullptr;
    auto it = s->looked_into.find(path);
    return it != s->looked_into.end() && it->second.size() < max_bytes ? &it->second : nullptr;
}

std::string read_whole(const std::string& path, size_t max_bytes) {
    if (const std::string* known = looked_into(path, max_bytes)) return *known;
    int fd = open_read(path);
    if (fd >= 0) return read_opened(path, fd, max_bytes);
    if (errno != ENOTDIR) return {};
    std::string again = retry_path(path);
    return again.empty() ? std::string() : read_bounded(again, max_bytes);
}

} // namespace

std::string read_file_raw(const std::string& path, size_t max_bytes) {
    std::string out = read_whole(path, max_bytes);
    tell(path, Access::read, out);
    return out;
}

namespace {

// Memory filled with a file's bytes, unmapped by its owner.
struct Filled {
    char* data = nullptr;
    size_t size = 0;
    size_t length = 0;
};

constexpr size_t map_at_least = 256u << 10;

// Read, not mapped from the file: a mapped file that is cut short while the program runs (a
// package update) kills the reader with SIGBUS on its next look. A large regular file is read
// into anonymous memory whose pages are all made present by one call; growing a string chunk
// by chunk copied the file twice and took a page fault for every 4 KiB, which cost more than
// the reading itself. Any other file that opens is read the ordinary way into `small`, from
// the same descriptor. Nothing when the file does not open, or changed size while being read:
// the caller then reads it the ordinary way.
Filled read_into_memory(const std::string& path, size_t max_bytes,
                        std::optional<std::string>& small) {
    Filled out;
    if (const std::string* known = looked_into(path, max_bytes)) {
        small = *known;
        return out;
    }
    int fd = open_read(path);
    if (fd < 0) return out;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < off_t(map_at_least)) {
        small = read_opened(path, fd, max_bytes);
        return out;
    }
    // One byte more than expected, so that a file that grew meanwhile is noticed.
    const size_t want = std::min(size_t(st.st_size), max_bytes) + 1;
    void* m = ::mmap(nullptr, want, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (m != MAP_FAILED) {
        char* buf = static_cast<char*>(m);
        size_t got = 0;
        while (got < want) {
            ssize_t n = ::read(fd, buf + got, want - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += size_t(n);
        }
        if (got == size_t(st.st_size) && got < want)
            out = {buf, want, got};
        else
            ::munmap(m, want);
    }
    ::close(fd);
    return out;
}

} // namespace

struct FileContents::Storage {
    std::string text;
    Filled filled;

    Storage() = default;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage() {
        if (filled.data) ::munmap(filled.data, filled.size);
    }
    std::string_view view() const {
        return filled.data ? std::string_view(filled.data, filled.length) : std::string_view(text);
    }
};

FileContents::FileContents() = default;
FileContents::FileContents(FileContents&&) noexcept = default;
FileContents& FileContents::operator=(FileContents&&) noexcept = default;
FileContents::~FileContents() = default;

FileContents::FileContents(const std::string& path, size_t max_bytes) {
    auto storage = std::make_unique<Storage>();
    std::optional<std::string> small;
    storage->filled = read_into_memory(path, max_bytes, small);
    if (small) {
        storage->text = std::move(*small);
        tell(path, Access::read, storage->text);
    } else if (storage->filled.data) {
        tell(path, Access::read, storage->view());
    } else {
        storage->text = read_file_raw(path, max_bytes);
    }
    m_owned = std::move(storage);
}

FileContents::FileContents(std::string text) {
    auto storage = std::make_unique<Storage>();
    storage->text = std::move(text);
    m_owned = std::move(storage);
}

std::string_view FileContents::text() const {
    return m_owned ? m_owned->view() : std::string_view();
}

OpenFile::OpenFile(const std::string& path, size_t min_bytes) {
    if (access_observed()) return;
    int fd = open_read(path);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < off_t(min_bytes)) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_size = uint64_t(st.st_size);
}

OpenFile::OpenFile(OpenFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(std::exchange(other.m_size, 0)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

OpenFile::~OpenFile() {
    if (m_fd >= 0) ::close(m_fd);
}

size_t OpenFile::read_at(uint64_t offset, char* out, size_t length) const {
    size_t got = 0;
    while (m_fd >= 0 && got < length) {
        ssize_t n = ::pread(m_fd, out + got, length - got, off_t(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    return got;
}

std::string read_text(const std::string& path) {
    return printable(read_file_raw(path, attribute_limit));
}

std::string read_file(const std::string& path) {
    return trim(read_file_raw(path, attribute_limit));
}

std::string read_file_shared(const std::string& path) {
    return trim(*read_shared(path, attribute_limit));
}

std::string read_text_shared(const std::string& path) {
    return printable(*read_shared(path, attribute_limit));
}

std::shared_ptr<const std::string> read_shared(const std::string& path, size_t max_bytes) {
    ReadScope::State* s = scope_state();
    if (!s) return std::make_shared<const std::string>(read_file_raw(path, max_bytes));
    // Read once, and not under the lock: a thread asking for a file that another one is
    // reading waits for that read; threads asking for different files do not wait at all.
    auto& part = s->common->shared[std::hash<std::string>{}(path) % s->common->shared.size()];
    std::unique_lock<std::mutex> lock(part.mutex);
    for (auto it = part.files.find(path); it != part.files.end(); it = part.files.find(path)) {
        if (it->second) return it->second;
        part.read.wait(lock);
    }
    // The element itself stays where it is while others are added; an iterator would not.
    std::shared_ptr<const std::string>& slot = part.files.emplace(path, nullptr).first->second;
    lock.unlock();
    std::shared_ptr<const std::string> text;
    try {
        text = std::make_shared<const std::string>(read_file_raw(path, max_bytes));
    } catch (...) {
        lock.lock();
        part.files.erase(path);
        part.read.notify_all();
        throw;
    }
    lock.lock();
    slot = text;
    part.read.notify_all();
    return text;
}

std::vector<std::string> read_lines(const std::string& path) {
    return read_lines(path, 1u << 20);
}

std::vector<std::string> read_lines(const std::string& path, size_t max_lines) {
    // An unreadable file and an empty one both give no lines.
    return lines(read_file_raw(path), max_lines, path);
}

std::vector<std::string> lines(std::string_view text) {
    return lines(text, text.size() + 1, {});
}

std::vector<std::string> lines(std::string_view text, size_t max_lines, const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        if (out.size() == max_lines) {
            note_cut(path);
            break;
        }
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

namespace {

// Far beyond any real directory of the kernel's (tens of thousands of block devices on the
// largest storage servers), yet a bound for a directory made to exhaust memory or time.
constexpr size_t max_entries = 1u << 17;

// Calls `each(name)` for the names in the directory `path` that start with `prefix` ("." and
// ".." left out), in the order the directory gives them, up to max_entries of them (more is
// recorded as a cut read of `path`). Over a capture the scope's own listing serves where it
// has one: the directory is then opened and listed once for listing it and for reading from
// it (a processor's caches), and one found missing costs no open at all.
template <class Each>
void for_each_name(const std::string& path, const std::string& prefix, Each each) {
    size_t taken = 0;
    // Whether to go on after `name`.
    auto take = [&](std::string_view name) {
        if (name == "." || name == ".." || !starts_with(name, prefix)) return true;
        if (taken == max_entries) {
            note_cut(path);
            return false;
        }
        ++taken;
        each(name);
        return true;
    };
    if (ReadScope::State* s = scope_state(); s && !s->root.empty()) {
        const KeptDir& d = kept_dir(*s, path);
        if (d.missing) return;
        if (d.fd >= 0 && listed(*s, d)) {
            for_each_listed(d, [&](const struct dirent64& e) { return !take(e.d_name); });
            return;
        }
    }
    int fd = open_read(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0 && errno == ENOTDIR)
        if (std::string again = retry_path(path); !again.empty())
            fd = open_read(again, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    // The entries straight from the kernel: a directory stream would first ask for the
    // descriptor's type and flags, three more calls for each of the many listings.
    alignas(struct dirent64) char buf[32768];
    bool more = true;
    for (ssize_t n; more && (n = ::getdents64(fd, buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (ssize_t at = 0; more && at < n;) {
            const auto* e = reinterpret_cast<const struct dirent64*>(buf + at);
            at += e->d_reclen;
            more = take(e->d_name);
        }
    }
    ::close(fd);
}

} // namespace

std::vector<std::string> list_dir(const std::string& path, const std::string& prefix) {
    std::vector<std::string> names;
    for_each_name(path, prefix, [&](std::string_view name) { names.emplace_back(name); });
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return natural_less(a, b); });
    if (g_observer) {
        std::string listing;
        for (const auto& n : names)
            listing += n + '\0';
        tell(path, Access::list, listing);
    }
    return names;
}

size_t count_dir(const std::string& path, const std::string& prefix) {
    // A capture being made keeps the listing itself, so that a report over it counts alike.
    if (g_observer) return list_dir(path, prefix).size();
    size_t count = 0;
    for_each_name(path, prefix, [&](std::string_view) { ++count; });
    return count;
}

bool path_exists(const std::string& path) {
    tell(path, Access::look);
    if (int kind = listed_kind_of(path, false); kind >= 0) return kind > 0;
    struct stat st;
    if (stat_path(path, st, false)) return true;
    if (errno != ENOTDIR) return false;
    std::string again = retry_path(path, true);
    return !again.empty() && stat_path(again, st, false);
}

bool is_dir(const std::string& path) {
    tell(path, Access::look);
    const int kind = listed_kind_of(path, true);
    if (kind == 0 || kind == DT_DIR) return kind == DT_DIR;
    // Over a capture a link is mostly asked about to read from where it leads (a CPU's
    // frequency directory, an interface's directory): the directory is opened to be kept, as
    // the reads would open it, and the answer costs nothing more.
    if (ReadScope::State* s = scope_state(); kind == DT_LNK && s && !s->root.empty()) {
        const KeptDir& d = kept_dir(*s, path);
        if (d.fd >= 0 || d.missing) return d.fd >= 0;
    }
    struct stat st;
    if (stat_path(path, st, true)) {
        if (S_ISDIR(st.st_mode)) return true;
        // A stored link to a directory is a small regular file.
        if (!over_sysroot() || !S_ISREG(st.st_mode) || st.st_size >= 4096) return false;
    } else if (errno != ENOTDIR) {
        return false;
    }
    std::string again = retry_path(path);
    return !again.empty() && stat_path(again, st, true) && S_ISDIR(st.st_mode);
}

bool readable(const std::string& path) {
    tell(path, Access::look);
    int fd = open_read(path);
    if (fd < 0 && errno == ENOTDIR)
        if (std::string again = retry_path(path); !again.empty()) fd = open_read(again);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::string read_link_full(const std::string& path) {
    tell(path, Access::look);
    bool not_dir = false;
    std::string target = link_target(path, &not_dir);
    if (target.empty() && not_dir)
        if (std::string again = retry_path(path, true); !again.empty()) target = link_target(again);
    return target;
}

std::string read_link_base(const std::string& path) {
    return base_name(read_link_full(path));
}

std::string resolve_path(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    tell(path, Access::look);
    if (std::string found = resolved_by_kernel(path); !found.empty()) return found;
    std::deque<std::string> todo;
    for (auto& part : split(path, '/'))
        todo.push_back(part);
    std::vector<std::string> done;
    int links_followed = 0;
    constexpr int max_links = 40; // the kernel's own limit for nested links
    bool gone = false;            // a part is not there: nothing below it is a link either
    while (!todo.empty()) {
        std::string part = std::move(todo.front());
        todo.pop_front();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!done.empty()) done.pop_back();
            gone = false;
            continue;
        }
        done.push_back(part);
        if (gone || links_followed >= max_links) continue;
        std::string target = link_target("/" + join(done, "/"), nullptr, &gone);
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

namespace {

// A save killed half-way (SIGKILL, a power cut) leaves its temporary file behind; the next
// save of the same file removes it. One being written right now is locked by its writer and
// stays.
void remove_stale_temporaries(const std::string& dir, const std::string& prefix) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (struct dirent* e = ::readdir(d)) {
        if (!starts_with(e->d_name, prefix)) continue;
        int fd = ::openat(::dirfd(d), e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(d), e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

// A new temporary file for `prefix` in `dir`, locked at once so that another copy's clean-up
// never takes it for a leftover (a clean-up that came first removed the name: make another).
int locked_temporary(const std::string& dir, const std::string& prefix, std::string& tmp) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        tmp = dir + "/" + prefix + "XXXXXX";
        int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat st;
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    return -1;
}

// The new file replace_file is writing, kept where a signal handler can read it without
// allocating: its path is complete once `owner` holds the writing process's ID. One at a time;
// a second writer on another thread goes unrecorded. A forked child that crashes does not
// remove its parent's file.
std::atomic<pid_t> g_unfinished_owner{0};
char g_unfinished_path[PATH_MAX];

// Records `tmp` for the crash handler; false when it could not be (another write is recorded).
bool note_unfinished(const std::string& tmp) {
    pid_t none = 0;
    if (tmp.size() >= sizeof g_unfinished_path ||
        !g_unfinished_owner.compare_exchange_strong(none, -1))
        return false;
    std::memcpy(g_unfinished_path, tmp.c_str(), tmp.size() + 1);
    g_unfinished_owner.store(::getpid());
    return true;
}

} // namespace

void remove_unfinished_replacement() {
    if (g_unfinished_owner.load() == ::getpid()) ::unlink(g_unfinished_path);
}

bool replace_file(const std::string& path, const std::string& text, unsigned new_file_mode,
                  bool wait_for_reader) {
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        } else if (errno == ENOENT) {
            // A link to a file not yet there: the file is made where it points, as the shell's
            // ">" makes it, and the link stays.
            std::string to(PATH_MAX, '\0');
            const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
            if (n > 0 && static_cast<size_t>(n) < to.size()) {
                to.resize(static_cast<size_t>(n));
                const size_t slash = path.rfind('/');
                target = to[0] == '/' || slash == std::string::npos
                             ? to
                             : path.substr(0, slash + 1) + to;
            }
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    // errno of the first failure, for the caller's message: the clean-up must not hide it.
    int err = 0;
    auto failed = [&err] {
        if (err == 0) err = errno ? errno : EIO;
    };
    if (exists && !S_ISREG(st.st_mode)) {
        int fd = ::open(target.c_str(),
                        O_WRONLY | O_TRUNC | O_CLOEXEC | (wait_for_reader ? 0 : O_NONBLOCK));
        if (fd < 0) {
            // What a named pipe says when no one reads it.
            if (errno == ENXIO && S_ISFIFO(st.st_mode)) errno = EPIPE;
            return false;
        }
        // Only the open may not wait: a reader that is there gets the whole text.
        if (!wait_for_reader) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (!write_all(fd, text)) failed();
        if (::close(fd) != 0) failed();
        errno = err;
        return err == 0;
    }
    // A file its owner made read-only (a report kept to compare with) is refused, as the shell's
    // ">" refuses it: the rename asks only the folder. Another's file in the user's folder (one
    // left by an earlier run as root) is still replaced, so that it cannot block every save.
    if (exists && st.st_uid == ::geteuid() && ::geteuid() != 0 && !(st.st_mode & S_IWUSR)) {
        errno = EACCES;
        return false;
    }
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string prefix = "." + base_name(target) + ".tmp.";
    remove_stale_temporaries(dir, prefix);
    std::string tmp;
    int fd = locked_temporary(dir, prefix, tmp);
    if (fd < 0) return false;
    const bool noted = note_unfinished(tmp);
    mode_t mode = exists ? st.st_mode & 07777 : 0;
    if (!exists) {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = static_cast<mode_t>(new_file_mode) & ~mask;
    }
    // The administrator replacing a user's file (sudo, with the user's path named) leaves it the
    // user's, as writing into it would: a root-owned file in its place may no longer be read or
    // changed by them. Where the owner cannot be kept (a user's rename over another's file), the
    // file is the writer's, as before.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
        (void)!::fchown(fd, st.st_uid, st.st_gid);
    if (::fchmod(fd, mode) != 0 || !write_all(fd, text)) failed();
    // Without it a power loss shortly after the rename can leave an empty file on some file
    // systems.
    if (err == 0 && ::fsync(fd) != 0) failed();
    // Renamed while still locked: closing first would let a clean-up take the file.
    if (err == 0 && std::rename(tmp.c_str(), target.c_str()) != 0) failed();
    if (err != 0) ::unlink(tmp.c_str());
    if (noted) g_unfinished_owner.store(0);
    if (::close(fd) != 0) failed();
    errno = err;
    return err == 0;
}

bool read_own_file(const std::string& path, size_t max_bytes, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    bool cut = false;
    out = read_fd(fd, max_bytes, cut);
    ::close(fd);
    return true;
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
