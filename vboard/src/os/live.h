// What happens on the board as it happens, for watchers outside the application (the listener of
// control/live_listener.cpp): a pin's level changing, a CAN frame, serial bytes, a debug or trace
// line. Models publish through os/host.h; a watcher takes events from a queue of its own.
//
// The application never waits for a watcher: publishing copies the event into each watcher's
// bounded queue under a lock no model code runs under, and a full queue loses its oldest events,
// counted, so that the watcher can be told how many. Nobody watching costs one atomic load.
// A queue is a ring of events whose strings keep their room from one event to the next, and the
// watcher's side swaps events out rather than copying them: the queue allocates nothing once its
// slots have room, and no thread frees what another allocated (which costs glibc's allocator
// far more than a copy).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vboard {

enum class LiveKind : unsigned { Gpio, Trace, Debug, Can, Serial, I2c, Spi };
constexpr unsigned kLiveKinds = 7;
// "gpio", "trace" ... as a watch names them.
const char* liveKindName(LiveKind kind);

// One value of an event: how it is written in JSON (a string, a number, true/false or null).
struct LiveField {
    enum Type { Text, Number, Flag, Null };
    std::string key;
    std::string value;  // Number: decimal; Flag: "true"/"false"; Null: ignored
    Type type = Text;
};

struct LiveEvent {
    LiveKind kind = LiveKind::Trace;
    uint64_t nanoseconds = 0;  // the board's clock when it happened
    // serial: "COM1", which `watch serial COM1` selects on; i2c and spi: the bus's device
    // ("I2C2:"), which the watcher's side numbers as the control API does
    std::string port;
    std::vector<LiveField> fields;
    // Roughly what the event holds, for the queue's byte limit.
    size_t weight() const;
};

// What a watcher keeps at most before it loses its oldest events.
constexpr size_t kLiveQueueEvents = 4096;
constexpr size_t kLiveQueueBytes = size_t{1} << 20;

// A watcher's queue. `wake` runs (on the publishing thread, under the hub's lock: it must only
// signal, never block or publish) when an event arrives in an empty queue.
class LiveWatcher {
public:
    explicit LiveWatcher(std::function<void()> wake) : wake_(std::move(wake)) {}
    // The kinds it takes, and for serial the ports ("" = both).
    void watch(LiveKind kind, const std::string& port);
    void unwatch(LiveKind kind);
    void unwatchAll();
    bool watches(LiveKind kind) const;

    struct Taken {
        uint64_t dropped = 0;  // lost before the first of the events taken
        size_t first = 0;      // the events taken: `count` of `into`'s from `first` on, around it
        size_t count = 0;
    };
    // Takes every event waiting: the queue's ring changes places with `into`, whose events
    // (taken before, and read) become the queue's room. Taking is one swap under the lock, so
    // that the application never waits while a watcher takes, and neither side allocates once
    // the strings have room for the events that come.
    Taken take(std::vector<LiveEvent>& into);
    // An event that has been read keeps its strings' room only while it is small, so that a
    // ring's memory follows the events it holds rather than the largest it ever saw.
    static void release(LiveEvent& read);
    // Whether an event waits.
    bool waiting() const;

private:
    friend void publishLive(const LiveEvent& event);
    bool wants(const LiveEvent& event) const;
    void push(const LiveEvent& event, uint64_t nanoseconds);

    std::function<void()> wake_;
    mutable std::mutex lock_;
    unsigned kinds_ = 0;
    std::vector<std::string> ports_;  // serial ports watched; empty with the kind: both
    // The queue: `count_` events from `head_` on, around the ring, which grows up to
    // kLiveQueueEvents as a watcher falls behind. `weights_` are the events' weights.
    std::vector<LiveEvent> ring_;
    std::vector<size_t> weights_;
    size_t head_ = 0;
    size_t count_ = 0;
    size_t bytes_ = 0;
    uint64_t dropped_ = 0;
};

// Puts a watcher on the board / takes it off.
void addLiveWatcher(const std::shared_ptr<LiveWatcher>& watcher);
void removeLiveWatcher(const std::shared_ptr<LiveWatcher>& watcher);

}  // namespace vboard
