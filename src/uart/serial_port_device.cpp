// SerialPortDevice: opens "COM1:" and "COM2:", changes their line settings and time-outs, flushes
// and arms them, and moves data, reporting each platform call in the debug output. Every line
// carries the last error, the success lines too.
#include "uart/serial_port_device.h"

#include <string.h>

#include "platform/handle_slot.h"
#include "platform/request_lines.h"
#include "uart/uart_records.h"

namespace tarvik {
namespace {

// The serial calls do not all answer alike: GetCommState, SetCommState and GetCommTimeouts
// succeed with any non-zero result, the others only with exactly TRUE.
enum class Success { NonZero, ExactlyOne };

bool succeeded(BOOL result, Success test) {
    return test == Success::NonZero ? result != 0 : result == 1;
}

// Each call is reported by a RequestLines pair; a null line is not printed.
// The send-buffer flush prints the receive buffer's lines, and the time-out read prints the
// time-out write's: callers grep the debug output for these exact texts.
constexpr RequestLines kClearBufferLines = {
    L"VELNA uart clear receive buffer operate successful - Rout %d\r\n",
    L"VELNA uart clear receive buffer cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kTimeoutLines = {
    L"VELNA uart set timeouts operate successful - Rout %d\r\n",
    L"VELNA uart set timeouts cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kWaitMaskLines = {
    nullptr, L"VELNA uart set wait event cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kWaitEventLines = {
    nullptr, L"VELNA uart get wait event cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kWriteLines = {
    L"VELNA uart write data buffer operate successful - Rout %d\r\n",
    L"VELNA uart write data buffer cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kReadLines = {
    L"VELNA uart read data buffer operate successful - Rout %d\r\n",
    L"VELNA uart read data buffer cannot operate successful - Rerr %d\r\n"};

// The two configurations differ only in their lines: the failed read of the driver's record,
// and the pair that reports applying it.
struct ConfigureLines {
    const WCHAR* getFailed;
    RequestLines set;
};
constexpr ConfigureLines kModeLines = {
    L"VELNA uart get mode config cannot operate successful - Rerr %d\r\n",
    {L"VELNA uart mode config operate successful - Rout %d\r\n",
     L"VELNA uart set mode config cannot operate successful - Rerr %d\r\n"}};
constexpr ConfigureLines kStructureLines = {
    L"VELNA uart get config cannot operate successful - Rerr %d\r\n",
    {L"VELNA uart config operate successful - Rout %d\r\n",
     L"VELNA uart set config cannot operate successful - Rerr %d\r\n"}};

int lastError() { return static_cast<int>(GetLastError()); }

// Judges a call's result and prints its line with the last error taken right after it.
bool report(BOOL result, Success test, const RequestLines& lines) {
    const bool ok = succeeded(result, test);
    const WCHAR* line = ok ? lines.accepted : lines.rejected;
    if (line != nullptr) NKDbgPrintfW(line, lastError());
    return ok;
}

// The flow control settings of configureMode; every other flag keeps the driver's value.
struct FlowSettings {
    DWORD outxCtsFlow;
    DWORD outxDsrFlow;
    DWORD dtrControl;
    DWORD outX;
    DWORD inX;
    DWORD rtsControl;
};
constexpr FlowSettings kFlowTable[] = {
    /* none */ {0, 0, DTR_CONTROL_DISABLE, 0, 0, RTS_CONTROL_DISABLE},
    /* hardware */ {1, 1, DTR_CONTROL_HANDSHAKE, 0, 0, RTS_CONTROL_HANDSHAKE},
    /* software (XON/XOFF) */ {0, 0, DTR_CONTROL_DISABLE, 1, 1, RTS_CONTROL_DISABLE},
};

// A port that waits on its modem lines, or raises RTS itself, needs longer to settle after a
// change of settings.
DWORD settlePause(const DCB& dcb) {
    return dcb.fOutxCtsFlow == 1 || dcb.fOutxDsrFlow == 1 || dcb.fRtsControl == RTS_CONTROL_ENABLE
               ? 5
               : 1;
}

// The end both configurations share: apply the record, let the port settle, report.
bool applyState(HANDLE handle, DCB* dcb, const ConfigureLines& lines) {
    if (!SetCommState(handle, dcb)) {
        NKDbgPrintfW(lines.set.rejected, lastError());
        return false;
    }
    const int error = lastError();
    Sleep(settlePause(*dcb));
    NKDbgPrintfW(lines.set.accepted, error);
    return true;
}

bool readState(HANDLE handle, DCB* dcb, const ConfigureLines& lines) {
    if (GetCommState(handle, dcb)) return true;
    NKDbgPrintfW(lines.getFailed, lastError());
    return false;
}

bool purge(HANDLE handle, DWORD flags) {
    return report(PurgeComm(handle, flags), Success::ExactlyOne, kClearBufferLines);
}

// Both time-out calls start from empty buffers; the flushes' results do not matter.
void flushBoth(HANDLE handle) {
    purge(handle, PURGE_TXCLEAR);
    purge(handle, PURGE_RXCLEAR);
}

}  // namespace

bool SerialPortDevice::openPort(HANDLE* slot, uint32_t port) const {
    const WCHAR* name = port == 1 ? L"COM1:" : port == 2 ? L"COM2:" : nullptr;
    if (name == nullptr) return false;
    *slot = openDriver(name, FILE_FLAG_RANDOM_ACCESS);
    if (*slot == INVALID_HANDLE_VALUE) {
        reportHandleError(GetLastError());
        return false;
    }
    return true;
}

bool SerialPortDevice::closePort(HANDLE* slot) const {
    closeSlot(*slot);
    return true;
}

bool SerialPortDevice::configureMode(HANDLE* slot, DCB* dcb, int32_t flowControl, int32_t parity,
                                     int32_t stopBits, int32_t byteSize, int32_t baudRate) const {
    if (!readState(*slot, dcb, kModeLines)) return false;
    if (flowControl < kFlowNone || flowControl > kFlowSoftware) return false;
    const FlowSettings& flow = kFlowTable[flowControl];
    dcb->fOutxCtsFlow = flow.outxCtsFlow;
    dcb->fOutxDsrFlow = flow.outxDsrFlow;
    dcb->fDtrControl = flow.dtrControl;
    dcb->fOutX = flow.outX;
    dcb->fInX = flow.inX;
    dcb->fRtsControl = flow.rtsControl;
    dcb->BaudRate = static_cast<DWORD>(baudRate);
    // Only the low four bits of each count.
    dcb->Parity = static_cast<BYTE>(parity & 0xF);
    dcb->StopBits = static_cast<BYTE>(stopBits & 0xF);
    dcb->ByteSize = static_cast<BYTE>(byteSize & 0xF);
    return applyState(*slot, dcb, kModeLines);
}

bool SerialPortDevice::configureStructure(HANDLE* slot, DCB* dcb, const DCB* caller) const {
    if (!readState(*slot, dcb, kStructureLines)) return false;
    // Every field, reserved bits and words included, as the caller gave it; only the length is
    // the record's own, so a caller that left DCBlength at 0 is still understood.
    memcpy(dcb, caller, sizeof *dcb);
    dcb->DCBlength = sizeof(DCB);
    return applyState(*slot, dcb, kStructureLines);
}

bool SerialPortDevice::getTimeouts(HANDLE* slot, COMMTIMEOUTS* timeouts) const {
    flushBoth(*slot);
    return report(GetCommTimeouts(*slot, timeouts), Success::NonZero, kTimeoutLines);
}

bool SerialPortDevice::setTimeouts(HANDLE* slot, COMMTIMEOUTS* timeouts) const {
    flushBoth(*slot);
    return report(SetCommTimeouts(*slot, timeouts), Success::ExactlyOne, kTimeoutLines);
}

bool SerialPortDevice::clearReceiveBuffer(HANDLE* slot) const { return purge(*slot, PURGE_RXCLEAR); }

bool SerialPortDevice::clearSendBuffer(HANDLE* slot) const { return purge(*slot, PURGE_TXCLEAR); }

bool SerialPortDevice::setWaitEvents(HANDLE* slot) const {
    return report(SetCommMask(*slot, kSerialAllEvents), Success::ExactlyOne, kWaitMaskLines);
}

bool SerialPortDevice::waitEvent(HANDLE* slot, DWORD eventWord) const {
    DWORD word = eventWord;
    return report(WaitCommEvent(*slot, &word, nullptr), Success::ExactlyOne, kWaitEventLines);
}

bool SerialPortDevice::writeData(HANDLE* slot, const char* data, int32_t length) const {
    if (data == nullptr) return false;
    size_t count = strlen(data);
    if (length > 0) {
        // Never past the string's end.
        if (static_cast<size_t>(length) > count) return false;
        count = static_cast<size_t>(length);
    }
    NKDbgPrintfW(L"VELNA uart data buffer length - Rout %d\r\n", static_cast<int>(count));
    DWORD written = 0;
    const BOOL result = WriteFile(*slot, data, static_cast<DWORD>(count), &written, nullptr);
    // A write that stopped short (a time-out) did not send the caller's data.
    const BOOL whole = result == 1 && written == count ? 1 : 0;
    return report(whole, Success::ExactlyOne, kWriteLines);
}

bool SerialPortDevice::readData(HANDLE* slot, uint8_t* buffer, uint32_t size) const {
    if (buffer == nullptr) return false;
    NKDbgPrintfW(L"VELNA uart read data buffer size %d\r\n", static_cast<int>(size));
    DWORD received = 0;
    return report(ReadFile(*slot, buffer, size, &received, nullptr), Success::ExactlyOne,
                  kReadLines);
}

}  // namespace tarvik
