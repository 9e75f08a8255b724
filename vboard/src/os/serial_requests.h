// The CE serial driver's requests: coredll turns each serial call into one of these on the COM
// driver's handle, and the board's serial calls do the same.
#pragma once

#include "tarvik_platform.h"

namespace vboard {

constexpr DWORD kFileDeviceSerialPort = 0x1B;
constexpr DWORD serialRequest(DWORD function) {
    return CTL_CODE(kFileDeviceSerialPort, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

constexpr DWORD kSerialGetWaitMask = serialRequest(8);   // out: DWORD
constexpr DWORD kSerialSetWaitMask = serialRequest(9);   // in: DWORD
constexpr DWORD kSerialWaitOnMask = serialRequest(10);   // out: DWORD, the events that ended it
constexpr DWORD kSerialSetTimeouts = serialRequest(14);  // in: COMMTIMEOUTS
constexpr DWORD kSerialGetTimeouts = serialRequest(15);  // out: COMMTIMEOUTS
constexpr DWORD kSerialPurge = serialRequest(16);        // in: DWORD, PURGE_* flags
constexpr DWORD kSerialGetDcb = serialRequest(19);       // out: DCB
constexpr DWORD kSerialSetDcb = serialRequest(20);       // in: DCB

}  // namespace vboard
