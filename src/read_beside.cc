#include "read_beside.h"

#include "util.h"

#include <system_error>
#include <utility>

namespace util {

unsigned spare_cores() {
    static const unsigned cores = std::thread::hardware_concurrency(); // a file read each time
    return cores > 1 && !access_observed() ? cores - 1 : 0;
}

ReadBeside::ReadBeside(std::function<void()> work) : m_work(std::move(work)) {
    const ReadScope* collection = ReadScope::current();
    try {
        m_thread = std::thread([this, collection] {
            try {
                if (collection) {
                    ReadScope own(collection);
                    m_work();
                } else {
                    m_work();
                }
            } catch (...) {
                m_failure = std::current_exception();
            }
            m_cut = take_cut_reads(&m_cut_total);
        });
    } catch (const std::system_error&) {
        m_work(); // no thread to be had
    }
}

ReadBeside::~ReadBeside() {
    if (m_thread.joinable()) m_thread.join();
}

void ReadBeside::wait() {
    if (!m_thread.joinable()) return;
    m_thread.join();
    add_cut_reads(m_cut, m_cut_total);
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
}

void read_in_halves(size_t count, const std::function<void(size_t)>& read) {
    auto range = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            read(i);
    };
    if (count < many_devices || spare_cores() == 0) return range(0, count);
    const size_t half = count / 2;
    ReadBeside second([&] { range(half, count); });
    range(0, half);
    second.wait();
}

} // namespace util
