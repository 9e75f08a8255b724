// The board's shared state and the control API over it.
#include "os/board.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "control/config.h"
#include "drivers/families.h"
#include "os/text.h"

namespace vboard {

void setLastErrorValue(DWORD error);

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

// ---- Sinks ----

Sink::~Sink() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool Sink::open(const std::string& target) {
    std::lock_guard<std::mutex> hold(lock_);
    if (owned_ && file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    owned_ = false;
    if (target == "stdout") {
        file_ = stdout;
    } else if (target == "stderr") {
        file_ = stderr;
    } else if (!target.empty()) {
        file_ = std::fopen(target.c_str(), "ab");
        owned_ = file_ != nullptr;
    }
    active_.store(file_ != nullptr, std::memory_order_relaxed);
    return target.empty() || file_ != nullptr;
}

void Sink::write(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

// ---- The board's clock ----

namespace {
uint64_t hostNanoseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
}  // namespace

uint64_t BoardClock::nowLocked() const {
    return virtual_ ? base_ : base_ + (hostNanoseconds() - anchor_);
}

BoardClock::Reading BoardClock::read() const {
    std::lock_guard<std::mutex> hold(lock_);
    const uint64_t now = nowLocked();
    return Reading{now, before_ + now};
}

void BoardClock::restart() {
    std::lock_guard<std::mutex> hold(lock_);
    before_ += nowLocked();
    base_ = 0;
    anchor_ = hostNanoseconds();
}

void BoardClock::setVirtual(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    base_ = nowLocked();
    anchor_ = hostNanoseconds();
    virtual_ = on;
}

void BoardClock::advance(uint64_t nanoseconds) {
    std::lock_guard<std::mutex> hold(lock_);
    base_ += nanoseconds;
}

// ---- Board ----

Board::Board() {
    installBuiltInDirectives(*this);
    installFamilies(*this);
    powerOn();
}

void Board::powerOn() {
    // Every handle still open is closed first, so that each driver sees its opens closed and
    // releases what was registered through them, as when a process ends on the device.
    std::vector<std::shared_ptr<KernelObject>> stillOpen;
    {
        std::lock_guard<std::mutex> hold(lock);
        for (auto& h : handles) stillOpen.push_back(std::move(h.second.object));
        handles.clear();
        handleBase.store(handleCount, std::memory_order_relaxed);
    }
    for (auto& object : stillOpen)
        if (auto open = std::dynamic_pointer_cast<DriverObject>(object)) open->shutDown();
    stillOpen.clear();
    {
        std::lock_guard<std::mutex> hold(lock);
        drivers.clear();
        opens.clear();
        namedEvents.clear();
        misuses.clear();
        invalidHandleCalls = 0;
        debug.clear();
        trace.clear();
        nextSeq = 1;
        faults.clear();
        armedFaults.store(0, std::memory_order_relaxed);
        registry = Registry();
        auto ident = Registry::create(registry.root(HKEY_LOCAL_MACHINE), "Ident");
        Registry::setValue(*ident, "BSPVersionNumber", dwordValue(kDefaultBspVersion));
        Registry::setValue(*ident, "ImageVersionNumber", dwordValue(kDefaultImageVersion));
        fixedTime = false;
        time = SYSTEMTIME{};
        virtualSleep = false;
        clock.setVirtual(false);
        clock.restart();
        sleeps.clear();
        applyRecording(Recording{});
    }
    for (const auto& step : powerOnSteps) step(*this);
    // The configuration the board started with is part of its power-on state. Its problems were
    // reported when it was first applied.
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> hold(lock);
        lines = startupConfig;
    }
    for (const std::string& line : lines) applyLineTo(*this, line);
}

void Board::addDirective(Directive directive) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string name = directive.name;
    if (!directives.emplace(name, std::move(directive)).second) {
        std::fprintf(stderr, "vboard: the directive '%s' is registered twice\n", name.c_str());
        std::abort();
    }
}

namespace {
// Set once the board is built and started: every platform call asks for the board, so the
// common path is one load.
std::atomic<Board*> startedBoard{nullptr};

Board& buildBoard() {
    // Never destroyed: the library and its callers may still reach the board from their own
    // static destructors. Starting it (the environment, VBOARD_CONFIG) happens once it is built,
    // so a directive that reaches the board finds it whole; calls made by the thread that is
    // starting it see it as it is.
    static Board* instance = new Board();
    static std::once_flag started;
    static thread_local bool startingHere = false;
    if (startingHere) return *instance;
    std::call_once(started, [] {
        startingHere = true;
        instance->start();
        startingHere = false;
        startedBoard.store(instance, std::memory_order_release);
    });
    return *instance;
}

// A strict board ends the process on a configuration problem before the program has done
// anything: it is built as the library loads (before main, for a program linked with it), not
// at the program's first call. So is a board with a configuration file, which may itself say
// `strict`. Without either, the board is built at its first use.
__attribute__((constructor)) void buildConfiguredBoardAtLoad() {
    const char* strict = std::getenv("VBOARD_STRICT");
    const char* config = std::getenv("VBOARD_CONFIG");
    if ((strict != nullptr && std::strcmp(strict, "1") == 0) || (config != nullptr && *config != 0))
        board();
}
}  // namespace

Board& board() {
    if (Board* b = startedBoard.load(std::memory_order_acquire)) return *b;
    return buildBoard();
}

size_t Board::keepLimit() const {
    switch (recordingSetting.mode) {
        case RecordMode::Off: return 0;
        case RecordMode::All: return std::numeric_limits<size_t>::max();
        default: return recordingSetting.limit;
    }
}

// Misuses are faults in the caller: they are kept whatever the recording, in a bounded window.
size_t Board::misuseLimit() const {
    if (recordingSetting.mode == RecordMode::All) return std::numeric_limits<size_t>::max();
    if (recordingSetting.mode == RecordMode::Last && recordingSetting.limit > 0)
        return recordingSetting.limit;
    return kDefaultRecordLimit;
}

void Board::applyRecording(const Recording& r) {
    recordingSetting = r;
    if (r.mode == RecordMode::Last && r.limit == 0) recordingSetting.mode = RecordMode::Off;
    keeping.store(recordingSetting.mode != RecordMode::Off, std::memory_order_relaxed);
    const size_t limit = keepLimit();
    trace.trim(limit);
    debug.trim(limit);
    opens.trim(limit);
    sleeps.trim(limit);
    misuses.trim(misuseLimit());
}

// Handle values are 0x1000 + 4n for the nth handle of the process.
namespace {
constexpr uintptr_t kFirstHandle = 0x1000;
bool handleNumber(HANDLE handle, uint64_t& number) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value <= kFirstHandle || (value - kFirstHandle) % 4 != 0) return false;
    number = (value - kFirstHandle) / 4;
    return true;
}
}  // namespace

