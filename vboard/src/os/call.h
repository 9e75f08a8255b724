// One platform call as the virtual board records it: its trace entry, the armed faults in front
// of the model, the caller's last error, and misuse of handles.
#pragma once

#include <memory>
#include <mutex>
#include <type_traits>

#include "os/board.h"

namespace vboard {

void setLastErrorValue(DWORD error);
DWORD lastErrorValue();

// Tells the board's watchers of a call: its trace line to those of the trace, and the line of a
// call on an I2C bus or SPI port to theirs. `rendered` is the line when the caller has it.
void publishTrace(const TraceEntry& entry, std::string rendered);

class Call {
public:
    explicit Call(const char* function) {
        Board& b = board();
        keep = b.keeping.load(std::memory_order_relaxed) || b.traceEcho.active() ||
               liveWatched(LiveKind::Trace) || liveWatched(LiveKind::I2c) || liveWatched(LiveKind::Spi);
        entry.function = function;
    }

    TraceEntry entry;
    // Whether anybody will read this call's trace entry (kept or echoed). When not, a call
    // renders no arguments and copies no buffers.
    bool keep = true;

    // The error an armed fault makes this call fail with, if one is armed for it.
    std::optional<DWORD> fault() {
        Board& b = board();
        if (b.armedFaults.load(std::memory_order_relaxed) == 0) return std::nullopt;
        std::lock_guard<std::mutex> hold(b.lock);
        auto error = b.matchFault(entry);
        entry.injected = error.has_value();
        return error;
    }

    template <class T>
    T succeed(T result, std::string outcome = {}) {
        entry.ok = true;
        entry.result = asNumber(result);
        entry.outcome = std::move(outcome);
        record();
        return result;
    }

    // Fails the call: the caller's GetLastError will answer `error`.
    template <class T>
    T fail(T result, DWORD error) {
        entry.ok = false;
        entry.error = error;
        entry.result = asNumber(result);
        setLastErrorValue(error);
        record();
        return result;
    }

    // For the registry calls, which answer their error instead of setting the last error.
    LONG answer(LONG status, std::string outcome = {}) {
        entry.ok = status == ERROR_SUCCESS;
        entry.error = static_cast<DWORD>(status);
        entry.result = status;
        entry.outcome = std::move(outcome);
        record();
        return status;
    }

private:
    template <class T>
    static int64_t asNumber(T value) {
        if constexpr (std::is_pointer_v<T>)
            return static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
        else
            return static_cast<int64_t>(value);
    }

    // The echo is rendered before the board is locked: a decoder may use the control API.
    void record() {
        Board& b = board();
        std::string line;
        const bool echo = b.traceEcho.active() &&
                          (!b.traceEchoDriversOnly.load(std::memory_order_relaxed) ||
                           isDriverCall(entry.function));
        if (echo) line = renderTrace(entry) + "\n";
        publishTrace(entry, echo ? line.substr(0, line.size() - 1) : std::string());
        {
            std::lock_guard<std::mutex> hold(b.lock);
            b.append(std::move(entry));
        }
        if (echo) b.traceEcho.write(line);
    }
};

// Looks up the object behind a handle for a call, with the board locked. Calls on
// INVALID_HANDLE_VALUE are counted; calls on a closed or foreign handle, or on one of another
// kind, are misuses. Fills the entry's handle and device name.
template <class T>
std::shared_ptr<T> resolveLocked(Board& b, HANDLE handle, TraceEntry& entry) {
    entry.handle = handle;
    if (handle == INVALID_HANDLE_VALUE) {
        ++b.invalidHandleCalls;
        return nullptr;
    }
    auto it = b.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == b.handles.end()) {
        const bool closed = b.handleState(handle) == Board::HandleState::Closed;
        b.addMisuse(entry.function + " on " + b.handleName(handle) +
                    (closed ? ", already closed" : ", a handle never handed out"));
        return nullptr;
    }
    entry.device = it->second.object->name;
    auto object = std::dynamic_pointer_cast<T>(it->second.object);
    if (!object) {
        b.addMisuse(entry.function + " on " + b.handleName(handle) + ", which is a " +
                    it->second.object->kind());
    }
    return object;
}

template <class T>
std::shared_ptr<T> resolve(HANDLE handle, TraceEntry& entry) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return resolveLocked<T>(b, handle, entry);
}

// A call in flight on one open of a driver: the handle's close waits for it to leave the model.
class DriverUse {
public:
    DriverUse() = default;
    explicit DriverUse(std::shared_ptr<DriverObject> object) : object_(std::move(object)) {
        if (object_) object_->enter();
    }
    DriverUse(DriverUse&& other) noexcept : object_(std::move(other.object_)) {}
    DriverUse(const DriverUse&) = delete;
    DriverUse& operator=(const DriverUse&) = delete;
    DriverUse& operator=(DriverUse&&) = delete;
    ~DriverUse() {
        if (object_) object_->leave();
    }
    DriverObject* operator->() const { return object_.get(); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    std::shared_ptr<DriverObject> object_;
};

// Resolves a driver handle for a call and counts the call in flight on its open. The entry
// learns the device and the model that will decode it.
inline DriverUse useDriver(HANDLE handle, TraceEntry& entry) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto object = resolveLocked<DriverObject>(b, handle, entry);
    if (object) entry.driver = object->driver;
    return DriverUse(std::move(object));
}

inline Bytes copyBytes(const void* data, DWORD size) {
    if (data == nullptr || size == 0) return {};
    const auto* p = static_cast<const uint8_t*>(data);
    return Bytes(p, p + size);
}

}  // namespace vboard
