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

// Like the board, never destroyed: the listener's thread may release a hold while the program's
// exit destroys its statics.
struct Hold {
    std::mutex lock;
    std::condition_variable greeted;
    bool released = false;
};

Hold& hold() {
    static Hold* kept = new Hold();
    return *kept;
}

}  // namespace

void liveHoldRelease() {
    Hold& h = hold();
    {
        std::lock_guard<std::mutex> locked(h.lock);
        h.released = true;
    }
    h.greeted.notify_all();
}

void liveHoldAtStart() {
    const char* wanted = std::getenv("VBOARD_LISTEN_HOLD");
    const char* listen = std::getenv("VBOARD_LISTEN");
    if (wanted == nullptr || std::strcmp(wanted, "1") != 0 || listen == nullptr || *listen == 0) return;
    Hold& h = hold();
    std::unique_lock<std::mutex> wait(h.lock);
    if (!h.greeted.wait_for(wait, std::chrono::seconds(kLiveHoldSeconds), [&h] { return h.released; }))
        std::fprintf(stderr, "vboard: VBOARD_LISTEN_HOLD: no client said hello within %d s; the program goes on\n",
                     kLiveHoldSeconds);
}

}  // namespace vboard
