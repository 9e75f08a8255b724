// What the CAN exports keep between calls, from load to unload: the controller's handle and the
// records the driver reads, which outlive CANClose.
#pragma once

#include <stdint.h>

#include "can/can_records.h"
#include "tarvik_platform.h"

namespace tarvik {

// Zero when the library is loaded. The controller's handle, the two message records with their
// status words, the transfer request they share, and the last filter.
struct CanState {
    HANDLE handle;
    // The identifier format the last CANConfigureMode chose (0: 11-bit), which the filter's
    // identifier check follows. The receive record's own field is no guide: the driver writes
    // each received frame's format into it.
    uint32_t extendedId;
    CanMessageRecord receiveRecord;
    CanMessageRecord transmitRecord;
    CanTransferRequest transferRequest;
    CanFilterRecord filterRecord;
    uint32_t filterHandle;
    // Written only by the driver, through the records' status pointers.
    uint32_t receiveStatus;
    uint32_t transmitStatus;
};
extern CanState canState;

}  // namespace tarvik
