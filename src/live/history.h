// The live panels' histories: one value a second for the last two minutes, oldest first.
#pragma once

#include <cstddef>
#include <deque>

namespace live {

constexpr size_t history_length = 120;

// Appends `value`, dropping the oldest values beyond history_length.
inline void push_history(std::deque<double>& history, double value) {
    history.push_back(value);
    while (history.size() > history_length)
        history.pop_front();
}

} // namespace live
