// What every family shares in its debug lines: the pair that reports a platform call's outcome,
// the line that gives the platform's error code after a failure, and an export's refusal.
#pragma once

#include <stdint.h>

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

// An export that refuses prints its line and answers 0.
inline uint8_t refuse(const WCHAR* line) {
    NKDbgPrintfW(line);
    return 0;
}

}  // namespace tarvik
