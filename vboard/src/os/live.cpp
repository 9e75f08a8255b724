// The board's watchers and their queues (see os/live.h).
#include "os/live.h"

#include <algorithm>
#include <atomic>
#include <utility>

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

void LiveWatcher::release(LiveEvent& read) {
    constexpr size_t kKeptRoom = 256;
    auto trim = [](std::string& text) {
        if (text.capacity() > kKeptRoom) std::string().swap(text);
    };
    trim(read.port);
    for (LiveField& f : read.fields) {
        trim(f.key);
        trim(f.value);
    }
}

void LiveWatcher::push(const LiveEvent& event, uint64_t nanoseconds) {
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!wants(event)) return;
        wasEmpty = count_ == 0;
        const size_t weight = event.weight();
        // A slow watcher loses its oldest events, never the application its time.
        while (count_ > 0 && (count_ >= kLiveQueueEvents || bytes_ + weight > kLiveQueueBytes)) {
            bytes_ -= weights_[head_];
            release(ring_[head_]);
            head_ = (head_ + 1) % ring_.size();
            --count_;
            ++dropped_;
        }
        if (count_ == ring_.size()) {
            // Full but below the limit: the ring grows, its events first in it.
            std::rotate(ring_.begin(), ring_.begin() + static_cast<ptrdiff_t>(head_), ring_.end());
            std::rotate(weights_.begin(), weights_.begin() + static_cast<ptrdiff_t>(head_), weights_.end());
            head_ = 0;
            const size_t size = std::min(kLiveQueueEvents, std::max<size_t>(16, 2 * ring_.size()));
            ring_.resize(size);
            weights_.resize(size);
        }
        const size_t at = (head_ + count_) % ring_.size();
        // Assigned member by member, so that the strings reuse the room the slot has.
        LiveEvent& slot = ring_[at];
        slot.kind = event.kind;
        slot.nanoseconds = nanoseconds;
        slot.port = event.port;
        slot.fields.resize(event.fields.size());
        for (size_t f = 0; f < event.fields.size(); ++f) {
            slot.fields[f].key = event.fields[f].key;
            slot.fields[f].value = event.fields[f].value;
            slot.fields[f].type = event.fields[f].type;
        }
        weights_[at] = weight;
        ++count_;
        bytes_ += weight;
    }
    if (wasEmpty && wake_) wake_();
}

bool LiveWatcher::waiting() const {
    std::lock_guard<std::mutex> hold(lock_);
    return count_ > 0;
}

LiveWatcher::Taken LiveWatcher::take(std::vector<LiveEvent>& into) {
    Taken taken;
    std::lock_guard<std::mutex> hold(lock_);
    taken.dropped = std::exchange(dropped_, 0);
    if (count_ == 0) return taken;
    taken.first = head_;
    taken.count = count_;
    ring_.swap(into);
    weights_.resize(ring_.size());
    head_ = 0;
    count_ = 0;
    bytes_ = 0;
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

void publishLive(const LiveEvent& event) {
    if (!liveWatched(event.kind)) return;
    const uint64_t nanoseconds = board().clock.read().nanoseconds;
    Hub& h = hub();
    std::lock_guard<std::mutex> hold(h.lock);
    for (const auto& w : h.watchers) w->push(event, nanoseconds);
}

void publishLiveLine(LiveKind kind, const std::string& device, std::string line) {
    if (!liveWatched(kind)) return;
    LiveEvent event;
    event.kind = kind;
    event.port = device;
    event.fields.reserve(2);
    if (!device.empty()) event.fields.push_back(LiveField{"device", device, LiveField::Text});
    event.fields.push_back(LiveField{"line", std::move(line), LiveField::Text});
    publishLive(event);
}

}  // namespace vboard
