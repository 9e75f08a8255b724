// Kernel services of the virtual board: stream driver handles, the last error, events, waits,
// pauses and the time of day.
#include <chrono>
#include <ctime>
#include <thread>

#include "os/call.h"
#include "os/text.h"

namespace vboard {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

void setLastErrorValue(DWORD error) { lastError = error; }
DWORD lastErrorValue() { return lastError; }

DWORD StreamDriver::open(uint64_t, const OpenParams&) { return ERROR_SUCCESS; }
void StreamDriver::preClose(uint64_t) {}
void StreamDriver::close(uint64_t) {}
DWORD StreamDriver::read(uint64_t, uint8_t*, DWORD, DWORD& transferred) {
    transferred = 0;
    return static_cast<DWORD>(ERROR_INVALID_FUNCTION);
}
DWORD StreamDriver::write(uint64_t, const uint8_t*, DWORD, DWORD& transferred) {
    transferred = 0;
    return static_cast<DWORD>(ERROR_INVALID_FUNCTION);
}
std::optional<std::string> StreamDriver::decode(const TraceEntry&) const { return std::nullopt; }

// ---- Opens of drivers ----

void DriverObject::enter() {
    std::lock_guard<std::mutex> hold(lock);
    ++active;
}

void DriverObject::leave() {
    std::lock_guard<std::mutex> hold(lock);
    if (--active == 0) idle.notify_all();
}

void DriverObject::shutDown() {
    driver->preClose(instance);
    {
        std::unique_lock<std::mutex> hold(lock);
        idle.wait(hold, [this] { return active == 0; });
    }
    driver->close(instance);
}

// ---- Events ----

void EventObject::modify(DWORD function) {
    std::lock_guard<std::mutex> hold(lock);
    if (function == EVENT_SET) {
        signaled = true;
    } else if (function == EVENT_RESET) {
        signaled = false;
        keptSets = 0;
    } else if (function == EVENT_PULSE) {
        // Released are the threads waiting at this moment: the oldest one for an auto-reset
        // event, every one for a manual-reset event. The event ends non-signalled, so a thread
        // that comes to wait after the pulse does not see it.
        for (Waiter* waiter : waiters) {
            if (waiter->released) continue;
            waiter->released = true;
            if (!manualReset) break;
        }
        signaled = false;
        keptSets = 0;
    }
    changed.notify_all();
}

bool EventObject::set(bool keepCollision) {
    std::lock_guard<std::mutex> hold(lock);
    const bool wasSet = signaled;
    if (wasSet && keepCollision && !manualReset) ++keptSets;
    signaled = true;
    changed.notify_all();
    return wasSet;
}

DWORD EventObject::wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> hold(lock);
    Waiter self;
    const auto place = waiters.insert(waiters.end(), &self);
    waitersChanged.notify_all();
    auto ready = [&] { return self.released || signaled; };
    bool woke = true;
    if (milliseconds == INFINITE)
        changed.wait(hold, ready);
    else
        woke = changed.wait_for(hold, std::chrono::milliseconds(milliseconds), ready);
    waiters.erase(place);
    waitersChanged.notify_all();
    if (!woke) return WAIT_TIMEOUT;
    if (!self.released && !manualReset) {
        // An auto-reset event is taken by the one wait it releases.
        if (keptSets > 0) {
            --keptSets;
            changed.notify_all();
        } else {
            signaled = false;
        }
    }
    return WAIT_OBJECT_0;
}

bool EventObject::awaitWaiters(size_t count, DWORD milliseconds) {
    std::unique_lock<std::mutex> hold(lock);
    return waitersChanged.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                   [&] { return waiters.size() >= count; });
}

}  // namespace vboard

using namespace vboard;

namespace {

// ReadFile and WriteFile on a stream driver reach its read and write. `move` runs the model's
// side and answers its error; the count the caller gets never exceeds its buffer.
template <class Move>
BOOL transfer(Call& call, HANDLE file, const void* buffer, DWORD size, LPDWORD count,
              LPOVERLAPPED overlapped, Move move) {
    if (count != nullptr) *count = 0;
    DriverUse target = useDriver(file, call.entry);
    if (!target) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if (overlapped != nullptr) return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    if (buffer == nullptr && size > 0)
        return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD done = 0;
    const DWORD error = move(*target.operator->(), done);
    if (done > size) done = size;
    if (count != nullptr) *count = done;
    if (call.keep && call.entry.function == "ReadFile") call.entry.out = copyBytes(buffer, done);
    if (error != ERROR_SUCCESS) return call.fail(FALSE, error);
    return call.succeed(TRUE, call.keep ? std::to_string(done) + (call.entry.function == "ReadFile"
                                                                      ? " read"
                                                                      : " written")
                                        : std::string());
}

}  // namespace

