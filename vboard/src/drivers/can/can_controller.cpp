// The CAN controller behind "CAN1:": the driver's nine requests, the bus's other nodes, the
// candump log and the frames' text.
#include "drivers/can/can_controller.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <ctime>

#include "os/text.h"

namespace vboard {
namespace {

static_assert(sizeof(CanTimingRecord) == 12, "baseclock, prescaler, three segments, aux, 2 bytes");
static_assert(sizeof(CanFilterRecord) == 32, "eight words");
static_assert(sizeof(void*) != 4 || sizeof(CanMessageRecord) == 40, "the module's message record");
static_assert(sizeof(void*) != 4 || sizeof(CanTransferRequest) == 8, "message, count");

constexpr uint32_t kStandardIdLimit = 0x7FF;
constexpr uint32_t kExtendedIdLimit = 0x1FFFFFFF;
constexpr size_t kClassicDataBytes = 8;

// The driver takes a record only when the buffer is exactly its size.
template <class Record>
bool readRecord(const uint8_t* buffer, DWORD size, Record& record) {
    if (buffer == nullptr || size != sizeof(Record)) return false;
    std::memcpy(&record, buffer, sizeof record);
    return true;
}

// The fields a receive writes back into the caller's record, one by one: the rest of the
// record is the caller's.
template <class Field>
void writeField(CanMessageRecord* record, size_t offset, Field value) {
    std::memcpy(reinterpret_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

bool validIdentifier(uint32_t id, bool extended) {
    return id <= (extended ? kExtendedIdLimit : kStandardIdLimit);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The time of the bus as the candump log gives it: the board's clock (fixed or the host's).
std::string busTime() {
    const std::optional<SYSTEMTIME> fixed = fixedSystemTime();
    long long seconds;
    long long micros;
    if (fixed) {
        const SYSTEMTIME& time = *fixed;
        std::tm utc{};
        utc.tm_year = time.wYear - 1900;
        utc.tm_mon = time.wMonth - 1;
        utc.tm_mday = time.wDay;
        utc.tm_hour = time.wHour;
        utc.tm_min = time.wMinute;
        utc.tm_sec = time.wSecond;
        seconds = static_cast<long long>(timegm(&utc));
        micros = static_cast<long long>(time.wMilliseconds) * 1000;
    } else {
        const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        seconds = now.count() / 1000000;
        micros = now.count() % 1000000;
    }
    char text[48];
    std::snprintf(text, sizeof text, "(%010lld.%06lld)", seconds, micros);
    return text;
}

// A frame as the trace and the log show it.
std::string frameText(const CanFrame& frame) {
    return formatCanFrame(frame) + (frame.extended ? " (ext)" : "");
}

}  // namespace

// ---- Frames ----

std::optional<CanFrame> parseCanFrame(const std::string& text) {
    const size_t hash = text.find('#');
    if (hash == std::string::npos || (hash != 3 && hash != 8)) return std::nullopt;
    CanFrame frame;
    frame.extended = hash == 8;
    for (size_t i = 0; i < hash; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) return std::nullopt;
        frame.id = (frame.id << 4) | static_cast<uint32_t>(digit);
    }
    if (!validIdentifier(frame.id, frame.extended)) return std::nullopt;
    const std::string body = text.substr(hash + 1);
    if (!body.empty() && (body[0] == 'R' || body[0] == 'r')) {
        frame.remote = true;
        if (body.size() == 1) return frame;
        if (body.size() != 2 || body[1] < '0' || body[1] > '8') return std::nullopt;
        frame.remoteLength = static_cast<uint8_t>(body[1] - '0');
        return frame;
    }
    for (size_t i = 0; i < body.size();) {
        // Dots may separate the bytes, never split one.
        if (body[i] == '.' && i > 0 && i + 1 < body.size() && body[i + 1] != '.') {
            ++i;
            continue;
        }
        if (i + 1 >= body.size()) return std::nullopt;
        const int high = hexDigit(body[i]);
        const int low = hexDigit(body[i + 1]);
        if (high < 0 || low < 0 || frame.data.size() == kClassicDataBytes) return std::nullopt;
        frame.data.push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
    }
    return frame;
}

std::string formatCanFrame(const CanFrame& frame) {
    char text[32];
    std::snprintf(text, sizeof text, frame.extended ? "%08X#" : "%03X#", frame.id);
    std::string out = text;
    if (frame.remote) {
        out += 'R';
        if (frame.remoteLength > 0) out += std::to_string(frame.remoteLength);
        return out;
    }
    for (uint8_t byte : frame.data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        out += text;
    }
    return out;
}

uint32_t CanTiming::bitrate() const {
    const uint64_t quanta = 1u + propseg + phase1seg + phase2seg;
    if (prescaler == 0) return 0;
    return static_cast<uint32_t>(baseclock / (prescaler * quanta));
}

// ---- Bus side ----

DWORD CanController::ioControl(IoRequest& request) {
    switch (request.code) {
        case kCanTransfer: return transfer(request);
        case kCanGetTiming: return getTiming(request);
        case kCanSetTiming: return setTimingRequest(request);
        case kCanAddFilter: return addFilter(request);
        case kCanRemoveFilter: return removeFilter(request);
        case kCanTlprioOn:
        case kCanTlprioOff: {
            std::lock_guard<std::mutex> hold(lock_);
            tlprio_ = request.code == kCanTlprioOn;
            return ERROR_SUCCESS;
        }
        case kCanLoopbackOn:
        case kCanLoopbackOff: {
            std::lock_guard<std::mutex> hold(lock_);
            loopback_ = request.code == kCanLoopbackOn;
            return ERROR_SUCCESS;
        }
        default: return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    }
}

DWORD CanController::getTiming(IoRequest& request) {
    if (request.out == nullptr || request.outSize < sizeof(CanTimingRecord))
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    CanTimingRecord record = {};
    {
        std::lock_guard<std::mutex> hold(lock_);
        record.baseclock = timing_.baseclock;
        record.prescaler = timing_.prescaler;
        record.propseg = timing_.propseg;
        record.phase1seg = timing_.phase1seg;
        record.phase2seg = timing_.phase2seg;
        record.auxTiming = timing_.auxTiming;
    }
    std::memcpy(request.out, &record, sizeof record);
    request.bytesReturned = sizeof record;
    return ERROR_SUCCESS;
}

DWORD CanController::setTimingRequest(const IoRequest& request) {
    CanTimingRecord record;
    // The controller's limits: an 8-bit prescaler divider and 3-bit segment fields; phase
    // segment 2 must leave room for the sample point.
    if (!readRecord(request.in, request.inSize, record) || record.prescaler < 1 ||
        record.prescaler > 256 || record.propseg < 1 || record.propseg > 8 ||
        record.phase1seg < 1 || record.phase1seg > 8 || record.phase2seg < 2 ||
        record.phase2seg > 8)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> hold(lock_);
    // The base clock is the controller's own; the record's field is not read.
    timing_.prescaler = record.prescaler;
    timing_.propseg = record.propseg;
    timing_.phase1seg = record.phase1seg;
    timing_.phase2seg = record.phase2seg;
    timing_.auxTiming = record.auxTiming;
    return ERROR_SUCCESS;
}

DWORD CanController::addFilter(IoRequest& request) {
    CanFilterRecord record;
    if (!readRecord(request.in, request.inSize, record) || request.out == nullptr ||
        request.outSize < sizeof(uint32_t))
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    uint32_t handle;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (filters_.size() >= kCanMaxFilters) return static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
        handle = nextFilterHandle_++;
        filters_.emplace_back(request.instance,
                              CanFilter{handle, record.filterId, record.filterMask,
                                        record.filterFlag, record.filterSet, record.filterOption});
    }
    std::memcpy(request.out, &handle, sizeof handle);
    request.bytesReturned = sizeof handle;
    return ERROR_SUCCESS;
}

DWORD CanController::removeFilter(const IoRequest& request) {
    uint32_t handle;
    if (!readRecord(request.in, request.inSize, handle))
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> hold(lock_);
    // Only the open that added a filter can take it back; a handle already taken back is unknown.
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
        if (it->second.handle == handle && it->first == request.instance) {
            filters_.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
}

DWORD CanController::transfer(IoRequest& request) {
    CanTransferRequest transfer;
    if (!readRecord(request.in, request.inSize, transfer) || transfer.message == nullptr ||
        transfer.count != 1)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    CanMessageRecord record;
    std::memcpy(&record, transfer.message, sizeof record);
    if (record.status == nullptr || record.transmitFlag > 1)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    return record.transmitFlag == 1 ? send(record, request)
                                    : receive(record, transfer.message, request);
}

DWORD CanController::send(CanMessageRecord& record, IoRequest& request) {
    CanFrame frame;
    frame.id = record.messageId;
    frame.extended = record.extendedId != 0;
    frame.remote = record.frameFlag != 0;
    const size_t length = record.dataLength;
    bool valid = validIdentifier(frame.id, frame.extended) && length <= kClassicDataBytes;
    if (valid && frame.remote) {
        frame.remoteLength = static_cast<uint8_t>(length);
    } else if (valid && length > 0) {
        valid = record.data != nullptr;
        if (valid) frame.data.assign(record.data, record.data + length);
    }
    const uint32_t status = valid ? kCanStatusOk : kCanStatusBadFrame;
    if (valid) {
        const std::string stamp = busTime();
        std::lock_guard<std::mutex> hold(lock_);
        putOnBusLocked(frame, stamp, true, loopback_);
    }
    std::memcpy(record.status, &status, sizeof status);
    if (request.traced) {
        request.note("TX " +
                         (valid ? frameText(frame)
                                : "bad frame id " + hex(frame.id) +
                                      (frame.extended ? " (ext)" : "") + " length " +
                                      std::to_string(length)) +
                         " status " + std::to_string(status));
    }
    return ERROR_SUCCESS;
}

DWORD CanController::receive(const CanMessageRecord& record, CanMessageRecord* target,
                             IoRequest& request) {
    const size_t capacity = record.data != nullptr ? record.dataLength : 0;
    CanFrame frame;
    uint32_t status = kCanStatusOk;
    {
        std::unique_lock<std::mutex> hold(lock_);
        auto ready = [&] { return !queue_.empty() || closing_.count(request.instance) > 0; };
        if (!ready() && receiveWait_ > 0) {
            ++waiting_;
            arrived_.wait_for(hold, std::chrono::milliseconds(receiveWait_), ready);
            --waiting_;
        }
        // The handle is being closed: the waiting receive is abandoned.
        if (closing_.count(request.instance) > 0) return static_cast<DWORD>(ERROR_INVALID_HANDLE);
        if (queue_.empty()) {
            status = kCanStatusNoMessage;
        } else {
            frame = queue_.front();
            const size_t needed = frame.remote ? 0 : frame.data.size();
            if (needed > capacity) {
                // Nothing is lost: the frame waits for a receive with room for it.
                status = kCanStatusBufferTooSmall;
                writeField(target, offsetof(CanMessageRecord, dataLength),
                           static_cast<uint16_t>(needed));
            } else {
                queue_.pop_front();
            }
        }
    }
    if (status == kCanStatusOk) {
        if (!frame.data.empty()) std::memcpy(record.data, frame.data.data(), frame.data.size());
        writeField(target, offsetof(CanMessageRecord, extendedId),
                   static_cast<uint32_t>(frame.extended ? 1 : 0));
        writeField(target, offsetof(CanMessageRecord, frameFlag),
                   static_cast<uint32_t>(frame.remote ? 1 : 0));
        writeField(target, offsetof(CanMessageRecord, messageId), frame.id);
        writeField(target, offsetof(CanMessageRecord, dataLength),
                   static_cast<uint16_t>(frame.remote ? frame.remoteLength : frame.data.size()));
    }
    std::memcpy(record.status, &status, sizeof status);
    if (request.traced) {
        request.note("RX " +
                         (status == kCanStatusOk              ? frameText(frame)
                          : status == kCanStatusNoMessage     ? std::string("none")
                                                              : frameText(frame) + " too long") +
                         " status " + std::to_string(status));
    }
    return ERROR_SUCCESS;
}

void CanController::preClose(uint64_t instance) {
    std::lock_guard<std::mutex> hold(lock_);
    closing_.insert(instance);
    arrived_.notify_all();
}

void CanController::close(uint64_t instance) {
    std::lock_guard<std::mutex> hold(lock_);
    closing_.erase(instance);
    for (auto it = filters_.begin(); it != filters_.end();)
        it = it->first == instance ? filters_.erase(it) : it + 1;
}

bool CanController::acceptsLocked(const CanFrame& frame) const {
    if (filters_.empty()) return true;
    for (const auto& entry : filters_) {
        const CanFilter& f = entry.second;
        if (f.filterSet != 0 && (frame.id & f.filterMask) == (f.filterId & f.filterMask))
            return true;
    }
    return false;
}

namespace {

// A frame as the board's watchers see it: "tx" the controller sent it, "rx" it arrived at the
// controller (`accepted`: its filters took it into the receive queue).
LiveEvent liveFrame(const CanFrame& frame, const char* direction, bool accepted) {
    static const char kDigits[] = "0123456789abcdef";
    std::string data;
    for (uint8_t byte : frame.data) {
        data += kDigits[byte >> 4];
        data += kDigits[byte & 15];
    }
    const std::string text = formatCanFrame(frame);
    LiveEvent event;
    event.kind = LiveKind::Can;
    event.fields = {{"dir", direction},
                    {"id", text.substr(0, text.find('#'))},
                    {"extended", frame.extended ? "true" : "false", LiveField::Flag},
                    {"rtr", frame.remote ? "true" : "false", LiveField::Flag},
                    {"data", data},
                    {"accepted", accepted ? "true" : "false", LiveField::Flag}};
    if (frame.remote) event.fields.push_back({"length", std::to_string(frame.remoteLength), LiveField::Number});
    return event;
}

}  // namespace

bool CanController::putOnBusLocked(const CanFrame& frame, const std::string& stamp,
                                   bool fromBoard, bool toQueue) {
    if (log_ != nullptr) {
        const std::string line = stamp + " can1 " + formatCanFrame(frame) + "\n";
        std::fwrite(line.data(), 1, line.size(), log_);
        std::fflush(log_);
    }
    bool queued = false;
    if (toQueue && acceptsLocked(frame)) {
        if (queue_.size() < kCanReceiveQueueDepth) {
            queue_.push_back(frame);
            queued = true;
            arrived_.notify_all();
        } else {
            ++overruns_;
        }
    }
    traffic_.push(CanBusFrame{frame, fromBoard, queued}, kDefaultRecordLimit);
    if (liveWatched(LiveKind::Can)) {
        if (fromBoard) publishLive(liveFrame(frame, "tx", true));
        if (toQueue) publishLive(liveFrame(frame, "rx", queued));
    }
    return queued;
}

// ---- Control side ----

bool CanController::inject(const CanFrame& frame) {
    if (!validIdentifier(frame.id, frame.extended) || frame.data.size() > kClassicDataBytes ||
        frame.remoteLength > kClassicDataBytes)
        return false;
    const std::string stamp = busTime();
    std::lock_guard<std::mutex> hold(lock_);
    return putOnBusLocked(frame, stamp, false, true);
}

std::vector<CanBusFrame> CanController::traffic() const {
    std::lock_guard<std::mutex> hold(lock_);
    return traffic_.items();
}

std::vector<CanFrame> CanController::sent() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<CanFrame> frames;
    for (const CanBusFrame& entry : traffic_.view())
        if (entry.fromBoard) frames.push_back(entry.frame);
    return frames;
}

size_t CanController::pending() const {
    std::lock_guard<std::mutex> hold(lock_);
    return queue_.size();
}

uint64_t CanController::overruns() const {
    std::lock_guard<std::mutex> hold(lock_);
    return overruns_;
}

size_t CanController::waitingReceives() const {
    std::lock_guard<std::mutex> hold(lock_);
    return waiting_;
}

CanTiming CanController::timing() const {
    std::lock_guard<std::mutex> hold(lock_);
    return timing_;
}

void CanController::setBaseClock(uint32_t baseclock) {
    std::lock_guard<std::mutex> hold(lock_);
    timing_.baseclock = baseclock;
}

void CanController::setTiming(const CanTiming& timing) {
    std::lock_guard<std::mutex> hold(lock_);
    timing_ = timing;
}

bool CanController::tlprio() const {
    std::lock_guard<std::mutex> hold(lock_);
    return tlprio_;
}

bool CanController::loopback() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loopback_;
}

std::vector<CanFilter> CanController::filters() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<CanFilter> out;
    for (const auto& entry : filters_) out.push_back(entry.second);
    return out;
}

void CanController::setReceiveWait(DWORD milliseconds) {
    std::lock_guard<std::mutex> hold(lock_);
    receiveWait_ = milliseconds < kCanMaxReceiveWait ? milliseconds : kCanMaxReceiveWait;
}

bool CanController::logTo(const std::string& path) {
    std::FILE* file = nullptr;
    if (!path.empty()) {
        file = std::fopen(path.c_str(), "ab");
        if (file == nullptr) return false;
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (log_ != nullptr) std::fclose(log_);
    log_ = file;
    return true;
}

void CanController::reset() {
    logTo("");
    std::lock_guard<std::mutex> hold(lock_);
    timing_ = CanTiming{};
    tlprio_ = false;
    loopback_ = false;
    filters_.clear();
    queue_.clear();
    overruns_ = 0;
    receiveWait_ = 0;
    traffic_.clear();
}

void CanController::powerOn() {
    reset();
    std::lock_guard<std::mutex> hold(lock_);
    nextFilterHandle_ = 1;
}

}  // namespace vboard
