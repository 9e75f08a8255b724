// One platform call as the virtual board records it: its trace entry, the armed faults in front
// of the model, the caller's last error, and misuse of handles.
#pragma once

#include <memory>
#include <mutex>
#include <type_traits>

#include "board.h"

namespace vboard {

void setLastErrorValue(DWORD error);

class Call {
public:
    explicit Call(const char* function) { entry.function = function; }

    TraceEntry entry;

    // The error an armed fault makes this call fail with, if one is armed for it.
    std::optional<DWORD> fault() {
        Board& b = board();
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

    void record() {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        b.append(std::move(entry));
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
        b.misuses.push_back(entry.function + " on " + b.handleName(handle) +
                            ", a handle never handed out");
        return nullptr;
    }
    entry.device = it->second.name;
    if (!it->second.open) {
        b.misuses.push_back(entry.function + " on " + b.handleName(handle) + " (" +
                            entry.device + "), already closed");
        return nullptr;
    }
    auto object = std::dynamic_pointer_cast<T>(it->second.object);
    if (!object) {
        b.misuses.push_back(entry.function + " on " + b.handleName(handle) + ", which is a " +
                            it->second.kind);
    }
    return object;
}

template <class T>
std::shared_ptr<T> resolve(HANDLE handle, TraceEntry& entry) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return resolveLocked<T>(b, handle, entry);
}

inline Bytes copyBytes(const void* data, DWORD size) {
    if (data == nullptr || size == 0) return {};
    const auto* p = static_cast<const uint8_t*>(data);
    return Bytes(p, p + size);
}

}  // namespace vboard
