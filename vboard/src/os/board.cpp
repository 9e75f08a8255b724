// The board: its power-on, the handle table, the drivers and what it records, and their side of
// the control API. The clock, faults, events, debug output, trace and registry have files of
// their own beside it.
#include "os/board.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "os/system_install.h"
#include "os/live_hold.h"
#include "os/text.h"

namespace vboard {

void setLastErrorValue(DWORD error);

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

// ---- Board ----

Board::Board() {
    Host host(*this);
    installConfiguration(host);
    installFamilies(host);
    installSystem(*this);
    powerOn();
}

void Board::start() {
    for (const auto& step : startSteps) step();
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
    Host host(*this);
    for (const auto& step : powerOnSteps) step(host);
    for (const auto& step : resetSteps) step();
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
// `strict`, and a board that listens, so that its socket is there before the program waits for
// anybody. Without any of them, the board is built at its first use.
__attribute__((constructor)) void buildConfiguredBoardAtLoad() {
    const char* strict = std::getenv("VBOARD_STRICT");
    const char* config = std::getenv("VBOARD_CONFIG");
    const char* listen = std::getenv("VBOARD_LISTEN");
    if ((strict != nullptr && std::strcmp(strict, "1") == 0) || (config != nullptr && *config != 0) ||
        (listen != nullptr && *listen != 0)) {
        board();
        liveHoldAtStart();
    }
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
    handles.emplace(value, HandleEntry{std::move(object), handleCount});
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
    record(trace, std::move(entry));
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

bool takeDriver(const std::string& device) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.drivers.erase(fold(device)) != 0;
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

// ---- Control API: the directive table ----

std::optional<Directive> findDirective(const std::string& name) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto it = b.directives.find(name);
    if (it == b.directives.end()) return std::nullopt;
    return it->second;
}

bool addConfigDirective(const Directive& directive) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.directives.emplace(directive.name, directive).second;
}

std::vector<Directive> configDirectives() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::vector<Directive> out;
    for (const auto& d : b.directives) out.push_back(d.second);
    return out;
}

}  // namespace vboard
