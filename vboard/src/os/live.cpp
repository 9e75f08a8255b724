// The board's watchers and their queues (see os/live.h).
#include "os/live.h"

#include <algorithm>
#include <atomic>

#include "os/board.h"
#include "os/host.h"

namespace vboard {
namespace {

struct Hub {
    std::mutex lock;
    std::vector<std::shared_ptr<LiveWatcher>> watchers;
    // How many watchers take each kind: read without the lock by every model that may publish.
    std::atomic<unsigned> counts[kLiveKinds] = {};
};

Hub& hub() {
    static Hub* kept = new Hub();  // like the board, never destroyed
    return *kept;
}

unsigned bit(LiveKind kind) { return 1u << static_cast<unsigned>(kind); }

void recountLocked(Hub& h) {
    unsigned counts[kLiveKinds] = {};
    for (const auto& w : h.watchers)
        for (unsigned k = 0; k < kLiveKinds; ++k)
            if (w->watches(static_cast<LiveKind>(k))) ++counts[k];
    for (unsigned k = 0; k < kLiveKinds; ++k) h.counts[k].store(counts[k], std::memory_order_relaxed);
}

void recount() {
    Hub& h = hub();
    std::lock_guard<std::mutex> hold(h.lock);
    recountLocked(h);
}

}  // namespace

const char* liveKindName(LiveKind kind) {
    static const char* const kNames[kLiveKinds] = {"gpio", "trace", "debug", "can", "serial", "i2c", "spi"};
    return kNames[static_cast<unsigned>(kind)];
}

size_t LiveEvent::weight() const {
    size_t total = sizeof *this + port.size();
    for (const LiveField& f : fields) total += sizeof f + f.key.size() + f.value.size();
    return total;
}

void LiveWatcher::watch(LiveKind kind, const std::string& port) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        const bool had = (kinds_ & bit(kind)) != 0;
        kinds_ |= bit(kind);
        if (kind == LiveKind::Serial) {
            // A port named narrows a watch of both ports; a watch of both widens any.
            if (port.empty())
                ports_.clear();
            else if (!had || !ports_.empty())
                if (std::find(ports_.begin(), ports_.end(), port) == ports_.end()) ports_.push_back(port);
        }
    }
    recount();
}

void LiveWatcher::unwatch(LiveKind kind) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        kinds_ &= ~bit(kind);
        if (kind == LiveKind::Serial) ports_.clear();
    }
    recount();
}

void LiveWatcher::unwatchAll() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        kinds_ = 0;
        ports_.clear();
    }
    recount();
}

bool LiveWatcher::watches(LiveKind kind) const {
    std::lock_guard<std::mutex> hold(lock_);
    return (kinds_ & bit(kind)) != 0;
}

bool LiveWatcher::wants(const LiveEvent& event) const {
    if ((kinds_ & bit(event.kind)) == 0) return false;
    return event.kind != LiveKind::Serial || ports_.empty() ||
           std::find(ports_.begin(), ports_.end(), event.port) != ports_.end();
}

void LiveWatcher::push(const std::shared_ptr<const LiveEvent>& event) {
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!wants(*event)) return;
        wasEmpty = queue_.empty();
        const size_t weight = event->weight();
        // A slow watcher loses its oldest events, never the application its time.
        while (!queue_.empty() && (queue_.size() >= kLiveQueueEvents || bytes_ + weight > kLiveQueueBytes)) {
            bytes_ -= queue_.front()->weight();
            queue_.pop_front();
            ++dropped_;
        }
        queue_.push_back(event);
        bytes_ += weight;
    }
    if (wasEmpty && wake_) wake_();
}

LiveWatcher::Taken LiveWatcher::take(size_t most) {
    Taken taken;
    std::lock_guard<std::mutex> hold(lock_);
    taken.dropped = std::exchange(dropped_, 0);
    const size_t count = std::min(most, queue_.size());
    taken.events.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        bytes_ -= queue_.front()->weight();
        taken.events.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    return taken;
}

void addLiveWatcher(const std::shared_ptr<LiveWatcher>& watcher) {
    Hub& h = hub();
    std::lock_guard<std::mutex> hold(h.lock);
    h.watchers.push_back(watcher);
    recountLocked(h);
}

void removeLiveWatcher(const std::shared_ptr<LiveWatcher>& watcher) {
    Hub& h = hub();
    std::lock_guard<std::mutex> hold(h.lock);
    h.watchers.erase(std::remove(h.watchers.begin(), h.watchers.end(), watcher), h.watchers.end());
    recountLocked(h);
}

bool liveWatched(LiveKind kind) {
    return hub().counts[static_cast<unsigned>(kind)].load(std::memory_order_relaxed) != 0;
}

void publishLive(LiveEvent event) {
    if (!liveWatched(event.kind)) return;
    event.nanoseconds = board().clock.read().nanoseconds;
    const auto shared = std::make_shared<const LiveEvent>(std::move(event));
    Hub& h = hub();
    std::lock_guard<std::mutex> hold(h.lock);
    for (const auto& w : h.watchers) w->push(shared);
}

}  // namespace vboard