// The bodies of the C entry points: platform_entries.cpp exports them behind a guard.
namespace vboard::calls {

DWORD GetLastError(void) {
    DWORD error = lastError;
    Call call("GetLastError");
    call.succeed(error, std::to_string(error));
    lastError = error;
    return error;
}

void SetLastError(DWORD error) { lastError = error; }

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile) {
    Call call("CreateFileW");
    OpenRecord record;
    record.params.device = toUtf8(name);
    record.params.access = access;
    record.params.share = share;
    record.params.creation = creation;
    record.params.flags = flags;
    record.securityGiven = security != nullptr;
    record.templateGiven = templateFile != nullptr;
    call.entry.device = record.params.device;
    if (call.keep)
        call.entry.args = quote(record.params.device) + " access " + hex(access) + " share " +
                          std::to_string(share) + " creation " + std::to_string(creation) +
                          " flags " + hex(flags) + (record.securityGiven ? " security" : "") +
                          (record.templateGiven ? " template" : "");

    Board& b = board();
    auto remember = [&](HANDLE result) {
        record.result = result;
        std::lock_guard<std::mutex> hold(b.lock);
        b.record(b.opens, std::move(record));
    };
    if (auto error = call.fault()) {
        remember(INVALID_HANDLE_VALUE);
        return call.fail(INVALID_HANDLE_VALUE, *error);
    }
    std::shared_ptr<StreamDriver> model;
    uint64_t instance = 0;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        auto it = b.drivers.find(fold(record.params.device));
        if (it != b.drivers.end()) {
            model = it->second;
            instance = b.nextInstance++;
        }
    }
    if (!model) {
        remember(INVALID_HANDLE_VALUE);
        return call.fail(INVALID_HANDLE_VALUE, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    call.entry.driver = model;
    if (DWORD error = model->open(instance, record.params)) {
        remember(INVALID_HANDLE_VALUE);
        return call.fail(INVALID_HANDLE_VALUE, error);
    }
    auto object = std::make_shared<DriverObject>();
    object->name = record.params.device;
    object->driver = std::move(model);
    object->instance = instance;
    HANDLE handle;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        handle = b.addHandle(std::move(object));
    }
    remember(handle);
    return call.succeed(handle, call.keep ? handleLabel(handle) : std::string());
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    Call call("DeviceIoControl");
    call.entry.code = code;
    if (call.keep) call.entry.in = copyBytes(in, inSize);
    DriverUse target = useDriver(device, call.entry);
    if (!target) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if (overlapped != nullptr) return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));

    IoRequest request;
    request.instance = target->instance;
    request.code = code;
    request.in = static_cast<uint8_t*>(in);
    request.inSize = in ? inSize : 0;
    request.out = static_cast<uint8_t*>(out);
    request.outSize = out ? outSize : 0;
    request.traced = call.keep;
    DWORD error = target->driver->ioControl(request);
    if (bytesReturned != nullptr) *bytesReturned = request.bytesReturned;
    if (call.keep) {
        call.entry.inAfter = copyBytes(in, inSize);
        const DWORD shown = request.bytesReturned && request.bytesReturned < request.outSize
                                ? request.bytesReturned
                                : request.outSize;
        call.entry.out = copyBytes(out, shown);
        call.entry.detail = std::move(request.detail);
    }
    if (error != ERROR_SUCCESS) return call.fail(FALSE, error);
    return call.succeed(TRUE);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    Call call("ReadFile");
    if (call.keep) call.entry.args = "size " + std::to_string(size);
    return transfer(call, file, buffer, size, read, overlapped, [&](DriverObject& open, DWORD& done) {
        return open.driver->read(open.instance, static_cast<uint8_t*>(buffer), size, done);
    });
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
               LPOVERLAPPED overlapped) {
    Call call("WriteFile");
    if (call.keep) call.entry.in = copyBytes(buffer, size);
    return transfer(call, file, buffer, size, written, overlapped,
                    [&](DriverObject& open, DWORD& done) {
                        return open.driver->write(open.instance,
                                                  static_cast<const uint8_t*>(buffer), size, done);
                    });
}

