// A window of the most recent entries of one kind, as the board and its models record them.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

// The most recent entries of one kind, with exact counts of all recorded and of those dropped.
template <class T>
class Window {
public:
    // Keeps `value` unless `limit` is 0, dropping the oldest entries beyond `limit`.
    void push(T&& value, size_t limit) {
        ++recorded_;
        if (limit == 0) {
            ++dropped_;
            return;
        }
        items_.push_back(std::move(value));
        while (items_.size() > limit) {
            items_.pop_front();
            ++dropped_;
        }
    }
    void trim(size_t limit) {
        while (items_.size() > limit) {
            items_.pop_front();
            ++dropped_;
        }
    }
    std::vector<T> items() const { return std::vector<T>(items_.begin(), items_.end()); }
    const std::deque<T>& view() const { return items_; }
    Tally tally() const { return Tally{recorded_, dropped_}; }
    void clear() {
        items_.clear();
        recorded_ = dropped_ = 0;
    }

private:
    std::deque<T> items_;
    uint64_t recorded_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace vboard
