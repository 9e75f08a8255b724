// The serial ports behind "COM1:" and "COM2:": the CE serial driver's requests (as coredll makes
// them from the serial calls), reads that honour the port's time-outs, writes that go where the
// port is wired, events, and the ports' control side.
#include "drivers/uart/serial_ports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "os/text.h"
#include "drivers/uart/pty_link.h"
#include "os/serial_requests.h"

namespace vboard {
namespace {

// The furthest a read's deadline lies. MAXDWORD milliseconds a byte over a long read comes to
// more nanoseconds than the clock counts (and a 32-bit time_t holds seconds of): a deadline
// saturates at ten years, which is waiting for as long as it takes.
constexpr std::chrono::milliseconds kFurthestDeadline = std::chrono::hours(24 * 3653);

std::chrono::steady_clock::time_point deadlineAfter(std::chrono::steady_clock::time_point from,
                                                    uint64_t milliseconds) {
    const auto wait = milliseconds < static_cast<uint64_t>(kFurthestDeadline.count())
                          ? std::chrono::milliseconds(milliseconds)
                          : kFurthestDeadline;
    return from + wait;
}

// A second open for reading and writing while one exists: the CE serial driver's answer.
constexpr DWORD kErrorInvalidAccess = 12;
constexpr DWORD kMaxDword = 0xFFFFFFFF;
constexpr DWORD kAllPurges = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kEvRxChar = EV_RXCHAR;
constexpr DWORD kEvTxEmpty = EV_TXEMPTY;
constexpr DWORD kEvErr = EV_ERR;

// What the port's driver reports before anybody configures it.
DCB powerOnDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 512;
    dcb.XoffLim = 128;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

template <class Record>
bool takeIn(const IoRequest& request, Record& record) {
    if (request.in == nullptr || request.inSize < sizeof record) return false;
    std::memcpy(&record, request.in, sizeof record);
    return true;
}

template <class Record>
DWORD giveOut(IoRequest& request, const Record& record) {
    if (request.out == nullptr || request.outSize < sizeof record)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::memcpy(request.out, &record, sizeof record);
    request.bytesReturned = sizeof record;
    return ERROR_SUCCESS;
}

std::string noPort(const std::string& name) { return "no serial port '" + name + "' (COM1 or COM2)"; }

}  // namespace

// ---- Ports ----

SerialPorts::SerialPorts() {
    for (int i = 0; i < kSerialPorts; ++i) ports_[i].name = kSerialDevices[i];
}

SerialPorts::~SerialPorts() = default;

int SerialPorts::portIndex(const std::string& name) {
    std::string folded = fold(name);
    if (!folded.empty() && folded.back() != ':') folded += ':';
    for (int i = 0; i < kSerialPorts; ++i)
        if (folded == fold(kSerialDevices[i])) return i;
    return -1;
}

void SerialPorts::resetPortLocked(Port& port) {
    port.dcb = powerOnDcb();
    port.timeouts = COMMTIMEOUTS{};
    port.queue.clear();
    port.overruns = 0;
    port.received = 0;
    port.sent.clear();
    port.typed.clear();
}

void SerialPorts::powerOn() {
    // Declared first, so closed after the lock is released: their threads may be waiting for it.
    std::shared_ptr<PtyLink> links[kSerialPorts];
    std::lock_guard<std::mutex> hold(lock_);
    for (int i = 0; i < kSerialPorts; ++i) {
        if (auto link = detachLocked(i)) links[i] = std::exchange(parked_[i], std::move(link));
        resetPortLocked(ports_[i]);
    }
    // The module's carrier board joins the two UARTs with a null-modem cable.
    ports_[0].wiring = ports_[1].wiring = SerialWiring::NullModem;
    ports_[0].peer = 1;
    ports_[1].peer = 0;
}

// ---- Bus side ----

DWORD SerialPorts::open(int index, uint64_t instance, const OpenParams& params) {
    std::lock_guard<std::mutex> hold(lock_);
    Port& port = ports_[index];
    Open open;
    // Any number of opens may query a port; only one at a time may read and write it.
    open.owner = (params.access & (GENERIC_READ | GENERIC_WRITE)) != 0;
    if (open.owner) {
        for (const auto& other : port.opens)
            if (other.second.owner) return kErrorInvalidAccess;
        // The port starts receiving afresh for its new owner.
        port.queue.clear();
    }
    port.opens[instance] = open;
    return ERROR_SUCCESS;
}

void SerialPorts::preClose(int index, uint64_t instance) {
    std::lock_guard<std::mutex> hold(lock_);
    Port& port = ports_[index];
    auto it = port.opens.find(instance);
    if (it == port.opens.end()) return;
    it->second.closing = true;
    port.changed.notify_all();
}

void SerialPorts::close(int index, uint64_t instance) {
    std::lock_guard<std::mutex> hold(lock_);
    ports_[index].opens.erase(instance);
}

template <class Ready>
void SerialPorts::blockLocked(Port& port, Open& open, std::unique_lock<std::mutex>& hold,
                              const Clock::time_point* deadline, Ready ready) {
    auto done = [&] { return open.closing || ready(); };
    ++port.blocked;
    blockedChanged_.notify_all();
    if (deadline != nullptr)
        port.changed.wait_until(hold, *deadline, done);
    else
        port.changed.wait(hold, done);
    --port.blocked;
}

DWORD SerialPorts::ioControl(int index, IoRequest& request) {
    std::unique_lock<std::mutex> hold(lock_);
    Port& port = ports_[index];
    auto it = port.opens.find(request.instance);
    if (it == port.opens.end()) return static_cast<DWORD>(ERROR_INVALID_HANDLE);
    Open& open = it->second;
    const DWORD invalid = static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    switch (request.code) {
        case kSerialGetDcb: return giveOut(request, port.dcb);
        case kSerialSetDcb: return setState(port, request);
        case kSerialGetTimeouts: return giveOut(request, port.timeouts);
        case kSerialSetTimeouts: {
            COMMTIMEOUTS timeouts;
            if (!takeIn(request, timeouts)) return invalid;
            port.timeouts = timeouts;
            return ERROR_SUCCESS;
        }
        case kSerialGetWaitMask: return giveOut(request, open.mask);
        case kSerialSetWaitMask: {
            DWORD mask;
            if (!takeIn(request, mask)) return invalid;
            // A new mask forgets the events latched under the old one and ends a wait in
            // progress, which reports no event.
            open.mask = mask;
            open.events = 0;
            ++open.maskChanges;
            port.changed.notify_all();
            return ERROR_SUCCESS;
        }
        case kSerialWaitOnMask: return waitOnMask(port, open, request, hold);
        case kSerialPurge: {
            DWORD flags;
            if (!takeIn(request, flags) || (flags & ~kAllPurges) != 0) return invalid;
            if (flags & PURGE_RXCLEAR) port.queue.clear();
            if ((flags & PURGE_TXCLEAR) && port.pty) port.pty->purge();
            if (flags & PURGE_RXABORT) {
                ++port.readAborts;
                port.changed.notify_all();
            }
            return ERROR_SUCCESS;
        }
        default: return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    }
}

DWORD SerialPorts::setState(Port& port, const IoRequest& request) {
    DCB dcb;
    if (!takeIn(request, dcb)) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    // What the UART cannot do is refused and changes nothing.
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    port.dcb = dcb;
    if (port.pty) port.pty->applyLine(dcb);
    return ERROR_SUCCESS;
}

DWORD SerialPorts::waitOnMask(Port& port, Open& open, IoRequest& request,
                              std::unique_lock<std::mutex>& hold) {
    if (request.out == nullptr || request.outSize < sizeof(DWORD) || open.mask == 0)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    // Events that came after SetCommMask and before this wait are latched and end it at once.
    const uint64_t changes = open.maskChanges;
    const bool receiving = (open.mask & kEvRxChar) != 0;
    if (receiving) {
        if (open.events == 0) offerTypedLocked(port);
        ++port.receiving;
    }
    blockLocked(port, open, hold, nullptr,
                [&] { return open.events != 0 || open.maskChanges != changes; });
    if (receiving) --port.receiving;
    DWORD happened = 0;
    if (!open.closing && open.maskChanges == changes) {
        happened = open.events;
        open.events = 0;
    }
    std::memcpy(request.out, &happened, sizeof happened);
    request.bytesReturned = sizeof happened;
    return open.closing ? static_cast<DWORD>(ERROR_INVALID_HANDLE) : ERROR_SUCCESS;
}

SerialPorts::Open* SerialPorts::ownerLocked(Port& port, uint64_t instance, DWORD& refusal) {
    auto it = port.opens.find(instance);
    if (it == port.opens.end()) {
        refusal = static_cast<DWORD>(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!it->second.owner) {
        refusal = static_cast<DWORD>(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return &it->second;
}

DWORD SerialPorts::read(int index, uint64_t instance, uint8_t* buffer, DWORD size,
                        DWORD& transferred) {
    transferred = 0;
    std::unique_lock<std::mutex> hold(lock_);
    Port& port = ports_[index];
    DWORD refusal = ERROR_SUCCESS;
    Open* owner = ownerLocked(port, instance, refusal);
    if (owner == nullptr) return refusal;
    Open& open = *owner;

    auto take = [&] {
        const size_t count = std::min<size_t>(port.queue.size(), size - transferred);
        std::copy_n(port.queue.begin(), count, buffer + transferred);
        port.queue.erase(port.queue.begin(), port.queue.begin() + static_cast<ptrdiff_t>(count));
        transferred += static_cast<DWORD>(count);
        return count > 0;
    };
    take();
    if (transferred == size) return ERROR_SUCCESS;

    // The time-outs as a CE serial driver reads them: MAXDWORD interval with no total answers
    // at once; MAXDWORD interval and multiplier with a constant waits that long for a first
    // byte only; otherwise a total limit (multiplier per byte plus constant, when either is
    // set) and a limit between two bytes (interval, once the first has come). With neither, the
    // read waits until it has every byte.
    const COMMTIMEOUTS t = port.timeouts;
    if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0)
        return ERROR_SUCCESS;
    const bool firstByteOnly = t.ReadIntervalTimeout == kMaxDword &&
                               t.ReadTotalTimeoutMultiplier == kMaxDword &&
                               t.ReadTotalTimeoutConstant != 0 &&
                               t.ReadTotalTimeoutConstant != kMaxDword;
    if (firstByteOnly && transferred > 0) return ERROR_SUCCESS;
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> total;
    if (firstByteOnly)
        total = deadlineAfter(start, t.ReadTotalTimeoutConstant);
    else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
        total = deadlineAfter(start, uint64_t{t.ReadTotalTimeoutMultiplier} * size +
                                         t.ReadTotalTimeoutConstant);
    const bool interval = !firstByteOnly && t.ReadIntervalTimeout != 0 &&
                          t.ReadIntervalTimeout != kMaxDword;
    const uint64_t aborts = port.readAborts;
    Clock::time_point lastByte = start;
    for (;;) {
        std::optional<Clock::time_point> deadline = total;
        if (interval && transferred > 0) {
            const auto gap = deadlineAfter(lastByte, t.ReadIntervalTimeout);
            deadline = deadline ? std::min(*deadline, gap) : gap;
        }
        if (deadline && Clock::now() >= *deadline) break;
        offerTypedLocked(port);
        ++port.receiving;
        blockLocked(port, open, hold, deadline ? &*deadline : nullptr,
                    [&] { return !port.queue.empty() || port.readAborts != aborts; });
        --port.receiving;
        if (open.closing) return static_cast<DWORD>(ERROR_INVALID_HANDLE);
        if (take()) {
            lastByte = Clock::now();
            if (transferred == size || firstByteOnly) break;
        }
        // A purge with PURGE_RXABORT ends the read with what it has.
        if (port.readAborts != aborts) break;
    }
    return ERROR_SUCCESS;
}

DWORD SerialPorts::write(int index, uint64_t instance, const uint8_t* buffer, DWORD size,
                         DWORD& transferred) {
    transferred = 0;
    std::lock_guard<std::mutex> hold(lock_);
    Port& port = ports_[index];
    DWORD refusal = ERROR_SUCCESS;
    if (ownerLocked(port, instance, refusal) == nullptr) return refusal;
    for (DWORD i = 0; i < size; ++i) port.sent.push(uint8_t{buffer[i]}, kDefaultRecordLimit);
    publishBytes(port, "tx", buffer, size);
    switch (port.wiring) {
        case SerialWiring::Loopback: deliverLocked(port, buffer, size); break;
        case SerialWiring::NullModem: deliverLocked(ports_[port.peer], buffer, size); break;
        case SerialWiring::Pty: port.pty->send(buffer, size, kSerialQueueLimit); break;
        case SerialWiring::Unplugged: break;
    }
    transferred = size;
    // The bytes are on the wire: the transmitter is empty again, even after a write of nothing.
    raiseLocked(port, kEvTxEmpty);
    return ERROR_SUCCESS;
}

void SerialPorts::raiseLocked(Port& port, DWORD events) {
    for (auto& open : port.opens) open.second.events |= events & open.second.mask;
    port.changed.notify_all();
}

void SerialPorts::deliverLocked(Port& port, const uint8_t* bytes, size_t size) {
    port.received += size;
    const size_t room = kSerialQueueLimit - std::min(kSerialQueueLimit, port.queue.size());
    const size_t kept = std::min(size, room);
    port.queue.insert(port.queue.end(), bytes, bytes + kept);
    publishBytes(port, "rx", bytes, kept);
    DWORD events = kept > 0 ? kEvRxChar : 0;
    if (kept < size) {
        port.overruns += size - kept;
        events |= kEvErr;
    }
    raiseLocked(port, events);
}

void SerialPorts::offerTypedLocked(Port& port) {
    if (port.typed.empty() || !port.queue.empty()) return;
    const uint8_t byte = port.typed.front();
    port.typed.pop_front();
    deliverLocked(port, &byte, 1);
}

void SerialPorts::publishBytes(const Port& port, const char* direction, const uint8_t* bytes,
                               size_t size) {
    if (size == 0 || !liveWatched(LiveKind::Serial)) return;
    static const char kDigits[] = "0123456789abcdef";
    std::string data;
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = bytes[i];
        data += kDigits[c >> 4];
        data += kDigits[c & 15];
        if (c == '\\')
            text += "\\\\";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else if (c < 0x20 || c >= 0x7F)
            appendHexEscape(text, c);
        else
            text += static_cast<char>(c);
    }
    LiveEvent event;
    event.kind = LiveKind::Serial;
    event.port = port.name.substr(0, port.name.size() - 1);  // "COM1:" -> "COM1"
    event.fields = {{"port", event.port}, {"dir", direction}, {"data", data}, {"text", text}};
    publishLive(std::move(event));
}

void SerialPorts::fromPty(int index, const PtyLink* link, const uint8_t* bytes, size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    Port& port = ports_[index];
    // Bytes of a terminal the port has just been unwired from are dropped.
    if (port.pty.get() == link) deliverLocked(port, bytes, size);
}

// ---- Wiring ----

std::shared_ptr<PtyLink> SerialPorts::detachLocked(int index) {
    Port& port = ports_[index];
    if (port.wiring == SerialWiring::NullModem && port.peer >= 0) {
        ports_[port.peer].wiring = SerialWiring::Unplugged;
        ports_[port.peer].peer = -1;
    }
    port.wiring = SerialWiring::Unplugged;
    port.peer = -1;
    return std::move(port.pty);
}

std::string SerialPorts::wireAlone(const std::string& name, SerialWiring wiring) {
    const int index = portIndex(name);
    if (index < 0) return noPort(name);
    // Declared first, so closed after the lock is released.
    std::shared_ptr<PtyLink> old;
    std::lock_guard<std::mutex> hold(lock_);
    old = detachLocked(index);
    ports_[index].wiring = wiring;
    return "";
}

std::string SerialPorts::loopback(const std::string& name) {
    return wireAlone(name, SerialWiring::Loopback);
}

std::string SerialPorts::nullModem(const std::string& name, const std::string& peerName) {
    const int index = portIndex(name);
    const int peer = portIndex(peerName);
    if (index < 0) return noPort(name);
    if (peer < 0) return noPort(peerName);
    if (peer == index) return "a null-modem cable joins two ports; use loopback for one";
    std::shared_ptr<PtyLink> old[2];
    std::lock_guard<std::mutex> hold(lock_);
    old[0] = detachLocked(index);
    old[1] = detachLocked(peer);
    ports_[index].wiring = ports_[peer].wiring = SerialWiring::NullModem;
    ports_[index].peer = peer;
    ports_[peer].peer = index;
    return "";
}

std::string SerialPorts::pty(const std::string& name) {
    const int index = portIndex(name);
    if (index < 0) return noPort(name);
    std::shared_ptr<PtyLink> link;
    {
        std::lock_guard<std::mutex> hold(lock_);
        link = std::move(parked_[index]);
    }
    const bool reused = link != nullptr;
    if (reused) {
        link->restart();
    } else {
        std::string problem;
        link = PtyLink::open(
            [this, index](const PtyLink* from, const uint8_t* bytes, size_t size) {
                fromPty(index, from, bytes, size);
            },
            problem);
        if (!link) return problem;
    }
    std::shared_ptr<PtyLink> old;
    {
        std::lock_guard<std::mutex> hold(lock_);
        old = detachLocked(index);
        Port& port = ports_[index];
        port.wiring = SerialWiring::Pty;
        port.pty = link;
        link->applyLine(port.dcb);
    }
    if (!reused)
        std::fprintf(stderr, "vboard: %s is wired to the pseudo-terminal %s\n",
                     kSerialDevices[index], link->path().c_str());
    return "";
}

std::string SerialPorts::unplug(const std::string& name) {
    return wireAlone(name, SerialWiring::Unplugged);
}

// ---- Control side ----

std::string SerialPorts::ptyPath(const std::string& name) const {
    const int index = portIndex(name);
    if (index < 0) return "";
    std::lock_guard<std::mutex> hold(lock_);
    return ports_[index].pty ? ports_[index].pty->path() : "";
}

bool SerialPorts::receive(const std::string& name, const std::vector<uint8_t>& bytes) {
    const int index = portIndex(name);
    if (index < 0) return false;
    std::lock_guard<std::mutex> hold(lock_);
    deliverLocked(ports_[index], bytes.data(), bytes.size());
    return true;
}

bool SerialPorts::type(const std::string& name, const std::vector<uint8_t>& bytes) {
    const int index = portIndex(name);
    if (index < 0) return false;
    std::lock_guard<std::mutex> hold(lock_);
    Port& port = ports_[index];
    const size_t room = kSerialQueueLimit - std::min(kSerialQueueLimit, port.typed.size());
    const size_t kept = std::min(bytes.size(), room);
    port.typed.insert(port.typed.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(kept));
    port.overruns += bytes.size() - kept;
    // A call may be waiting for bytes already.
    if (port.receiving > 0) offerTypedLocked(port);
    return true;
}

std::vector<uint8_t> SerialPorts::transmitted(const std::string& name) const {
    const int index = portIndex(name);
    if (index < 0) return {};
    std::lock_guard<std::mutex> hold(lock_);
    return ports_[index].sent.items();
}

std::optional<SerialPortState> SerialPorts::state(const std::string& name) const {
    const int index = portIndex(name);
    if (index < 0) return std::nullopt;
    std::lock_guard<std::mutex> hold(lock_);
    const Port& port = ports_[index];
    SerialPortState s;
    s.wiring = port.wiring;
    if (port.peer >= 0) s.peer = kSerialDevices[port.peer];
    if (port.pty) s.ptyPath = port.pty->path();
    for (const auto& open : port.opens)
        if (open.second.owner) {
            s.open = true;
            s.mask = open.second.mask;
        }
    s.dcb = port.dcb;
    s.timeouts = port.timeouts;
    s.queued = port.queue.size();
    s.overruns = port.overruns;
    s.received = port.received;
    s.blocked = port.blocked;
    s.typing = port.typed.size();
    return s;
}

bool SerialPorts::awaitBlocked(const std::string& name, unsigned milliseconds) const {
    const int index = portIndex(name);
    if (index < 0) return false;
    std::unique_lock<std::mutex> hold(lock_);
    const Port& port = ports_[index];
    return blockedChanged_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                    [&] { return port.blocked > 0; });
}

}  // namespace vboard
