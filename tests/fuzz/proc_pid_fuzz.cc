// The process view's files: /proc/PID/stat, status and cmdline, and the MemTotal of
// /proc/meminfo. Any process names itself and passes any arguments, so every text that
// reaches a cell is one line of printable UTF-8 of bounded length, and two sampling passes
// over the texts keep the table consistent.
//
// The input holds up to four texts cut at \x1e: the stat line of the first pass, the status
// file, the command line, and the stat line of the second pass. Each text also goes through
// every parser on its own.
#include "fuzz_support.h"
#include "live/processes.h"
#include "util.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

using fuzz::check;

namespace {

bool one_printable_line(const std::string& s) {
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return false;
    }
    return util::valid_utf8(s) == s && util::clean_text(s, false) == s;
}

void parse_alone(const std::string& text) {
    if (auto st = procs::parse_stat(text)) {
        check(one_printable_line(st->name) && one_printable_line(st->state));
        check(st->name == util::trim(st->name));
    }
    procs::parse_real_uid(text);
    std::string cmd = procs::parse_cmdline(text);
    check(one_printable_line(cmd));
    check(cmd.size() <= procs::max_command_bytes + std::string("\u2026").size());
    procs::parse_mem_total(text);
}

} // namespace

FUZZ_TARGET(input) {
    const fuzz::Parts part(input, '\x1e');
    for (const auto& p : part.all)
        parse_alone(p);

    // Two processes read from the same texts, one of them with its PID in the name filter.
    size_t pass = 0;
    procs::Source source;
    source.list = [] { return std::vector<int>{1, 7}; };
    source.read = [&](int pid, const char* file) {
        const std::string f = file;
        if (f == "stat") return part[pass == 0 ? 0 : 3];
        if (f == "status") return pid == 7 ? part[1] : std::string("Uid:\t0\n");
        return part[2];
    };
    procs::Params params;
    params.page_size = 4096;
    std::map<int, procs::Proc> table;
    for (double dt : {0.0, 1.5}) {
        procs::Changes ch = procs::sample(table, source, params, dt, pass);
        ++pass;
        for (const auto& [pid, p] : table) {
            check(p.pid == pid && p.alive);
            check(std::isfinite(p.cpu) && p.cpu >= 0);
            check(one_printable_line(p.name) && one_printable_line(p.cmd));
            procs::visible(p, util::lower(part[2]), false, 0);
        }
        for (int pid : ch.added)
            check(table.count(pid) == 1);
        for (int pid : ch.changed)
            check(table.count(pid) == 1);
    }
    if (auto id = procs::read_identity(source, 7)) check(id->pid == 7);
}