HANDLE Board::addHandle(std::shared_ptr<KernelObject> object) {
    ++handleCount;
    const uintptr_t value = kFirstHandle + 4 * static_cast<uintptr_t>(handleCount);
    handles.emplace(value, HandleSlot{std::move(object), handleCount});
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> Board::takeHandle(HANDLE handle) {
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end()) return nullptr;
    auto object = std::move(it->second.object);
    handles.erase(it);
    return object;
}

Board::HandleState Board::handleState(HANDLE handle) const {
    if (handle == INVALID_HANDLE_VALUE) return HandleState::Invalid;
    if (handle == nullptr) return HandleState::Null;
    if (handles.count(reinterpret_cast<uintptr_t>(handle))) return HandleState::Open;
    uint64_t number = 0;
    if (handleNumber(handle, number) && number <= handleCount) return HandleState::Closed;
    return HandleState::Foreign;
}

std::string Board::handleName(HANDLE handle) const {
    if (handleState(handle) == HandleState::Foreign) return "foreign " + handleLabel(handle);
    return handleLabel(handle);
}

void Board::addMisuse(std::string text) { misuses.push(std::move(text), misuseLimit()); }

std::string handleLabel(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
    if (handle == nullptr) return "null";
    uint64_t number = 0;
    if (handleNumber(handle, number)) {
        const uint64_t base = board().handleBase.load(std::memory_order_relaxed);
        if (number > base) return "h" + std::to_string(number - base);
        return "stale h" + std::to_string(number);
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

void Board::append(TraceEntry&& entry) {
    entry.seq = nextSeq++;
    const size_t limit = keepLimit();
    if (limit == 0)
        trace.count();
    else
        trace.push(std::move(entry), limit);
}

std::optional<DWORD> Board::matchFault(const TraceEntry& call) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const Fault& f = it->fault;
        if (!f.function.empty() && f.function != call.function) continue;
        if (!f.device.empty() && fold(f.device) != fold(call.device)) continue;
        if (f.code && *f.code != call.code) continue;
        ++it->seen;
        if (f.occurrence == 0) return f.error;
        if (it->seen == f.occurrence) {
            DWORD error = f.error;
            faults.erase(it);  // a one-shot fault has done its work
            armedFaults.store(faults.size(), std::memory_order_relaxed);
            return error;
        }
    }
    return std::nullopt;
}

