// The board's clock.
#pragma once

#include <cstdint>
#include <mutex>

namespace vboard {

// Time on the board since power-on, in nanoseconds. With real sleep it follows the host's
// monotonic clock; with virtual sleep it stands still but for the pauses the library makes and
// what a test advances it by, so that a run's timestamps come out the same every time. It has a
// lock of its own that is taken last: models read it with their own lock held, so that what
// they record is in time order.
class BoardClock {
public:
    struct Reading {
        uint64_t nanoseconds = 0;  // since power-on
        uint64_t running = 0;      // since the board was built: power-on does not start it again
    };
    Reading read() const;
    // Power-on: back to 0.
    void restart();
    // Virtual time keeps the reading it has when switched on, and host time goes on from it.
    void setVirtual(bool on);
    void advance(uint64_t nanoseconds);

private:
    uint64_t nowLocked() const;
    mutable std::mutex lock_;
    bool virtual_ = false;
    uint64_t base_ = 0;    // the reading at anchor_
    uint64_t anchor_ = 0;  // the host's monotonic clock when base_ was taken, in nanoseconds
    uint64_t before_ = 0;  // the time of the power-ons before this one
};

}  // namespace vboard
