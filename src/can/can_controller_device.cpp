// CanControllerDevice: opens "CAN1:", sends the nine controller requests and reports each one in
// the debug output with the last error.
#include "can/can_controller_device.h"

#include "platform/handle_slot.h"
#include "platform/request_lines.h"

namespace tarvik {
namespace {

// Each request is reported by a RequestLines pair, both lines with the last error.
constexpr RequestLines kGetTimingLines = {nullptr,
                                          L"VELNA can get timing cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kBitrateLines = {L"VELNA can set bitrate operate successful - Rout %d\r\n",
                                        L"VELNA can set bitrate cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kTimingLines = {L"VELNA can set timing operate successful - Rout %d\r\n",
                                       L"VELNA can set timing cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kTlprioLines = {L"VELNA can set TLPRIO operate successful - Rout %d\r\n",
                                       L"VELNA can set TLPRIO cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kLoopbackLines = {
    L"VELNA can set Loopback operate successful - Rout %d\r\n",
    L"VELNA can set Loopback cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kAddFilterLines = {L"VELNA can set filter operate successful - Rout %d\r\n",
                                          L"VELNA can set filter cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kRemoveFilterLines = {
    L"VELNA can remove filter operate successful - Rout %d\r\n",
    L"VELNA can remove filter cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kTransferLines = {L"VELNA can transfer operate successful - Rout %d\r\n",
                                         L"VELNA can transfer cannot operate successful - Rerr %d\r\n"};

// A mode is a pair of requests, one to switch it on and one to switch it off.
struct ModeRequests {
    DWORD on;
    DWORD off;
    RequestLines lines;
};
constexpr ModeRequests kTlprio = {IOCTL_CAN_TLPRIO_ON, IOCTL_CAN_TLPRIO_OFF, kTlprioLines};
constexpr ModeRequests kLoopback = {IOCTL_CAN_LOOPBACK_ON, IOCTL_CAN_LOOPBACK_OFF, kLoopbackLines};

// Sends one request and reports it with the last error; a missing line is not printed.
bool sendAndReport(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                   const RequestLines& lines) {
    const BOOL result = DeviceIoControl(handle, code, in, inSize, out, outSize, nullptr, nullptr);
    const int lastError = static_cast<int>(GetLastError());
    const WCHAR* line = result ? lines.accepted : lines.rejected;
    if (line != nullptr) NKDbgPrintfW(line, lastError);
    return result != 0;
}

bool sendMode(HANDLE* slot, uint8_t flag, const ModeRequests& mode) {
    return sendAndReport(*slot, flag == 1 ? mode.on : mode.off, nullptr, 0, nullptr, 0, mode.lines);
}

// Conversion toward zero to 32 bits as the ARM's VCVT does it: saturating, NaN to 0. A plain
// cast of a value at or above 2^32 would be undefined.
uint32_t truncateToUnsigned(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 4294967296.0f) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}

}  // namespace

uint16_t nearestPrescaler(uint32_t baseclock, uint32_t bitrate, uint32_t quanta) {
    // A bit rate of 0 asks for an unbounded prescaler, which ends as every p at or above 2^32
    // does: lower saturates to 0xFFFF, upper 65536 is nearer and wraps to 0.
    if (bitrate == 0) return 0;
    const float ratio = static_cast<float>(baseclock) / static_cast<float>(bitrate);
    const float p = ratio / static_cast<float>(quanta);
    const uint16_t lower = static_cast<uint16_t>(truncateToUnsigned(p));
    const uint32_t upper = static_cast<uint32_t>(lower) + 1u;
    const float lowerValue = static_cast<float>(lower);
    const float upperValue = static_cast<float>(upper);
    // Strictly nearer: a tie keeps the lower prescaler, the faster bit.
    if (upperValue - p < p - lowerValue) return static_cast<uint16_t>(upper);
    return lower;
}