int Board::addFault(const Fault& fault) {
    faults.push_back({nextFaultId, fault, 0});
    armedFaults.store(faults.size(), std::memory_order_relaxed);
    return nextFaultId++;
}

RegValue dwordValue(DWORD value) {
    RegValue v;
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return v;
}

std::string quote(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    out += '"';
    for (unsigned char c : text) {
        if (c >= 0x20 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (c < 0x20) {
                    static const char digits[] = "0123456789ABCDEF";
                    out += "\\x";
                    out += digits[c >> 4];
                    out += digits[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// ---- Control API: drivers ----

void addDriver(const std::string& device, std::shared_ptr<StreamDriver> driver) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.drivers[fold(device)] = std::move(driver);
}

void removeDriver(const std::string& device) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.drivers.erase(fold(device));
}

std::shared_ptr<StreamDriver> driver(const std::string& device) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto it = b.drivers.find(fold(device));
    return it == b.drivers.end() ? nullptr : it->second;
}

std::vector<std::string> devices() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::vector<std::string> names;
    for (const auto& d : b.drivers) names.push_back(d.first);
    return names;
}

std::vector<OpenRecord> opens() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.opens.items();
}

// ---- Control API: the board as a whole, and what it records ----

void reset() {
    board().powerOn();
    // The calling thread starts from a clean last error too, as a new process would.
    setLastErrorValue(ERROR_SUCCESS);
}

void setRecording(const Recording& recording) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.applyRecording(recording);
}

namespace {
// Runs `read` on the board with its lock held: the shape of every control-API getter.
template <class Read>
auto locked(Read read) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return read(b);
}
}  // namespace

Recording recording() { return locked([](Board& b) { return b.recordingSetting; }); }
Tally traceTally() { return locked([](Board& b) { return b.trace.tally(); }); }
Tally debugTally() { return locked([](Board& b) { return b.debug.tally(); }); }
Tally opensTally() { return locked([](Board& b) { return b.opens.tally(); }); }
Tally sleepsTally() { return locked([](Board& b) { return b.sleeps.tally(); }); }
Tally misuseTally() { return locked([](Board& b) { return b.misuses.tally(); }); }

// ---- Control API: handles ----

std::vector<HandleInfo> openHandles() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::vector<HandleInfo> out;
    for (const auto& h : b.handles)
        out.push_back({reinterpret_cast<HANDLE>(h.first), h.second.object->kind(),
                       h.second.object->name});
    // In the order they were handed out.
    std::sort(out.begin(), out.end(), [](const HandleInfo& x, const HandleInfo& y) {
        return reinterpret_cast<uintptr_t>(x.value) < reinterpret_cast<uintptr_t>(y.value);
    });
    return out;
}

size_t openDriverHandles(const std::string& device) {
    size_t count = 0;
    for (const HandleInfo& h : openHandles())
        if (h.kind == "driver" && (device.empty() || fold(h.name) == fold(device))) ++count;
    return count;
}

std::vector<std::string> misuses() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.misuses.items();
}

void clearMisuses() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.misuses.clear();
}

