// Driver handles as the device objects open them and keep them, in slots. A slot holds 0 (no
// handle), INVALID_HANDLE_VALUE (a failed open, which each family answers in its own way until
// the slot is emptied) or an open handle. The device object that opens into a slot also empties
// it when it closes, so a slot never holds a closed handle.
#pragma once

#include "tarvik_platform.h"

namespace tarvik {

// Opens one of the board's stream drivers ("GIO1:", "COM2:" ...) for reading and writing, shared
// with other openers, as every family opens its driver. INVALID_HANDLE_VALUE when it fails.
inline HANDLE openDriver(const WCHAR* deviceName, DWORD flags) {
    return CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}

// True when the slot holds an open handle: neither 0 nor the INVALID_HANDLE_VALUE of a failed open.
inline bool holdsHandle(HANDLE slot) { return slot != nullptr && slot != INVALID_HANDLE_VALUE; }

// Closes the slot's handle, if it holds an open one, and empties the slot. A failed open left
// nothing to close: closing INVALID_HANDLE_VALUE would be a misuse.
inline void closeSlot(HANDLE& slot) {
    if (holdsHandle(slot)) CloseHandle(slot);
    slot = nullptr;
}

}  // namespace tarvik