BOOL CloseHandle(HANDLE object) {
    Call call("CloseHandle");
    Board& b = board();
    call.entry.handle = object;
    bool known = false;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        auto it = b.handles.find(reinterpret_cast<uintptr_t>(object));
        known = it != b.handles.end();
        if (known) {
            const KernelObject& o = *it->second.object;
            call.entry.device = o.name;
            if (call.keep)
                call.entry.args = b.handleName(object) + " " +
                                  (o.name.empty() ? "(" + std::string(o.kind()) + ")" : quote(o.name));
        } else {
            const auto state = b.handleState(object);
            const char* what = state == Board::HandleState::Null      ? "a null handle"
                               : state == Board::HandleState::Invalid ? "INVALID_HANDLE_VALUE"
                               : state == Board::HandleState::Closed  ? "a handle already closed"
                                                                      : "a handle never handed out";
            call.entry.args = b.handleName(object);
            b.addMisuse("CloseHandle of " + std::string(what) + " (" + call.entry.args + ")");
        }
    }
    if (!known) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    std::shared_ptr<KernelObject> closed;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        closed = b.takeHandle(object);
        if (!closed) b.addMisuse("CloseHandle of " + b.handleName(object) + " twice at once");
    }
    if (!closed) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A driver's open ends as on the device: blocked calls are woken and fail, and the driver's
    // close runs once they have all left it.
    if (auto open = std::dynamic_pointer_cast<DriverObject>(closed)) {
        call.entry.driver = open->driver;
        open->shutDown();
    }
    return call.succeed(TRUE);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    Call call("CreateEventW");
    std::string eventName = toUtf8(name);
    call.entry.device = eventName;
    if (call.keep)
        call.entry.args = (name ? quote(eventName) + " " : std::string()) +
                          (manualReset ? "manual" : "auto") + (initialState ? " set" : " reset");
    if (auto error = call.fault()) return call.fail(static_cast<HANDLE>(nullptr), *error);

    Board& b = board();
    std::shared_ptr<EventObject> event;
    bool existed = false;
    HANDLE handle;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        if (name != nullptr) {
            event = b.namedEvents[eventName].lock();
            existed = event != nullptr;
        }
        if (!event) {
            event = std::make_shared<EventObject>();
            event->name = eventName;
            event->manualReset = manualReset != FALSE;
            event->signaled = initialState != FALSE;
            if (name != nullptr) b.namedEvents[eventName] = event;
        }
        handle = b.addHandle(event);
    }
    // Opening a named event that exists answers the same event and says so in the last error.
    setLastErrorValue(existed ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : ERROR_SUCCESS);
    return call.succeed(handle, call.keep ? handleLabel(handle) + (existed ? " (existing)" : "")
                                          : std::string());
}

