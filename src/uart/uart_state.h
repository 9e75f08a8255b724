// What the UART exports keep between calls: each port's handle and records, from UARTOpen to
// UARTClose and beyond.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// Ports 1, 2 and 3; the record of port p is entry p - 1. Port 3 passes every port check but has
// no device, so it never opens.
constexpr uint32_t kUartPortCount = 3;

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

// Zero when the library is loaded.
struct UartState {
    UartPort ports[kUartPortCount];
};
extern UartState uartState;

}  // namespace tarvik
