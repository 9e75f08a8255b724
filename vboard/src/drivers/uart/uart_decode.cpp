// The serial calls and requests as the trace shows them: "COM1: SetCommState 115200 8N1 ...".
#include <cstring>

#include "drivers/uart/serial_ports.h"
#include "os/serial_requests.h"

namespace vboard {

const std::vector<RequestName>& serialRequestNames() {
    // Never destroyed, like the board: the trace is decoded while a program's threads end.
    static const std::vector<RequestName>* names = new std::vector<RequestName>{
        {"GET_WAIT_MASK", kSerialGetWaitMask}, {"SET_WAIT_MASK", kSerialSetWaitMask},
        {"WAIT_ON_MASK", kSerialWaitOnMask},   {"SET_TIMEOUTS", kSerialSetTimeouts},
        {"GET_TIMEOUTS", kSerialGetTimeouts},  {"PURGE", kSerialPurge},
        {"GET_DCB", kSerialGetDcb},            {"SET_DCB", kSerialSetDcb},
    };
    return *names;
}

namespace {

const char* requestName(DWORD code) {
    for (const RequestName& r : serialRequestNames())
        if (r.code == code) return r.name;
    return nullptr;
}

std::string flagNames(DWORD value, const char* const* names, int count) {
    std::string text;
    for (int bit = 0; bit < count; ++bit)
        if (value & (1u << bit)) text += (text.empty() ? "" : "|") + std::string(names[bit]);
    if (value >> count) text += (text.empty() ? "" : "|") + hex(value >> count << count);
    return text.empty() ? "none" : text;
}

std::string eventNames(DWORD events) {
    static const char* const names[] = {"RXCHAR", "RXFLAG", "TXEMPTY", "CTS", "DSR",
                                        "RLSD",   "BREAK",  "ERR",     "RING"};
    return flagNames(events, names, 9);
}

std::string purgeNames(DWORD flags) {
    static const char* const names[] = {"TXABORT", "RXABORT", "TXCLEAR", "RXCLEAR"};
    return flagNames(flags, names, 4);
}

template <class Record>
bool recordFrom(const Bytes& bytes, Record& record) {
    if (bytes.size() != sizeof record) return false;
    std::memcpy(&record, bytes.data(), sizeof record);
    return true;
}

std::string dcbText(const Bytes& bytes) {
    DCB dcb;
    return recordFrom(bytes, dcb) ? describeDcb(dcb) : "malformed [" + hexBytes(bytes) + "]";
}

std::string timeoutsText(const Bytes& bytes) {
    COMMTIMEOUTS t;
    if (!recordFrom(bytes, t)) return "malformed [" + hexBytes(bytes) + "]";
    return "read interval " + std::to_string(t.ReadIntervalTimeout) + " multiplier " +
           std::to_string(t.ReadTotalTimeoutMultiplier) + " constant " +
           std::to_string(t.ReadTotalTimeoutConstant) + ", write multiplier " +
           std::to_string(t.WriteTotalTimeoutMultiplier) + " constant " +
           std::to_string(t.WriteTotalTimeoutConstant);
}

std::string wordText(const Bytes& bytes, std::string (*names)(DWORD)) {
    DWORD value;
    return recordFrom(bytes, value) ? names(value) : "malformed [" + hexBytes(bytes) + "]";
}

std::string hexWord(DWORD value) { return hex(value); }

}  // namespace

std::string describeDcb(const DCB& dcb) {
    static const char parities[] = "NOEMS";
    static const char* const stops[] = {"1", "1.5", "2"};
    static const char* const controls[] = {"disable", "enable", "handshake", "toggle"};
    std::string text = std::to_string(dcb.BaudRate) + " " + std::to_string(dcb.ByteSize);
    text += dcb.Parity <= SPACEPARITY ? std::string(1, parities[dcb.Parity])
                                      : "/parity " + std::to_string(dcb.Parity) + "/";
    text += dcb.StopBits <= TWOSTOPBITS ? std::string(stops[dcb.StopBits])
                                        : "/stop " + std::to_string(dcb.StopBits);
    if (dcb.fOutxCtsFlow) text += " cts";
    if (dcb.fOutxDsrFlow) text += " dsr";
    if (dcb.fOutX || dcb.fInX)
        text += std::string(" xon/xoff") + (dcb.fOutX && dcb.fInX ? "" : dcb.fOutX ? "(out)" : "(in)");
    if (dcb.fDtrControl != DTR_CONTROL_DISABLE) text += " dtr=" + std::string(controls[dcb.fDtrControl]);
    if (dcb.fRtsControl != RTS_CONTROL_DISABLE) text += " rts=" + std::string(controls[dcb.fRtsControl]);
    return text;
}

std::optional<std::string> decodeSerialCall(const TraceEntry& e) {
    if (e.function == "ReadFile")
        return "ReadFile " + e.args + (e.out.empty() ? "" : " [" + hexBytes(e.out) + "]");
    if (e.function == "WriteFile")
        return "WriteFile " + std::to_string(e.in.size()) + " bytes" +
               (e.in.empty() ? "" : " [" + hexBytes(e.in) + "]");
    const char* request = requestName(e.code);
    if (request == nullptr) return std::nullopt;
    // A serial call is named as the caller made it; the request sent directly, by its name.
    std::string text = e.function == "DeviceIoControl" ? request : e.function;
    switch (e.code) {
        case kSerialSetDcb: return text + " " + dcbText(e.in);
        case kSerialSetTimeouts: return text + " " + timeoutsText(e.in);
        case kSerialPurge: return text + " " + wordText(e.in, purgeNames);
        case kSerialSetWaitMask: return text + " " + wordText(e.in, hexWord);
        default: break;
    }
    // The rest answer in their output, which exists only when they succeeded.
    if (!e.ok) return text;
    switch (e.code) {
        case kSerialGetDcb: return text + " " + dcbText(e.out);
        case kSerialGetTimeouts: return text + " " + timeoutsText(e.out);
        case kSerialGetWaitMask: return text + " " + wordText(e.out, hexWord);
        default: return text + " " + wordText(e.out, eventNames);
    }
}

std::optional<std::string> SerialPortDriver::decode(const TraceEntry& entry) const {
    return decodeSerialCall(entry);
}

}  // namespace vboard
