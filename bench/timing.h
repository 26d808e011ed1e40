// Time stamps of the benchmarks: wall time, which on a shared machine includes waiting for a
// core, and the calling thread's processor time, which does not.
#pragma once

#include <ctime>

namespace bench {

struct Stamp {
    timespec wall{};
    timespec cpu{};
};

inline Stamp now() {
    Stamp s;
    clock_gettime(CLOCK_MONOTONIC, &s.wall);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &s.cpu);
    return s;
}

inline double ms_between(const timespec& a, const timespec& b) {
    return static_cast<double>(b.tv_sec - a.tv_sec) * 1e3 +
           static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e6;
}

} // namespace bench
