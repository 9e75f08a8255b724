// SerialPortDevice: the only code that talks to the board's serial ports, "COM1:" and "COM2:".
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// Stateless. It sends no device requests of its own: it reaches the port through the platform's
// serial calls (GetCommState, PurgeComm, WaitCommEvent ...) and ReadFile/WriteFile. Every
// operation but openPort is given a slot that holds an open handle.
class SerialPortDevice {
public:
    // Port 1 is "COM1:", port 2 "COM2:"; any other number is refused without a line and leaves
    // the slot alone. The handle CreateFileW answers is stored whatever it is.
    bool openPort(HANDLE* slot, uint32_t port) const;
    // Closes the slot's handle, if it holds an open one, and empties the slot.
    bool closePort(HANDLE* slot) const;

    bool configureMode(HANDLE* slot, DCB* dcb, int32_t flowControl, int32_t parity,
                       int32_t stopBits, int32_t byteSize, int32_t baudRate) const;
    // Applies the caller's whole record over what the driver reported.
    bool configureStructure(HANDLE* slot, DCB* dcb, const DCB* caller) const;

    // Both flush the send and then the receive buffer first.
    bool getTimeouts(HANDLE* slot, COMMTIMEOUTS* timeouts) const;
    bool setTimeouts(HANDLE* slot, COMMTIMEOUTS* timeouts) const;

    bool clearReceiveBuffer(HANDLE* slot) const;
    bool clearSendBuffer(HANDLE* slot) const;

    // Arms every serial event; waitEvent then blocks until the driver reports one.
    bool setWaitEvents(HANDLE* slot) const;
    bool waitEvent(HANDLE* slot, DWORD eventWord) const;

    // Sends the first `length` bytes of a NUL-terminated string (all of it when length <= 0).
    bool writeData(HANDLE* slot, const char* data, int32_t length) const;
    // Reads up to `size` bytes; how many came is not reported.
    bool readData(HANDLE* slot, uint8_t* buffer, uint32_t size) const;
};

}  // namespace tarvik
