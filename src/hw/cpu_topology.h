// Counting sockets and physical cores from the per-CPU topology files, robust to the ways
// real kernels get them wrong or leave them out.
#pragma once

#include "hw/cpuinfo_parser.h"

#include <cstddef>
#include <optional>
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