bool CanControllerDevice::openController(HANDLE* slot, const WCHAR* device) const {
    *slot = openDriver(device, 0);
    const int lastError = static_cast<int>(GetLastError());
    if (*slot == INVALID_HANDLE_VALUE) {
        reportHandleError(static_cast<DWORD>(lastError));
        return false;
    }
    NKDbgPrintfW(L"VELNA open handle operate successful - Rout %d\r\n", lastError);
    return true;
}

void CanControllerDevice::closeController(HANDLE* slot) const {
    // A failed open left nothing to close; the close is reported all the same.
    closeSlot(*slot);
    NKDbgPrintfW(L"VELNA can close port operate successful - Rout %d\r\n",
                 static_cast<int>(GetLastError()));
}

bool CanControllerDevice::setBitrate(HANDLE* slot, uint32_t bitrate) const {
    CanTimingRecord timing = {};
    if (!sendAndReport(*slot, IOCTL_CAN_GET_TIMING, nullptr, 0, &timing, sizeof timing,
                       kGetTimingLines))
        return false;
    // The synchronisation quantum is part of every bit.
    const uint32_t quanta = static_cast<uint32_t>(timing.propseg) + timing.phase1seg +
                            timing.phase2seg + 1u;
    timing.prescaler = nearestPrescaler(timing.baseclock, bitrate, quanta);
    NKDbgPrintfW(L"VELNA can baseclock: %d\r\n", static_cast<int>(timing.baseclock));
    NKDbgPrintfW(L"VELNA can bitrate: %d\r\n", static_cast<int>(bitrate));
    NKDbgPrintfW(L"VELNA can propseg: %d\r\n", static_cast<int>(timing.propseg));
    NKDbgPrintfW(L"VELNA can phase1seg: %d\r\n", static_cast<int>(timing.phase1seg));
    NKDbgPrintfW(L"VELNA can phase2seg: %d\r\n", static_cast<int>(timing.phase2seg));
    NKDbgPrintfW(L"VELNA can prescaler: %d\r\n", static_cast<int>(timing.prescaler));
    return sendAndReport(*slot, IOCTL_CAN_SET_TIMING, &timing, sizeof timing, nullptr, 0,
                         kBitrateLines);
}

bool CanControllerDevice::setTiming(HANDLE* slot, const CanTimingRecord& record) const {
    CanTimingRecord sent = record;
    return sendAndReport(*slot, IOCTL_CAN_SET_TIMING, &sent, sizeof sent, nullptr, 0, kTimingLines);
}

bool CanControllerDevice::setTlprio(HANDLE* slot, uint8_t flag) const {
    return sendMode(slot, flag, kTlprio);
}

bool CanControllerDevice::setLoopback(HANDLE* slot, uint8_t flag) const {
    return sendMode(slot, flag, kLoopback);
}

bool CanControllerDevice::addFilter(HANDLE* slot, uint32_t* filterHandle,
                                    const CanFilterRecord& record) const {
    CanFilterRecord sent = record;
    // Only a filter the driver accepted replaces the handle kept for its removal.
    uint32_t answer = 0;
    if (!sendAndReport(*slot, IOCTL_CAN_ADD_FILTER, &sent, sizeof sent, &answer, sizeof answer,
                       kAddFilterLines))
        return false;
    *filterHandle = answer;
    return true;
}

bool CanControllerDevice::removeFilter(HANDLE* slot, const uint32_t* filterHandle) const {
    uint32_t sent = *filterHandle;
    return sendAndReport(*slot, IOCTL_CAN_REMOVE_FILTER, &sent, sizeof sent, nullptr, 0,
                         kRemoveFilterLines);
}

bool CanControllerDevice::transfer(HANDLE* slot, CanTransferRequest* request) const {
    return sendAndReport(*slot, IOCTL_CAN_TRANSFER, request, sizeof *request, nullptr, 0,
                         kTransferLines);
}

}  // namespace tarvik
