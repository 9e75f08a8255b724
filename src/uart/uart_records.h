// The UART family's records: what each port keeps between calls, and the serial constants the
// library hands to the platform's serial calls. The DCB and COMMTIMEOUTS records themselves are
// the platform's own (tarvik_platform.h).
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

// One serial port as the library keeps it, from load to unload.
struct UartPort {
    HANDLE handle;          // 0 not open, INVALID_HANDLE_VALUE after a failed open, else open
    DCB dcb;                // refreshed from the driver by every configuration
    COMMTIMEOUTS timeouts;  // filled from the driver, changed by a read or a write
    int32_t baudRate;       // the rate of the last UARTConfigure, for the read pause only
};
// On the 32-bit module the record is exactly these fields, one after the other.
static_assert(sizeof(void*) != 4 || sizeof(UartPort) == 56, "UartPort is 56 bytes");
static_assert(sizeof(void*) != 4 ||
                  (offsetof(UartPort, dcb) == 4 && offsetof(UartPort, timeouts) == 32 &&
                   offsetof(UartPort, baudRate) == 52),
              "UartPort layout");

}  // namespace tarvik