BOOL EventModify(HANDLE event, DWORD function) {
    Call call("EventModify");
    const char* names[] = {"?", "pulse", "reset", "set"};
    auto target = resolve<EventObject>(event, call.entry);
    if (call.keep)
        call.entry.args = handleLabel(event) + " " + (function <= EVENT_SET ? names[function] : "?");
    if (!target) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if (function < EVENT_PULSE || function > EVENT_SET)
        return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    target->modify(function);
    return call.succeed(TRUE);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    Call call("WaitForSingleObject");
    auto target = resolve<EventObject>(object, call.entry);
    if (call.keep)
        call.entry.args = handleLabel(object) + (milliseconds == INFINITE
                                                     ? " INFINITE"
                                                     : " " + std::to_string(milliseconds));
    if (!target) return call.fail(WAIT_FAILED, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(WAIT_FAILED, *error);
    DWORD result = target->wait(milliseconds);
    return call.succeed(result, result == WAIT_OBJECT_0 ? "WAIT_OBJECT_0" : "WAIT_TIMEOUT");
}

void Sleep(DWORD milliseconds) {
    Call call("Sleep");
    if (call.keep) call.entry.args = std::to_string(milliseconds);
    bool really;
    {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        b.record(b.sleeps, DWORD{milliseconds});
        really = !b.virtualSleep;
        // A virtual pause moves the board's clock on as the real one would have.
        if (!really) b.clock.advance(uint64_t{milliseconds} * 1000000u);
    }
    if (really) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    call.succeed(0, "ok");
}

void GetSystemTime(LPSYSTEMTIME time) {
    Call call("GetSystemTime");
    SYSTEMTIME now{};
    bool fixed;
    {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        fixed = b.fixedTime;
        now = b.time;
    }
    if (!fixed) {
        auto clock = std::chrono::system_clock::now();
        std::time_t seconds = std::chrono::system_clock::to_time_t(clock);
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock.time_since_epoch()) % 1000;
        now.wYear = static_cast<WORD>(utc.tm_year + 1900);
        now.wMonth = static_cast<WORD>(utc.tm_mon + 1);
        now.wDayOfWeek = static_cast<WORD>(utc.tm_wday);
        now.wDay = static_cast<WORD>(utc.tm_mday);
        now.wHour = static_cast<WORD>(utc.tm_hour);
        now.wMinute = static_cast<WORD>(utc.tm_min);
        now.wSecond = static_cast<WORD>(utc.tm_sec);
        now.wMilliseconds = static_cast<WORD>(ms.count());
    }
    if (time != nullptr) *time = now;
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    call.succeed(0, text);
}

}  // namespace vboard::calls

namespace vboard {

const std::vector<std::string>& platformCalls() {
    // Never destroyed, like the board: a live board's client may arm a fault while the program
    // ends, and the list is made at the first one, after the listener's exit handler.
    static const std::vector<std::string>* names = new std::vector<std::string>{
        "CloseHandle",     "CopyFileW",        "CreateEventW",     "CreateFileW",
        "DeleteFileW",     "DeviceIoControl",  "EventModify",      "FindClose",
        "FindFirstFileW",  "GetCommState",     "GetCommTimeouts",  "GetLastError",
        "GetSystemTime",   "KernelIoControl",  "NKDbgPrintfW",     "PurgeComm",
        "ReadFile",        "RegCloseKey",      "RegDeleteValueW",  "RegFlushKey",
        "RegOpenKeyExW",   "RegQueryValueExW", "RegReplaceKeyW",   "RegSaveKeyW",
        "RegSetValueExW",  "SetCommMask",      "SetCommState",     "SetCommTimeouts",
        "SetCurrentUser",  "SetFileAttributesW", "Sleep",          "TouchCalibrate",
        "WaitCommEvent",   "WaitForSingleObject", "WriteFile",
    };
    return *names;
}

// ---- Control API: events ----

namespace {
std::shared_ptr<EventObject> findEvent(HANDLE event) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto it = b.handles.find(reinterpret_cast<uintptr_t>(event));
    if (it == b.handles.end()) return nullptr;
    return std::dynamic_pointer_cast<EventObject>(it->second.object);
}
}  // namespace

bool signalEvent(HANDLE event) {
    auto e = findEvent(event);
    if (!e) return false;
    e->modify(EVENT_SET);
    return true;
}

bool signalNamedEvent(const std::string& name) { return setNamedEvent(name, false).has_value(); }

std::optional<bool> setNamedEvent(const std::string& name, bool keepCollision) {
    std::shared_ptr<EventObject> e;
    {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        auto it = b.namedEvents.find(name);
        if (it != b.namedEvents.end()) e = it->second.lock();
    }
    if (!e) return std::nullopt;
    return e->set(keepCollision);
}

std::optional<bool> eventSignaled(HANDLE event) {
    auto e = findEvent(event);
    if (!e) return std::nullopt;
    std::lock_guard<std::mutex> hold(e->lock);
    return e->signaled;
}

std::optional<size_t> eventWaiters(HANDLE event) {
    auto e = findEvent(event);
    if (!e) return std::nullopt;
    std::lock_guard<std::mutex> hold(e->lock);
    return e->waiters.size();
}

bool awaitEventWaiters(HANDLE event, size_t count, unsigned milliseconds) {
    auto e = findEvent(event);
    return e && e->awaitWaiters(count, milliseconds);
}


}  // namespace vboard
