// The board's shared state and the control API over it.
#include "board.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "config.h"
#include "families.h"
#include "text.h"

namespace vboard {

DWORD StreamDriver::open(uint64_t, const OpenParams&) { return ERROR_SUCCESS; }
void StreamDriver::close(uint64_t) {}

// ---- Sinks ----

Sink::~Sink() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool Sink::open(const std::string& target) {
    if (owned_ && file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    owned_ = false;
    if (target.empty()) return true;
    if (target == "stdout") {
        file_ = stdout;
    } else if (target == "stderr") {
        file_ = stderr;
    } else {
        file_ = std::fopen(target.c_str(), "ab");
        owned_ = file_ != nullptr;
    }
    return file_ != nullptr;
}

void Sink::write(const std::string& text) {
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

// ---- Board ----

Board::Board() {
    auto ident = Registry::create(registry.root(HKEY_LOCAL_MACHINE), "Ident");
    Registry::setValue(*ident, "BSPVersionNumber", dwordValue(kDefaultBspVersion));
    Registry::setValue(*ident, "ImageVersionNumber", dwordValue(kDefaultImageVersion));
    installFamilies(*this);
    if (const char* target = std::getenv("VBOARD_DEBUG")) debugEcho.open(target);
    if (const char* target = std::getenv("VBOARD_TRACE")) traceEcho.open(target);
    if (const char* path = std::getenv("VBOARD_CONFIG")) {
        for (const std::string& problem : loadConfigInto(*this, path))
            std::fprintf(stderr, "vboard: %s\n", problem.c_str());
    }
}

Board& board() {
    // Never destroyed: the library and its callers may still reach the board from their own
    // static destructors.
    static Board* instance = new Board();
    return *instance;
}

HANDLE Board::addHandle(std::shared_ptr<KernelObject> object) {
    ++handleCount;
    uintptr_t value = 0x1000 + 4 * static_cast<uintptr_t>(handleCount);
    std::string kind = object->kind();
    std::string name = object->name;
    handles[value] = HandleSlot{std::move(object), true, handleCount, kind, name};
    return reinterpret_cast<HANDLE>(value);
}

void Board::closeHandle(HANDLE handle) {
    HandleSlot& slot = handles[reinterpret_cast<uintptr_t>(handle)];
    slot.open = false;
    slot.object.reset();
}

std::string Board::handleName(HANDLE handle) const {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr &&
        handles.count(reinterpret_cast<uintptr_t>(handle)) == 0)
        return "foreign " + handleLabel(handle);
    return handleLabel(handle);
}

// Handle values are 0x1000 + 4n for the nth handle, so a label needs no look-up. A value far
// beyond what a process hands out is shown raw.
constexpr uintptr_t kMaxLabelledHandles = 1u << 24;

std::string handleLabel(HANDLE handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (handle == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
    if (handle == nullptr) return "null";
    if (value > 0x1000 && value < 0x1000 + 4 * kMaxLabelledHandles && (value - 0x1000) % 4 == 0)
        return "h" + std::to_string((value - 0x1000) / 4);
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

void Board::append(TraceEntry entry) {
    entry.seq = nextSeq++;
    if (traceEcho.active()) traceEcho.write(renderTrace(entry) + "\n");
    trace.push_back(std::move(entry));
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
            return error;
        }
    }
    return std::nullopt;
}

RegValue dwordValue(DWORD value) {
    RegValue v;
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return v;
}

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
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
    return out + "\"";
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
    return b.opens;
}

// ---- Control API: handles ----

std::vector<HandleInfo> openHandles() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::vector<HandleInfo> out;
    for (const auto& h : b.handles) {
        if (!h.second.open) continue;
        out.push_back({reinterpret_cast<HANDLE>(h.first), h.second.kind, h.second.name});
    }
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
    return b.misuses;
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
    if (it == b.handles.end() || !it->second.open) return nullptr;
    return std::dynamic_pointer_cast<EventObject>(it->second.object);
}
}  // namespace

bool signalEvent(HANDLE event) {
    auto e = findEvent(event);
    if (!e) return false;
    e->modify(EVENT_SET);
    return true;
}

std::optional<bool> eventSignaled(HANDLE event) {
    auto e = findEvent(event);
    if (!e) return std::nullopt;
    std::lock_guard<std::mutex> hold(e->lock);
    return e->signaled;
}

// ---- Control API: debug output ----

std::vector<std::string> debugLines() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.debug;
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

bool echoDebugTo(const std::string& target) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.debugEcho.open(target);
}

// ---- Control API: trace ----

std::vector<TraceEntry> trace() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.trace;
}

std::vector<std::string> traceLines() {
    std::vector<std::string> lines;
    for (const TraceEntry& e : trace()) lines.push_back(renderTrace(e));
    return lines;
}

std::vector<std::string> driverTraceLines() {
    std::vector<std::string> lines;
    for (const TraceEntry& e : trace()) {
        if (e.function == "DeviceIoControl" || e.function == "CreateFileW" ||
            e.function == "CloseHandle")
            lines.push_back(renderTrace(e));
    }
    return lines;
}

void clearTrace() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.trace.clear();
}

bool echoTraceTo(const std::string& target) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.traceEcho.open(target);
}

void addDecoder(Decoder decoder) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.decoderLock);
    b.decoders.push_back(std::move(decoder));
}

// ---- Control API: faults ----

int armFault(const Fault& fault) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.faults.push_back({b.nextFaultId, fault, 0});
    return b.nextFaultId++;
}

void disarmFault(int id) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.faults.erase(std::remove_if(b.faults.begin(), b.faults.end(),
                                  [id](const Board::ArmedFault& f) { return f.id == id; }),
                   b.faults.end());
}

void clearFaults() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.faults.clear();
}

// ---- Control API: registry ----

void setRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const Bytes& data) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto top = b.registry.root(root);
    if (!top) return;
    Registry::setValue(*Registry::create(top, path), name, RegValue{type, data});
}

void setRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    setRegistryValue(root, path, name, REG_DWORD, dwordValue(value).data);
}

void setRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& utf8) {
    setRegistryValue(root, path, name, REG_SZ, utf16Bytes(utf8));
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

void createRegistryKey(HKEY root, const std::string& path) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (auto top = b.registry.root(root)) Registry::create(top, path);
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
}

std::vector<DWORD> sleeps() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.sleeps;
}

}  // namespace vboard
