// Processes made of texts for the process list's tests, core and window alike. A file named
// in `missing` reads as empty, as for a process that ended while it was read.
#pragma once

#include "live/processes.h"

#include <map>
#include <set>
#include <string>

struct FakeProc {
    FakeProc(std::string n = "", unsigned u = 1000, std::string c = "")
        : name(std::move(n)), uid(u), cmdline(std::move(c)) {}
    std::string name;
    unsigned uid;
    std::string cmdline;
    uint64_t ticks = 0;
    uint64_t start = 500;
    uint64_t resident = 12; // statm's pages; the stat line estimates 10
    char state = 'S';
    bool kernel = false;
    std::set<std::string> missing;
};

inline std::string fake_stat(int pid, const std::string& name, uint64_t utime, uint64_t stime = 0,
                             uint64_t start = 500, uint64_t rss = 10, char state = 'S',
                             bool kernel = false) {
    return std::to_string(pid) + " (" + name + ") " + state + " 1 1 1 0 -1 " +
           (kernel ? "2129984" : "4194560") + " 10 0 0 0 " + std::to_string(utime) + " " +
           std::to_string(stime) + " 0 0 20 0 1 0 " + std::to_string(start) + " 1000 " +
           std::to_string(rss) + " 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";
}

inline procs::Source fake_source(std::map<int, FakeProc>& procs) {
    procs::Source s;
    s.list = [&procs] {
        std::vector<int> pids;
        for (const auto& p : procs)
            pids.push_back(p.first);
        return pids;
    };
    s.read = [&procs](int pid, const char* file) -> std::string {
        auto it = procs.find(pid);
        if (it == procs.end() || it->second.missing.count(file)) return "";
        const FakeProc& p = it->second;
        if (std::string(file) == "status") return "Uid:\t" + std::to_string(p.uid) + "\t0\n";
        if (std::string(file) == "cmdline") return p.cmdline;
        if (std::string(file) == "statm")
            return "900 " + std::to_string(p.resident) + " 5 1 0 80 0\n";
        return fake_stat(pid, p.name, p.ticks, 0, p.start, 10, p.state, p.kernel);
    };
    return s;
}
