// The board's clock, the time of day it reports, and its pauses.
#include "os/clock.h"

#include <chrono>

#include "os/board.h"

namespace vboard {

namespace {
uint64_t hostNanoseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
}  // namespace

uint64_t BoardClock::nowLocked() const {
    return virtual_ ? base_ : base_ + (hostNanoseconds() - anchor_);
}

BoardClock::Reading BoardClock::read() const {
    std::lock_guard<std::mutex> hold(lock_);
    const uint64_t now = nowLocked();
    return Reading{now, before_ + now};
}

void BoardClock::restart() {
    std::lock_guard<std::mutex> hold(lock_);
    before_ += nowLocked();
    base_ = 0;
    anchor_ = hostNanoseconds();
}

void BoardClock::setVirtual(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    base_ = nowLocked();
    anchor_ = hostNanoseconds();
    virtual_ = on;
}

void BoardClock::advance(uint64_t nanoseconds) {
    std::lock_guard<std::mutex> hold(lock_);
    base_ += nanoseconds;
}


// ---- Control API: time and pauses ----

void setSystemTime(const SYSTEMTIME& time) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.fixedTime = true;
    b.time = time;
}

void useHostClock() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.fixedTime = false;
}

void setVirtualSleep(bool on) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.virtualSleep = on;
    b.clock.setVirtual(on);
}

uint64_t clockNanoseconds() { return board().clock.read().nanoseconds; }

void advanceClock(uint64_t nanoseconds) { board().clock.advance(nanoseconds); }

std::vector<DWORD> sleeps() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.sleeps.items();
}


}  // namespace vboard
