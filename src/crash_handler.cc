#include "crash_handler.h"

#include "entry.h"
#include "util.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Decimal digits of `v`, at least `width` of them; signal-safe.
char* put_digits(char* p, long long v, int width) {
    char tmp[24];
    int n = 0;
    bool negative = v < 0;
    unsigned long long u =
        negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        tmp[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (n < width)
        tmp[n++] = '0';
    if (negative) *p++ = '-';
    while (n > 0)
        *p++ = tmp[--n];
    return p;
}

} // namespace

namespace crash {

namespace {

const char* env_or(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

} // namespace

std::string report_path() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string base = dir && dir[0] == '/' ? dir : "/tmp";
    return base + "/Quarvel_crash.txt";
}

bool german_from_env() {
    for (const char* name : {"LANG", "LC_ALL", "LANGUAGE"}) {
        const char* v = std::getenv(name);
        if (v && v[0] == 'd' && v[1] == 'e') return true;
    }
    return false;
}

DialogTexts dialog_texts(bool german) {
    if (german)
        return {"Quarvel - Können Sie beschreiben, wann der Fehler aufgetreten ist?",
                "Absturzbericht senden", "Nicht senden"};
    return {"Quarvel - Can you describe when the error occurred?", "Send crash report",
            "Don't send"};
}

std::string shell_quote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

std::string dialog_script(const std::string& report_file, const DialogTexts& texts) {
    const std::string file = shell_quote(report_file);
    // Bytes, not text, are encoded: the user's description may be in any encoding. Every
    // byte is written as %XX with the tools every system has (an interpreter the package does
    // not bring would leave the mail unsent); the mail program shows the text decoded.
    std::string s = "set -o pipefail\n";
    s += "encode() { od -An -v -tx1 | tr -d ' \\n' | sed 's/../%&/g'; }\n";
    s += "DESC=$(zenity --text-info --editable --title=" + shell_quote(texts.title) +
         " --width=500 --height=250 --ok-label=" + shell_quote(texts.ok) +
         " --cancel-label=" + shell_quote(texts.cancel) + " 2>/dev/null) || exit 0\n";
    s += "echo '' >> " + file + "\n";
    s += "echo 'User description:' >> " + file + "\n";
    s += "printf '%s\\n' \"$DESC\" >> " + file + "\n";
    s += "BODY=$(encode < " + file + " 2>/dev/null) || exit 0\n";
    s += "SUBJ=$(printf %s \"$1\" | encode) || exit 0\n";
    s += "xdg-open \"mailto:\"" + shell_quote(support_address) +
         "\"?subject=${SUBJ}&body=${BODY}\" 2>/dev/null || true\n";
    return s;
}

const char* signal_description(int sig) {
    switch (sig) {
    case SIGILL:
        return "SIGILL (Illegal instruction)";
    case SIGTRAP:
        return "SIGTRAP (Trap — usually a fatal GLib/GTK error)";
    case SIGABRT:
        return "SIGABRT (Abort)";
    case SIGBUS:
        return "SIGBUS (Bus error)";
    case SIGFPE:
        return "SIGFPE (Floating point exception)";
    case SIGSEGV:
        return "SIGSEGV (Segmentation fault)";
    default:
        return "Unknown signal";
    }
}

namespace {

long offset_at(time_t t) {
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return 0;
    return tm.tm_gmtoff;
}

} // namespace

LocalClock local_clock_from(time_t now) {
    LocalClock c;
    c.before = offset_at(now);
    constexpr time_t week = 7 * 86400;
    for (int i = 1; i <= 56; ++i) {
        time_t hi = now + i * week;
        if (offset_at(hi) == c.before) continue;
        time_t lo = hi - week; // still the offset of now
        while (hi - lo > 1) {
            time_t mid = lo + (hi - lo) / 2;
            (offset_at(mid) == c.before ? lo : hi) = mid;
        }
        c.change_at = hi;
        c.after = offset_at(hi);
        break;
    }
    return c;
}

void format_time(time_t t, long utc_offset, char* out) {
    long long s = static_cast<long long>(t) + utc_offset;
    long long days = s / 86400;
    long long secs = s % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    long long z = days + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long day = doy - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    char* p = put_digits(out, year, 4);
    *p++ = '-';
    p = put_digits(p, month, 2);
    *p++ = '-';
    p = put_digits(p, day, 2);
    *p++ = ' ';
    p = put_digits(p, secs / 3600, 2);
    *p++ = ':';
    p = put_digits(p, secs / 60 % 60, 2);
    *p++ = ':';
    p = put_digits(p, secs % 60, 2);
    *p = '\0';
}

} // namespace crash

