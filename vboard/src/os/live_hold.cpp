// The start of a program held for its first client (see live_hold.h).
#include "os/live_hold.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vboard {
namespace {

std::mutex holdLock;
std::condition_variable greeted;
bool released = false;

}  // namespace

void liveHoldRelease() {
    {
        std::lock_guard<std::mutex> hold(holdLock);
        released = true;
    }
    greeted.notify_all();
}

void liveHoldAtStart() {
    const char* hold = std::getenv("VBOARD_LISTEN_HOLD");
    const char* listen = std::getenv("VBOARD_LISTEN");
    if (hold == nullptr || std::strcmp(hold, "1") != 0 || listen == nullptr || *listen == 0) return;
    std::unique_lock<std::mutex> wait(holdLock);
    if (!greeted.wait_for(wait, std::chrono::seconds(kLiveHoldSeconds), [] { return released; }))
        std::fprintf(stderr, "vboard: VBOARD_LISTEN_HOLD: no client said hello within %d s; the program goes on\n",
                     kLiveHoldSeconds);
}

}  // namespace vboard
