// The platform's serial calls. As coredll does on the device, each one becomes a request of the
// CE serial driver on the port's handle, so the COM model answers them in its ioControl and a
// driver that is no serial port refuses them as it refuses any unknown request. A call in flight
// is counted on its open, so a close from another thread wakes a blocked wait and waits for it.
#include <algorithm>

#include "os/call.h"
#include "os/serial_requests.h"

using namespace vboard;

namespace {

// One serial call: `in` is what the caller hands the driver, `out` where the answer goes.
BOOL serialCall(const char* function, HANDLE port, DWORD code, const void* in, DWORD inSize,
                void* out, DWORD outSize, LPOVERLAPPED overlapped = nullptr) {
    Call call(function);
    call.entry.code = code;
    DriverUse target = useDriver(port, call.entry);
    if (call.keep) {
        call.entry.args = handleLabel(port);
        call.entry.in = copyBytes(in, inSize);
    }
    if (!target) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if (overlapped != nullptr) return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    if ((inSize > 0 && in == nullptr) || (outSize > 0 && out == nullptr))
        return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    IoRequest request;
    request.instance = target->instance;
    request.code = code;
    // The driver reads the input record and never writes it.
    request.in = static_cast<uint8_t*>(const_cast<void*>(in));
    request.inSize = inSize;
    request.out = static_cast<uint8_t*>(out);
    request.outSize = outSize;
    const DWORD error = target->driver->ioControl(request);
    if (call.keep && error == ERROR_SUCCESS)
        call.entry.out = copyBytes(out, std::min(request.bytesReturned, outSize));
    if (error != ERROR_SUCCESS) return call.fail(FALSE, error);
    return call.succeed(TRUE);
}

}  // namespace

// The bodies of the C entry points: platform_entries.cpp exports them behind a guard.
namespace vboard::calls {

BOOL GetCommState(HANDLE port, LPDCB dcb) {
    return serialCall("GetCommState", port, kSerialGetDcb, nullptr, 0, dcb, sizeof(DCB));
}

BOOL SetCommState(HANDLE port, LPDCB dcb) {
    return serialCall("SetCommState", port, kSerialSetDcb, dcb, sizeof(DCB), nullptr, 0);
}

BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    return serialCall("GetCommTimeouts", port, kSerialGetTimeouts, nullptr, 0, timeouts,
                      sizeof(COMMTIMEOUTS));
}

BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    return serialCall("SetCommTimeouts", port, kSerialSetTimeouts, timeouts,
                      sizeof(COMMTIMEOUTS), nullptr, 0);
}

BOOL PurgeComm(HANDLE port, DWORD flags) {
    return serialCall("PurgeComm", port, kSerialPurge, &flags, sizeof flags, nullptr, 0);
}

BOOL SetCommMask(HANDLE port, DWORD mask) {
    return serialCall("SetCommMask", port, kSerialSetWaitMask, &mask, sizeof mask, nullptr, 0);
}

// Blocks until an event of the mask happens, the mask changes (*mask is then 0), or the handle
// is closed from another thread, which ends it with a failure.
BOOL WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped) {
    return serialCall("WaitCommEvent", port, kSerialWaitOnMask, nullptr, 0, mask, sizeof(DWORD),
                      overlapped);
}

}  // namespace vboard::calls
