#include "live/processes.h"

#include "util.h"

#include <climits>

namespace procs {

namespace {

// Names and arguments are whatever their owners chose: NULs, line breaks and other control
// characters must not reach a one-line cell.
std::string one_line(std::string_view s) {
    std::string t(s);
    for (char& c : t)
        if (c == '\0' || c == '\n') c = ' ';
    return util::printable(t);
}

// The fields after the name, as views into `rest`; stops after `wanted` fields.
std::vector<std::string_view> fields(std::string_view rest, size_t wanted) {
    std::vector<std::string_view> out;
    out.reserve(wanted);
    size_t i = 0;
    while (out.size() < wanted) {
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\n'))
            ++i;
        if (i >= rest.size()) break;
        size_t start = i;
        while (i < rest.size() && rest[i] != ' ' && rest[i] != '\n')
            ++i;
        out.push_back(rest.substr(start, i - start));
    }
    return out;
}

std::string kernel_command(const std::string& name) {
    return "[" + name + "]";
}

} // namespace

std::optional<Stat> parse_stat(std::string_view text) {
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return std::nullopt;
    if (!util::all_digits(util::trim(text.substr(0, open)))) return std::nullopt;
    // Counted from the state, the third field of the line: ppid 4, flags 9, utime 14,
    // stime 15, starttime 22, rss 24.
    const auto f = fields(text.substr(close + 1), 22);
    if (f.size() < 22) return std::nullopt;
    Stat s;
    s.name = one_line(text.substr(open + 1, close - open - 1));
    s.state = one_line(f[0]);
    s.ppid = static_cast<int>(util::to_i64(f[1], 0));
    s.ticks = util::to_u64(f[11], 0) + util::to_u64(f[12], 0);
    s.start_time = util::to_u64(f[19], 0);
    s.rss_pages = util::to_u64(f[21], 0);
    // Brackets tell nothing: any program may call itself "[kworker/0:1]".
    constexpr uint64_t pf_kthread = 0x00200000; // the kernel's flag for its own threads
    s.kernel = (util::to_u64(f[6], 0) & pf_kthread) != 0;
    return s;
}

std::optional<uint64_t> parse_statm_resident(std::string_view statm) {
    const auto f = fields(statm, 2);
    if (f.size() < 2 || !util::all_digits(f[1])) return std::nullopt;
    return util::to_u64(f[1], 0);
}

std::optional<unsigned> parse_real_uid(std::string_view status) {
    size_t at = 0;
    while (at < status.size()) {
        size_t nl = status.find('\n', at);
        std::string_view line =
            status.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        if (util::starts_with(line, "Uid:")) {
            const auto f = fields(line.substr(4), 1);
            if (f.empty()) return std::nullopt;
            const uint64_t uid = util::to_u64(f[0], UINT64_MAX);
            if (uid > UINT_MAX) return std::nullopt;
            return static_cast<unsigned>(uid);
        }
        if (nl == std::string_view::npos) break;
        at = nl + 1;
    }
    return std::nullopt;
}

std::string parse_cmdline(std::string_view raw) {
    std::string text = one_line(shorten(raw, max_command_bytes));
    // Cleaning shows each stray byte as a replacement character of three bytes: a command of
    // such bytes would come out three times as long, so it is cut again.
    const size_t ellipsis = std::string_view("\u2026").size();
    return text.size() > max_command_bytes + ellipsis ? shorten(text, max_command_bytes) : text;
}

uint64_t parse_mem_total(std::string_view meminfo) {
    const size_t at = meminfo.find("MemTotal:");
    if (at == std::string_view::npos) return 0;
    const auto f = fields(meminfo.substr(at + 9), 1);
    return f.empty() ? 0 : util::to_u64(f[0], 0) * 1024;
}

std::string shorten(std::string_view text, size_t max_bytes) {
    if (text.size() <= max_bytes) return std::string(text);
    size_t cut = max_bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut)) + "\u2026";
}

Source live_source() {
    Source s;
    s.list = [] {
        std::vector<int> pids;
        for (const auto& name : util::list_dir("/proc"))
            if (util::all_digits(name)) {
                const int64_t pid = util::to_i64(name, 0);
                if (pid > 0 && pid <= INT_MAX) pids.push_back(static_cast<int>(pid));
            }
        return pids;
    };
    s.read = [](int pid, const char* file) {
        return util::read_file_raw("/proc/" + std::to_string(pid) + "/" + file);
    };
    return s;
}