size_t invalidHandleCalls() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.invalidHandleCalls;
}

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

// ---- Control API: debug output ----

std::vector<std::string> debugLines() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.debug.items();
}

std::string debugText() {
    std::string text;
    for (const std::string& line : debugLines()) text += line;
    return text;
}

void clearDebug() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.debug.clear();
}

bool echoDebugTo(const std::string& target) { return board().debugEcho.open(target); }

// ---- Control API: trace ----

std::vector<TraceEntry> trace() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.trace.items();
}

std::vector<std::string> traceLines() {
    std::vector<std::string> lines;
    for (const TraceEntry& e : trace()) lines.push_back(renderTrace(e));
    return lines;
}

bool isDriverCall(const std::string& function) {
    return function == "DeviceIoControl" || function == "CreateFileW" || function == "CloseHandle";
}

std::vector<std::string> driverTraceLines() {
    std::vector<std::string> lines;
    for (const TraceEntry& e : trace())
        if (isDriverCall(e.function)) lines.push_back(renderTrace(e));
    return lines;
}

void clearTrace() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.trace.clear();
    b.nextSeq = 1;
}

bool echoTraceTo(const std::string& target) {
    board().traceEchoDriversOnly = false;
    return board().traceEcho.open(target);
}

bool echoDriverTraceTo(const std::string& target) {
    board().traceEchoDriversOnly = true;
    return board().traceEcho.open(target);
}

// ---- Control API: faults ----

int armFault(const Fault& fault) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.addFault(fault);
}

bool disarmFault(int id) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    const size_t before = b.faults.size();
    b.faults.erase(std::remove_if(b.faults.begin(), b.faults.end(),
                                  [id](const Board::ArmedFault& f) { return f.id == id; }),
                   b.faults.end());
    b.armedFaults.store(b.faults.size(), std::memory_order_relaxed);
    return b.faults.size() != before;
}

void clearFaults() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.faults.clear();
    b.armedFaults.store(0, std::memory_order_relaxed);
}

// ---- Control API: registry ----

bool setRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const Bytes& data) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (!valueProblem(name, data.size()).empty()) return false;
    auto key = Registry::create(b.registry.root(root), path);
    return key && Registry::setValue(*key, name, RegValue{type, data});
}

bool setRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    return setRegistryValue(root, path, name, REG_DWORD, dwordValue(value).data);
}

bool setRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& utf8) {
    return setRegistryValue(root, path, name, REG_SZ, utf16Bytes(utf8));
}

Bytes utf16Bytes(const std::string& utf8) {
    Bytes data;
    auto put = [&data](uint32_t unit) {
        data.push_back(static_cast<uint8_t>(unit));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (wchar_t c : fromUtf8(utf8)) {
        uint32_t code = static_cast<uint32_t>(c);
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 | (code >> 10));
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
    put(0);
    return data;
}

std::optional<RegValue> registryValue(HKEY root, const std::string& path, const std::string& name) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto key = Registry::find(b.registry.root(root), path);
    if (!key) return std::nullopt;
    return Registry::value(*key, name);
}

void deleteRegistryValue(HKEY root, const std::string& path, const std::string& name) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (auto key = Registry::find(b.registry.root(root), path)) Registry::removeValue(*key, name);
}

bool createRegistryKey(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return Registry::create(b.registry.root(root), path) != nullptr;
}

void deleteRegistryKey(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (auto top = b.registry.root(root)) Registry::remove(top, path);
}

bool registryKeyExists(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return Registry::find(b.registry.root(root), path) != nullptr;
}

// ---- Control API: time and pauses ----

void setSystemTime(const SYSTEMTIME& time) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.fixedTime = true;
    b.time = time;
}

void useHostClock() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.fixedTime = false;
}

void setVirtualSleep(bool on) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.virtualSleep = on;
    b.clock.setVirtual(on);
}

uint64_t clockNanoseconds() { return board().clock.read().nanoseconds; }

void advanceClock(uint64_t nanoseconds) { board().clock.advance(nanoseconds); }

std::vector<DWORD> sleeps() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.sleeps.items();
}

}  // namespace vboard
