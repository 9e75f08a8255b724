// The serial driver's requests: the event masks and wait words the library hands to the
// platform's serial calls, and the flow control the exports take. The records the driver reads
// are the platform's own DCB and COMMTIMEOUTS (tarvik_platform.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// Every event a CE serial driver reports: RXCHAR, RXFLAG, TXEMPTY, CTS, DSR, RLSD, BREAK, ERR,
// RING. The library arms them all and does not look at which one ended a wait.
constexpr DWORD kSerialAllEvents = 0x1FF;
// The event word a read and a write hand to WaitCommEvent before it is overwritten: EV_RXFLAG
// and EV_TXEMPTY.
constexpr DWORD kSerialReadWaitWord = 0x0002;
constexpr DWORD kSerialWriteWaitWord = EV_TXEMPTY;

// flowControl as the exports take it.
enum SerialFlowControl : int32_t {
    kFlowNone = 0,
    kFlowHardware = 1,
    kFlowSoftware = 2,
};

}  // namespace tarvik