Changes sample(std::map<int, Proc>& procs, const Source& source, const Params& params, double dt,
               uint64_t pass) {
    Changes ch;
    for (auto& entry : procs)
        entry.second.alive = false;
    const double clk = params.clk_tck > 0 ? static_cast<double>(params.clk_tck) : 100.0;
    const uint64_t page = params.page_size > 0 ? static_cast<uint64_t>(params.page_size) : 0;

    for (const int pid : source.list()) {
        auto st = parse_stat(source.read(pid, "stat"));
        if (!st) continue; // ended before it could be read
        auto it = procs.find(pid);
        if (it != procs.end() && it->second.start_time != st->start_time) {
            // The PID was taken over: the old process ended, whatever was selected with it.
            ch.removed.push_back(pid);
            procs.erase(it);
            it = procs.end();
        }
        const bool fresh = it == procs.end();
        // After an exec the PID and start time stay, but name, command line and maybe the user
        // are the new program's.
        const bool details = fresh || it->second.name != st->name ||
                             (pass + static_cast<uint64_t>(pid)) % detail_period == 0;
        std::optional<unsigned> uid;
        std::string cmdline;
        if (details) {
            uid = parse_real_uid(source.read(pid, "status"));
            if (!uid) continue; // ended between the reads
            cmdline = parse_cmdline(source.read(pid, "cmdline"));
        }

        Proc& p = fresh ? procs[pid] : it->second;
        const Proc before = fresh ? Proc{} : p;
        p.pid = pid;
        p.alive = true;
        p.ppid = st->ppid;
        p.state = std::move(st->state);
        p.start_time = st->start_time;
        p.kernel = st->kernel;
        if (fresh) {
            p.cpu = 0;
        } else if (dt >= min_interval_s) {
            p.cpu = st->ticks >= p.ticks
                        ? static_cast<double>(st->ticks - p.ticks) / clk / dt * 100.0
                        : 0.0;
        }
        p.ticks = st->ticks;
        // The stat file's count is the kernel's quick per-CPU estimate, off by up to a tenth
        // for a small process on two CPUs and more with more CPUs; current kernels sum the counters
        // for statm, which is what ps shows.
        p.rss = parse_statm_resident(source.read(pid, "statm")).value_or(st->rss_pages) * page;
        if (details) {
            if (fresh || p.uid != *uid || p.user.empty()) {
                p.uid = *uid;
                p.user = params.user_name ? params.user_name(*uid) : std::to_string(*uid);
            }
            p.cmd = cmdline.empty() ? kernel_command(st->name) : std::move(cmdline);
        }
        // A process that ended and waits for its parent: no command line is left, and it is
        // no kernel thread. Marked at once, as ps marks it, whichever pass reads the details.
        if (p.state == "Z") p.cmd = kernel_command(st->name) + " <defunct>";
        p.name = std::move(st->name);

        if (fresh)
            ch.added.push_back(pid);
        else if (p.user != before.user || p.cpu != before.cpu || p.rss != before.rss ||
                 p.cmd != before.cmd || p.name != before.name)
            ch.changed.push_back(pid);
    }

    for (auto it = procs.begin(); it != procs.end();) {
        if (it->second.alive) {
            ++it;
            continue;
        }
        ch.removed.push_back(it->first);
        it = procs.erase(it);
    }
    return ch;
}

bool visible(const Proc& p, const std::string& needle, bool mine_only, unsigned my_uid) {
    if (mine_only && p.uid != my_uid) return false;
    if (needle.empty()) return true;
    const std::string haystack =
        util::fold_case(std::to_string(p.pid) + " " + p.user + " " + p.cmd + " " + p.name);
    return haystack.find(needle) != std::string::npos;
}

std::optional<Identity> read_identity(const Source& source, int pid) {
    if (pid < 1) return std::nullopt;
    auto st = parse_stat(source.read(pid, "stat"));
    // A zombie has ended and waits only for its parent: a signal to it is taken and does
    // nothing, so "ending" it looked like success while its row stayed.
    if (!st || st->state == "Z") return std::nullopt;
    auto uid = parse_real_uid(source.read(pid, "status"));
    if (!uid) return std::nullopt;
    return Identity{pid, *uid, st->start_time};
}

std::vector<std::string> elevated_end_argv(const Identity& id) {
    // Runs as root after the password prompt. The start time is the 20th field after the
    // last ") " of the stat line (the name before it may hold anything).
    static const char* script = R"(p=$1 start=$2 uid=$3
s=$(cat "/proc/$p/stat" 2>/dev/null) || exit 3
s=${s##*) }
set -f
set -- $s
[ "$1" != Z ] && [ "${20}" = "$start" ] || exit 3
status=$(cat "/proc/$p/status" 2>/dev/null) || exit 3
u=
while read -r key value rest; do
    [ "$key" = Uid: ] && u=$value
done <<END
$status
END
[ "$u" = "$uid" ] || exit 3
kill -TERM "$p"
)";
    return {"pkexec",
            "/bin/sh",
            "-c",
            script,
            "sh",
            std::to_string(id.pid),
            std::to_string(id.start_time),
            std::to_string(id.uid)};
}

} // namespace procs
