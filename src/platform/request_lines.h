// What every family's device object shares in reporting a platform call: the pair of debug
// lines for its outcome, and the line that gives the platform's error code after a failure.
#pragma once

#include "tarvik_platform.h"

namespace tarvik {

// The two lines that report one request: printed when it was accepted, and when it was not.
struct RequestLines {
    const WCHAR* accepted;
    const WCHAR* rejected;
};

// "VELNA HANDLE ERROR: %d\r\n" with an error code taken right after the failed call.
inline void reportHandleError(DWORD error) {
    NKDbgPrintfW(L"VELNA HANDLE ERROR: %d\r\n", static_cast<int>(error));
}

}  // namespace tarvik
