// Counting sockets and physical cores from the per-CPU topology files, robust to the ways
// real kernels get them wrong or leave them out.
#pragma once

#include "hw/cpuinfo_parser.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace hw {

// What /sys/devices/system/cpu/cpuN/topology says about one online CPU.
struct CpuTopology {
    int cpu = -1;
    std::string package_id;      // physical_package_id as written; "-1" means unknown
    std::string core_id;         // read only when no CPU has thread sibling lists
    std::string thread_siblings; // canonical list (from the list file, else the mask); empty
                                 // when the kernel does not say
};

// The present and online CPUs. Some kernels and captures have no global list files; the
// cpuN directories and each CPU's own "online" file then tell the same.
struct CpuLists {
    std::vector<int> present;
    std::vector<int> online;
    std::set<int> online_set;
    std::string present_text, present_note = "present";
    std::string online_text, online_note = "online";
    std::string offline_text;
};

CpuLists read_cpu_lists();

// The topology files of the `online` CPUs, read with `read_text` (a file's text fit for
// display, empty when unreadable), so a caller that reads the same files again can hand in
// its cache. Core ids are read only when no CPU has a sibling set. The processor branch and
// the monitor bar both count from this, so they never disagree.
std::vector<CpuTopology>
read_topology(const std::vector<int>& online,
              const std::function<std::string(const std::string&)>& read_text);

// Distinct non-negative package ids; without any, the distinct non-negative "physical id"
// values of /proc/cpuinfo; 0 when neither is known.
size_t count_sockets(const std::vector<CpuTopology>& cpus, const std::vector<CpuInfoBlock>& blocks);

// Every online CPU belongs to exactly one core, so the distinct thread-sibling sets are the
// cores; an online CPU that no set covers is a core of its own. Without any sibling set, the
// distinct (package id, core id) pairs; 0 when that is unknown too.
size_t count_cores(const std::vector<CpuTopology>& cpus);

// True when some CPU has a sibling set, i.e. count_cores needs no core ids.
bool has_sibling_sets(const std::vector<CpuTopology>& cpus);

} // namespace hw
