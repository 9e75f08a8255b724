// The serial driver's records and requests. Its records are the platform's DCB and COMMTIMEOUTS
// (declared by the seam, since Tarvik.h takes a DCB); its requests are the event masks and wait
// words the library hands to the platform's serial calls, and the flow control the exports take.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

// The serial records cross into the serial driver byte for byte, as the device lays them out.
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes");
static_assert(offsetof(DCB, BaudRate) == 4 && offsetof(DCB, wReserved) == 12 &&
                  offsetof(DCB, XonLim) == 14 && offsetof(DCB, XoffLim) == 16 &&
                  offsetof(DCB, ByteSize) == 18 && offsetof(DCB, Parity) == 19 &&
                  offsetof(DCB, StopBits) == 20 && offsetof(DCB, XonChar) == 21 &&
                  offsetof(DCB, XoffChar) == 22 && offsetof(DCB, ErrorChar) == 23 &&
                  offsetof(DCB, EofChar) == 24 && offsetof(DCB, EvtChar) == 25 &&
                  offsetof(DCB, wReserved1) == 26,
              "DCB field offsets");
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS is 20 bytes");

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
