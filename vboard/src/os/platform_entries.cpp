// The platform calls the virtual board plays, as C functions: each one runs its body (kernel.cpp
// and the *_calls.cpp of os/) behind a guard, so that no exception reaches the library or the
// application; one that gets this far fails the call with the system's failure value.
#include "os/entry_guard.h"

namespace vboard {
namespace calls {
// Defined with the other bodies in kernel.cpp.
DWORD GetLastError(void);
void SetLastError(DWORD error);
HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL CloseHandle(HANDLE);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
BOOL EventModify(HANDLE, DWORD);
DWORD WaitForSingleObject(HANDLE, DWORD);
void Sleep(DWORD);
void GetSystemTime(LPSYSTEMTIME);
// registry_calls.cpp
LONG RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
LONG RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LONG RegSetValueExW(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
LONG RegDeleteValueW(HKEY, LPCWSTR);
LONG RegCloseKey(HKEY);
LONG RegFlushKey(HKEY);
LONG RegSaveKeyW(HKEY, LPCWSTR, LPSECURITY_ATTRIBUTES);
LONG RegReplaceKeyW(HKEY, LPCWSTR, LPCWSTR, LPCWSTR);
BOOL SetCurrentUser(LPCWSTR, BYTE*, DWORD, BOOL);
// file_calls.cpp
BOOL CopyFileW(LPCWSTR, LPCWSTR, BOOL);
BOOL DeleteFileW(LPCWSTR);
HANDLE FindFirstFileW(LPCWSTR, LPWIN32_FIND_DATAW);
BOOL FindClose(HANDLE);
BOOL SetFileAttributesW(LPCWSTR, DWORD);
// serial_calls.cpp
BOOL GetCommState(HANDLE, LPDCB);
BOOL SetCommState(HANDLE, LPDCB);
BOOL GetCommTimeouts(HANDLE, LPCOMMTIMEOUTS);
BOOL SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS);
BOOL PurgeComm(HANDLE, DWORD);
BOOL SetCommMask(HANDLE, DWORD);
BOOL WaitCommEvent(HANDLE, LPDWORD, LPOVERLAPPED);
// kernel_io_calls.cpp
BOOL KernelIoControl(DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD);
BOOL TouchCalibrate(void);
}  // namespace calls
}  // namespace vboard

using namespace vboard;

extern "C" {

// ---- Drivers, handles, the last error ----

DWORD GetLastError(void) {
    // Whatever happens while the call is recorded, the caller gets its last error.
    const DWORD error = lastErrorValue();
    try {
        return calls::GetLastError();
    } catch (...) {
        return error;
    }
}

void SetLastError(DWORD error) { calls::SetLastError(error); }

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile) {
    return guardCall(__func__, INVALID_HANDLE_VALUE, [&] {
        return calls::CreateFileW(name, access, share, security, creation, flags, templateFile);
    });
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    return guardCall(__func__, BOOL{FALSE}, [&] {
        return calls::DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned,
                                      overlapped);
    });
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    return guardCall(__func__, BOOL{FALSE},
                     [&] { return calls::ReadFile(file, buffer, size, read, overlapped); });
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
               LPOVERLAPPED overlapped) {
    return guardCall(__func__, BOOL{FALSE},
                     [&] { return calls::WriteFile(file, buffer, size, written, overlapped); });
}

BOOL CloseHandle(HANDLE object) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::CloseHandle(object); });
}

// ---- Events, pauses, time ----

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCWSTR name) {
    return guardCall(__func__, HANDLE{nullptr}, [&] {
        return calls::CreateEventW(security, manualReset, initialState, name);
    });
}

BOOL EventModify(HANDLE event, DWORD function) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::EventModify(event, function); });
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return guardCall(__func__, DWORD{WAIT_FAILED},
                     [&] { return calls::WaitForSingleObject(object, milliseconds); });
}

void Sleep(DWORD milliseconds) {
    guardVoidCall(__func__, [&] { calls::Sleep(milliseconds); });
}

void GetSystemTime(LPSYSTEMTIME time) {
    guardVoidCall(__func__, [&] { calls::GetSystemTime(time); });
}

// ---- Registry ----

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
    return guardRegistryCall(
        __func__, [&] { return calls::RegOpenKeyExW(root, subKey, options, sam, result); });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
    return guardRegistryCall(
        __func__, [&] { return calls::RegQueryValueExW(key, name, reserved, type, data, size); });
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
    return guardRegistryCall(
        __func__, [&] { return calls::RegSetValueExW(key, name, reserved, type, data, size); });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    return guardRegistryCall(__func__, [&] { return calls::RegDeleteValueW(key, name); });
}

LONG RegCloseKey(HKEY key) {
    return guardRegistryCall(__func__, [&] { return calls::RegCloseKey(key); });
}

LONG RegFlushKey(HKEY key) {
    return guardRegistryCall(__func__, [&] { return calls::RegFlushKey(key); });
}

LONG RegSaveKeyW(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES security) {
    return guardRegistryCall(__func__, [&] { return calls::RegSaveKeyW(key, file, security); });
}

LONG RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
    return guardRegistryCall(
        __func__, [&] { return calls::RegReplaceKeyW(key, subKey, newFile, oldFile); });
}

BOOL SetCurrentUser(LPCWSTR name, BYTE* data, DWORD size, BOOL flag) {
    return guardCall(__func__, BOOL{FALSE},
                     [&] { return calls::SetCurrentUser(name, data, size, flag); });
}

// ---- Files ----

BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL failIfExists) {
    return guardCall(__func__, BOOL{FALSE},
                     [&] { return calls::CopyFileW(existing, target, failIfExists); });
}

BOOL DeleteFileW(LPCWSTR name) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::DeleteFileW(name); });
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
    return guardCall(__func__, INVALID_HANDLE_VALUE,
                     [&] { return calls::FindFirstFileW(pattern, found); });
}

BOOL FindClose(HANDLE find) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::FindClose(find); });
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
    return guardCall(__func__, BOOL{FALSE},
                     [&] { return calls::SetFileAttributesW(name, attributes); });
}

// ---- Serial communication ----

BOOL GetCommState(HANDLE port, LPDCB dcb) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::GetCommState(port, dcb); });
}

BOOL SetCommState(HANDLE port, LPDCB dcb) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::SetCommState(port, dcb); });
}

BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::GetCommTimeouts(port, timeouts); });
}

BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::SetCommTimeouts(port, timeouts); });
}

BOOL PurgeComm(HANDLE port, DWORD flags) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::PurgeComm(port, flags); });
}

BOOL SetCommMask(HANDLE port, DWORD mask) {
    return guardCall(__func__, BOOL{FALSE}, [&] { return calls::SetCommMask(port, mask); });
}

BOOL WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped) {
    return guardCall(__func__, BOOL{FALSE},
                     [&] { return calls::WaitCommEvent(port, mask, overlapped); });
}

// ---- Kernel ----

BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD bytesReturned) {
    return guardCall(__func__, BOOL{FALSE}, [&] {
        return calls::KernelIoControl(code, in, inSize, out, outSize, bytesReturned);
    });
}

BOOL TouchCalibrate(void) {
    return guardCall(__func__, BOOL{FALSE}, [] { return calls::TouchCalibrate(); });
}

}  // extern "C"