namespace {

constexpr int handled_signals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP};
constexpr int max_frames = 32;

// Everything the handler needs, built at install time and never freed: the handler may run
// during exit, after static destructors.
struct Prepared {
    std::string path;
    std::string head;    // product and version lines
    std::string tail;    // system, desktop and snap lines and the backtrace heading
    std::string subject; // the mail subject up to the signal description
    std::string script;
    std::string notice;   // where the report is, for standard error
    bool display = false; // a dialog can only be shown on a display
    // A program linked on its own has no symbol table at run time: its frames are written as
    // offsets into the file, which addr2line turns into functions and lines.
    bool linked_alone = false;
    std::vector<std::string> env_strings;
    std::vector<char*> envp;
    crash::LocalClock clock;
};

std::atomic<const Prepared*> g_prepared{nullptr};
// The thread that is writing the report; 0 while nobody is.
std::atomic<pid_t> g_owner{0};

// Scratch space of the one thread that owns the handler.
char g_subject[512];
char g_time[32];

size_t text_length(const char* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

void put(int fd, const char* s, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, s, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        s += w;
        n -= static_cast<size_t>(w);
    }
}

void put(int fd, const char* s) {
    put(fd, s, text_length(s));
}

// A link at the path could point at any file of the user; a file of someone else, a second
// name of a file (hard link) or a FIFO planted in a shared directory must not be written
// either. The checks come before truncating so a refused file keeps its content.
int open_report(const char* path) {
    int fd =
        ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    ::fchmod(fd, 0600);
    return fd;
}

void reraise(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    // The signal is blocked while the handler runs; unblocking delivers it now.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// Bounds of this program's image, set by the linker.
extern "C" const char __ehdr_start[];
extern "C" const char _end[];

char* put_hex(char* p, uintptr_t v) {
    char tmp[2 * sizeof v];
    int n = 0;
    do {
        tmp[n++] = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v != 0);
    *p++ = '0';
    *p++ = 'x';
    while (n > 0)
        *p++ = tmp[--n];
    return p;
}

// "quarvel(+0x1a2b)[0x55d0c0a1a2b]" in the program's image, "[0x7f…]" elsewhere: the lines
// backtrace_symbols_fd writes for a function without a name.
void put_frame(int fd, const void* frame) {
    char line[128];
    char* end = line;
    const auto at = reinterpret_cast<uintptr_t>(frame);
    const auto base = reinterpret_cast<uintptr_t>(__ehdr_start);
    if (at >= base && at < reinterpret_cast<uintptr_t>(_end)) {
        for (const char* c = "quarvel(+"; *c; ++c)
            *end++ = *c;
        end = put_hex(end, at - base);
        *end++ = ')';
    }
    *end++ = '[';
    end = put_hex(end, at);
    *end++ = ']';
    *end++ = '\n';
    put(fd, line, static_cast<size_t>(end - line));
}

void write_report(int fd, const Prepared& p, int sig) {
    put(fd, p.head.data(), p.head.size());
    put(fd, "Signal: ");
    put(fd, crash::signal_description(sig));
    char num[32];
    char* end = num;
    *end++ = ' ';
    *end++ = '(';
    end = put_digits(end, sig, 1);
    *end++ = ')';
    *end++ = '\n';
    put(fd, num, static_cast<size_t>(end - num));
    put(fd, "Time: ");
    put(fd, g_time);
    put(fd, "\n");
    put(fd, p.tail.data(), p.tail.size());
    void* frames[max_frames];
    int n = ::backtrace(frames, max_frames);
    if (!p.linked_alone) {
        if (n > 0) ::backtrace_symbols_fd(frames, n, fd);
    } else {
        for (int i = 0; i < n; ++i)
            put_frame(fd, frames[i]);
    }
    put(fd, "\n=== End Report ===\n");
}

void start_dialog(const Prepared& p, int sig) {
    // Subject: "Quarvel Crash: <signal> - <time>", handed to the script as $1.
    char* s = g_subject;
    char* limit = g_subject + sizeof g_subject - 1;
    const char* parts[] = {p.subject.c_str(), crash::signal_description(sig), " - ", g_time};
    for (const char* part : parts)
        for (const char* c = part; *c && s < limit; ++c)
            *s++ = *c;
    *s = '\0';

    char* argv[] = {const_cast<char*>("bash"),
                    const_cast<char*>("-c"),
                    const_cast<char*>(p.script.c_str()),
                    const_cast<char*>("bash"),
                    g_subject,
                    nullptr};
    pid_t pid = ::_Fork();
    if (pid != 0) return;
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // The dialog must not read the terminal or keep a pipe of the crashed program open.
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(null_fd, STDOUT_FILENO);
        ::dup2(null_fd, STDERR_FILENO);
        if (null_fd > STDERR_FILENO) ::close(null_fd);
    }
    ::execve("/bin/bash", argv, p.envp.data());
    ::_exit(0);
}

} // namespace

