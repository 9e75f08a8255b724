// Platform calls whose models come with their families (the serial ports, the storage card, the
// kernel's debug-link and touch calls). Until a family models them, each one is traced and
// refused with ERROR_NOT_SUPPORTED, so a caller sees an honest failure and never a false success.
#include "call.h"
#include "text.h"

using namespace vboard;

namespace {

template <class T>
T refuse(const char* function, std::string args, T failure, DWORD code = 0) {
    Call call(function);
    call.entry.args = std::move(args);
    call.entry.code = code;
    if (auto error = call.fault()) return call.fail(failure, *error);
    return call.fail(failure, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

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
BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL failIfExists) {
    return refuse("CopyFileW", quote(toUtf8(existing)) + " " + quote(toUtf8(target)) +
                                   (failIfExists ? " fail-if-exists" : ""), FALSE);
}
BOOL DeleteFileW(LPCWSTR name) { return refuse("DeleteFileW", quote(toUtf8(name)), FALSE); }
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW) {
    return refuse("FindFirstFileW", quote(toUtf8(pattern)), INVALID_HANDLE_VALUE);
}
BOOL FindClose(HANDLE find) {
    Call call("FindClose");
    auto target = resolve<FindObject>(find, call.entry);
    if (!target) return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
    return refuse("SetFileAttributesW", quote(toUtf8(name)) + " " + hex(attributes), FALSE);
}

BOOL SetCurrentUser(LPCWSTR name, BYTE*, DWORD size, BOOL flag) {
    return refuse("SetCurrentUser", (name ? quote(toUtf8(name)) : std::string("null")) + " size " +
                                        std::to_string(size) + " flag " + std::to_string(flag),
                  FALSE);
}

}  // extern "C"
