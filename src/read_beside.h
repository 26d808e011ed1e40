// Reading for one collection on a second thread: on a machine with thousands of processors,
// disks or devices, opening files is the whole cost, and the cores are there.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace util {

// How many threads beside this one can gain anything: this computer's cores but one; none
// while an observer is told of the reads (a capture records them in the order they were made).
unsigned spare_cores();

// From this many devices of one kind on, reading them on two threads gains more than starting
// a thread costs.
constexpr size_t many_devices = 64;

// Calls read(i) for every i below `count`, in order; from many_devices on, the second half on
// a thread of its own (ReadBeside) while this one reads the first. `read` is called from both
// threads at once, each time for another i. What it throws is thrown here.
void read_in_halves(size_t count, const std::function<void(size_t)>& read);

// `work` done on a thread of its own for this thread's collection: that thread reads within a
// ReadScope sharing this thread's (where one lives), and the reads it found cut are added to
// this thread's record when waited for. Where no thread can be had, the work is done at once,
// on this thread. The end of the object waits too.
class ReadBeside {
public:
    explicit ReadBeside(std::function<void()> work);
    ~ReadBeside();
    ReadBeside(const ReadBeside&) = delete;
    ReadBeside& operator=(const ReadBeside&) = delete;

    // Waits for the work; what it threw is thrown here.
    void wait();

private:
    std::function<void()> m_work;
    std::thread m_thread;
    std::exception_ptr m_failure;
    std::vector<std::string> m_cut;
    size_t m_cut_total = 0;
};

} // namespace util
