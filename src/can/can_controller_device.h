// CanControllerDevice: the only code that talks to the board's CAN controller driver, "CAN1:".
#pragma once

#include <stdint.h>

#include "can/can_records.h"
#include "tarvik_platform.h"

namespace tarvik {

// Stateless: every operation works on the handle slot and records it is given. Apart from
// openController, the operations are called only while the slot holds a handle. Every line a
// request prints carries GetLastError, taken right after the request, success or not.
class CanControllerDevice {
public:
    // Opens the driver into the slot, whatever CreateFileW answers (a failure leaves
    // INVALID_HANDLE_VALUE there).
    bool openController(HANDLE* slot, const WCHAR* device) const;
    // Closes the slot's handle, if it holds an open one, empties the slot and reports the close.
    void closeController(HANDLE* slot) const;

    // Asks the driver for its timing, chooses the prescaler nearest to the one the bit rate
    // needs, and sends the timing back with it.
    bool setBitrate(HANDLE* slot, uint32_t bitrate) const;
    bool setTiming(HANDLE* slot, const CanTimingRecord& record) const;
    // Exactly 1 switches the mode on; any other value switches it off.
    bool setTlprio(HANDLE* slot, uint8_t flag) const;
    bool setLoopback(HANDLE* slot, uint8_t flag) const;
    // The driver's handle for the new filter lands in *filterHandle when the request succeeds.
    bool addFilter(HANDLE* slot, uint32_t* filterHandle, const CanFilterRecord& record) const;
    bool removeFilter(HANDLE* slot, const uint32_t* filterHandle) const;
    // Hands the request's message record to the driver. Only the request's own outcome is
    // reported; the message's status word is the caller's to read.
    bool transfer(HANDLE* slot, CanTransferRequest* request) const;
};

// The prescaler nearest to baseclock / bitrate / quanta, computed in single precision as the
// controller's own tools do; ties go to the lower one, and 65536 wraps to 0 in the 16-bit field.
uint16_t nearestPrescaler(uint32_t baseclock, uint32_t bitrate, uint32_t quanta);

}  // namespace tarvik