void crashHandler(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);

    pid_t self = ::gettid();
    pid_t owner = 0;
    if (!g_owner.compare_exchange_strong(owner, self)) {
        // Another thread is writing the report and will end the process in a moment; dying
        // now would cut its report short.
        if (owner != self) {
            struct timespec pause = {0, 20 * 1000 * 1000};
            for (int i = 0; i < 100; ++i)
                ::nanosleep(&pause, nullptr);
        }
        reraise(sig);
        return;
    }

    // A report or settings file being replaced would stay as a hidden, half-written file
    // beside its target.
    util::remove_unfinished_replacement();

    // With administrator rights nothing is written to a shared directory and nothing is
    // started: no shell, dialog or browser ever runs as root.
    const Prepared* p = g_prepared.load();
    if (p && ::geteuid() != 0) {
        int fd = open_report(p->path.c_str());
        if (fd >= 0) {
            struct timespec now {};
            ::clock_gettime(CLOCK_REALTIME, &now);
            crash::format_time(now.tv_sec, p->clock.offset_at(now.tv_sec), g_time);
            write_report(fd, *p, sig);
            ::close(fd);
            // In a terminal (the report) the path is all the user sees of the crash.
            put(STDERR_FILENO, p->notice.data(), p->notice.size());
            if (p->display) start_dialog(*p, sig);
        }
    }
    reraise(sig);
}

void CrashHandler::install() {
    const Prepared* prepared = nullptr;
    if (::geteuid() != 0) {
        auto* p = new Prepared();
        p->path = crash::report_path();
        p->head = std::string("=== Quarvel Crash Report ===\nVersion: ") + entry::version + "\n";
        struct utsname u;
        if (::uname(&u) == 0)
            p->tail +=
                std::string("System: ") + u.sysname + " " + u.release + " " + u.machine + "\n";
        p->tail += std::string("Desktop: ") + crash::env_or("XDG_CURRENT_DESKTOP", "unknown") +
                   " (" + crash::env_or("XDG_SESSION_TYPE", "unknown") + ")\n";
        if (const char* snap = std::getenv("SNAP_VERSION"))
            p->tail += std::string("Snap: yes (v") + snap + ")\n";
        else
            p->tail += "Snap: no\n";
        p->tail += "\nBacktrace:\n";
        p->subject = "Quarvel Crash: ";
        bool german = crash::german_from_env();
        p->script = crash::dialog_script(p->path, crash::dialog_texts(german));
        p->notice = std::string(german ? "Quarvel: Absturzbericht gespeichert in "
                                       : "Quarvel: crash report saved to ") +
                    p->path + "\n";
        p->linked_alone = ::getauxval(AT_BASE) == 0; // no dynamic loader was run
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
            const char* v = std::getenv(name);
            p->display = p->display || (v && *v);
        }
        // The environment of the start, display variables included: the toolkit may change
        // its own copy later, and the handler cannot read it safely then.
        for (char** e = environ; e && *e; ++e)
            p->env_strings.emplace_back(*e);
        for (auto& e : p->env_strings)
            p->envp.push_back(e.data());
        p->envp.push_back(nullptr);
        // The time-zone code reads TZ only once per process unless told to look again.
        ::tzset();
        p->clock = crash::local_clock_from(::time(nullptr));
        // The first call of backtrace loads the unwinder, which allocates; do it now.
        void* frames[max_frames];
        ::backtrace(frames, max_frames);
        prepared = p;
    }
    g_prepared.store(prepared);

    // A stack overflow leaves no stack to run the handler on; give the main thread a spare one.
    alignas(16) static char alt_stack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    ::sigaltstack(&ss, nullptr);

    struct sigaction sa {};
    sa.sa_handler = crashHandler;
    sigemptyset(&sa.sa_mask);
    // A second fatal signal while the report is being written must wait, not restart it.
    for (int sig : handled_signals)
        sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESETHAND | SA_ONSTACK;
    for (int sig : handled_signals)
        ::sigaction(sig, &sa, nullptr);
}
