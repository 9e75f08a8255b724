// The virtual board's shared state: one per process, behind one lock. Driver models keep their
// own state and locks; the board lock is never held while a model runs or a caller waits.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "registry_tree.h"
#include "vboard/vboard.h"

namespace vboard {

// ---- Kernel objects ----

struct KernelObject {
    virtual ~KernelObject() = default;
    virtual const char* kind() const = 0;
    std::string name;
};

struct DriverObject : KernelObject {
    const char* kind() const override { return "driver"; }
    std::shared_ptr<StreamDriver> driver;
    uint64_t instance = 0;
};

struct EventObject : KernelObject {
    const char* kind() const override { return "event"; }
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset = false;
    bool signaled = false;
    uint64_t pulses = 0;        // a pulse of a manual-reset event releases everyone waiting
    unsigned pendingPulse = 0;  // a pulse of an auto-reset event releases one waiter
    unsigned waiters = 0;
    void modify(DWORD function);
    DWORD wait(DWORD milliseconds);
};

struct KeyObject : KernelObject {
    const char* kind() const override { return "key"; }
    std::shared_ptr<RegistryKey> key;
};

struct FindObject : KernelObject {
    const char* kind() const override { return "find"; }
};

// ---- Debug and trace sinks ----

class Sink {
public:
    ~Sink();
    bool open(const std::string& target);
    void write(const std::string& text);
    bool active() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

// ---- The board ----

class Board {
public:
    Board();

    std::mutex lock;

    // Handles: values are never reused, so a closed handle stays recognisable as closed.
    // A closed handle keeps its slot, without its object, so that later use is told apart.
    struct HandleSlot {
        std::shared_ptr<KernelObject> object;
        bool open = true;
        unsigned number = 0;
        std::string kind;
        std::string name;
    };
    std::map<uintptr_t, HandleSlot> handles;
    unsigned handleCount = 0;
    std::vector<std::string> misuses;
    size_t invalidHandleCalls = 0;
    HANDLE addHandle(std::shared_ptr<KernelObject> object);
    void closeHandle(HANDLE handle);
    std::string handleName(HANDLE handle) const;

    std::map<std::string, std::shared_ptr<StreamDriver>> drivers;
    std::vector<OpenRecord> opens;
    uint64_t nextInstance = 1;

    std::map<std::string, std::weak_ptr<EventObject>> namedEvents;

    std::vector<std::string> debug;
    Sink debugEcho;

    std::vector<TraceEntry> trace;
    uint64_t nextSeq = 1;
    std::mutex decoderLock;  // apart from the board lock: the echo renders with the board locked
    std::vector<Decoder> decoders;
    Sink traceEcho;
    void append(TraceEntry entry);

    struct ArmedFault {
        int id;
        Fault fault;
        unsigned seen = 0;
    };
    std::vector<ArmedFault> faults;
    int nextFaultId = 1;
    std::optional<DWORD> matchFault(const TraceEntry& call);

    Registry registry;

    bool fixedTime = false;
    SYSTEMTIME time{};
    bool virtualSleep = false;
    std::vector<DWORD> sleeps;

    std::map<std::string, ConfigHandler> directives;
};

// The board, built on first use; it lives until the process ends.
Board& board();

// Renders a string argument for the trace: quoted, with control characters escaped.
std::string quote(const std::string& text);
std::string hex(uint32_t value);
// "01 02 AB": bytes as a trace shows them.
std::string hexBytes(const Bytes& bytes);
RegValue dwordValue(DWORD value);
Bytes utf16Bytes(const std::string& utf8);

}  // namespace vboard
