// The virtual board's shared state: one per process, behind one lock. Driver models keep their
// own state and locks; the board lock is never held while a model runs, a caller waits, a trace
// line is rendered or an echo is written. Private to os/: the driver families reach the system
// through os/host.h, the configuration language through the public control API and
// os/control_seam.h.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/clock.h"
#include "os/control_seam.h"
#include "os/host.h"
#include "os/registry_tree.h"
#include "os/text.h"
#include "os/window.h"
#include "vboard/vboard.h"

namespace vboard {

// ---- Kernel objects ----

struct KernelObject {
    virtual ~KernelObject() = default;
    virtual const char* kind() const = 0;
    std::string name;
};

// One open of a stream driver. Calls in flight on it are counted, so that a close can wait for
// them to leave the model before the model's close() runs.
struct DriverObject : KernelObject {
    const char* kind() const override { return "driver"; }
    std::shared_ptr<StreamDriver> driver;
    uint64_t instance = 0;
    std::mutex lock;
    std::condition_variable idle;
    unsigned active = 0;
    void enter();
    void leave();
    // preClose(), then close() once no call is in flight.
    void shutDown();
};

struct EventObject : KernelObject {
    // One thread blocked in a wait on the event.
    struct Waiter {
        bool released = false;  // by a pulse, which leaves the event itself non-signalled
    };
    const char* kind() const override { return "event"; }
    std::mutex lock;
    std::condition_variable changed;
    std::condition_variable waitersChanged;
    bool manualReset = false;
    bool signaled = false;
    // The threads waiting right now, oldest first: a pulse releases the oldest one (auto-reset)
    // or all of them (manual-reset), and nobody who starts waiting after it.
    std::list<Waiter*> waiters;
    // Sets of an auto-reset event that came while it was already set, kept for the waits after
    // the next one instead of being lost: only a driver that reports the collision as a misuse
    // asks for this (see setNamedEvent), so that the test which made it ends instead of hanging
    // as the module would.
    unsigned keptSets = 0;
    void modify(DWORD function);
    // Sets the event and answers whether it was set already; then, with `keepCollision`, an
    // auto-reset event keeps this set for the wait after the next one.
    bool set(bool keepCollision);
    DWORD wait(DWORD milliseconds);
    bool awaitWaiters(size_t count, DWORD milliseconds);
};

struct KeyObject : KernelObject {
    const char* kind() const override { return "key"; }
    std::shared_ptr<RegistryKey> key;
};

struct FindObject : KernelObject {
    const char* kind() const override { return "find"; }
};

// ---- Debug and trace sinks ----

// DeviceIoControl, CreateFileW and CloseHandle: the calls a driver sees.
bool isDriverCall(const std::string& function);

// Where an echo goes. Written outside the board's lock, so it has a lock of its own.
class Sink {
public:
    ~Sink();
    // False, with errno from fopen, when a file can't be opened for appending.
    bool open(const std::string& target);
    void write(const std::string& text);
    bool active() const { return active_.load(std::memory_order_relaxed); }

private:
    std::mutex lock_;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::atomic<bool> active_{false};
};

// ---- The board ----

class Board {
public:
    Board();
    // Once the board is built: the start steps (the configuration language reads the environment
    // and applies VBOARD_CONFIG).
    void start();
    // Back to the power-on state (see vboard::reset).
    void powerOn();

    std::mutex lock;

    // Recording. `keeping` is read without the lock on every call, to skip work nobody reads.
    Recording recordingSetting;
    std::atomic<bool> keeping{true};
    size_t keepLimit() const;
    size_t misuseLimit() const;
    void applyRecording(const Recording& recording);  // with the lock held
    // Records an entry in one of the windows as the recording setting keeps it, with the lock held.
    template <class T>
    void record(Window<T>& window, T value) {
        window.push(std::move(value), keepLimit());
    }

    // Handles: values are never reused in a process, so a value handed out before and not open
    // now is a closed handle. Only open handles have an entry: the kernel object and the
    // handle's number in the process.
    struct HandleEntry {
        std::shared_ptr<KernelObject> object;
        uint64_t number = 0;
    };
    std::unordered_map<uintptr_t, HandleEntry> handles;
    uint64_t handleCount = 0;  // handed out in this process
    std::atomic<uint64_t> handleBase{0};  // handleCount at the last reset: labels count from it
    Window<std::string> misuses;
    size_t invalidHandleCalls = 0;
    HANDLE addHandle(std::shared_ptr<KernelObject> object);
    // Takes an open handle's object out of the table; null when the handle is not open.
    std::shared_ptr<KernelObject> takeHandle(HANDLE handle);
    // "h3", "h3 (closed)", "stale h12", "foreign 0x77" ...
    std::string handleName(HANDLE handle) const;
    enum class HandleState { Open, Closed, Foreign, Invalid, Null };
    HandleState handleState(HANDLE handle) const;
    void addMisuse(std::string text);

    std::map<std::string, std::shared_ptr<StreamDriver>> drivers;
    Window<OpenRecord> opens;
    uint64_t nextInstance = 1;

    std::map<std::string, std::weak_ptr<EventObject>> namedEvents;

    Window<std::string> debug;
    Sink debugEcho;

    Window<TraceEntry> trace;
    uint64_t nextSeq = 1;
    Sink traceEcho;
    std::atomic<bool> traceEchoDriversOnly{false};
    void append(TraceEntry&& entry);

    struct ArmedFault {
        int id;
        Fault fault;
        unsigned seen = 0;
    };
    std::vector<ArmedFault> faults;
    std::atomic<size_t> armedFaults{0};
    int nextFaultId = 1;
    std::optional<DWORD> matchFault(const TraceEntry& call);
    int addFault(const Fault& fault);  // with the lock held

    Registry registry;

    bool fixedTime = false;
    SYSTEMTIME time{};
    bool virtualSleep = false;  // changed together with clock.setVirtual
    Window<DWORD> sleeps;
    BoardClock clock;

    // The configuration directives, built-in and families', by name. A name is taken once:
    // addDirective ends the process when an installer registers a name twice.
    std::map<std::string, Directive> directives;
    void addDirective(Directive directive);
    // The requests the drivers take, by the names their trace decode gives them, in the order
    // the families named them.
    std::vector<NamedRequest> requests;

    // Each family's power-on: puts its models (in their power-on state) back on the board.
    // Installers register one (Host::onPowerOn); it runs without the board's lock held.
    std::vector<std::function<void(Host&)>> powerOnSteps;
    // The configuration language's: once the board is built, and after every reset.
    std::vector<std::function<void()>> startSteps;
    std::vector<std::function<void()>> resetSteps;
    // The families' parts kept in the board folder: run whenever the folder is chosen.
    std::vector<std::function<void()>> folderSteps;
};

// The board, built and started on first use; it lives until the process ends.
Board& board();

}  // namespace vboard
