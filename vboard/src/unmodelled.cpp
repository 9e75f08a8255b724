// Platform calls whose models come with their families (the serial ports). Until a family models
// them, each one is traced and refused with ERROR_NOT_SUPPORTED, so a caller sees an honest
// failure and never a false success.
#include "call.h"
#include "text.h"

using namespace vboard;

namespace {

// A serial call on a handle: a handle that is no open driver is a misuse, as for any call.
BOOL refuseSerial(const char* function, HANDLE port) {
    Call call(function);
    auto target = resolve<DriverObject>(port, call.entry);
    call.entry.args = call.entry.device;
    if (!target) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

}  // namespace

extern "C" {

BOOL GetCommState(HANDLE port, LPDCB) { return refuseSerial("GetCommState", port); }
BOOL SetCommState(HANDLE port, LPDCB) { return refuseSerial("SetCommState", port); }
BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS) { return refuseSerial("GetCommTimeouts", port); }
BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS) { return refuseSerial("SetCommTimeouts", port); }
BOOL PurgeComm(HANDLE port, DWORD) { return refuseSerial("PurgeComm", port); }
BOOL SetCommMask(HANDLE port, DWORD) { return refuseSerial("SetCommMask", port); }
BOOL WaitCommEvent(HANDLE port, LPDWORD, LPOVERLAPPED) { return refuseSerial("WaitCommEvent", port); }

}  // extern "C"
