// What the I2C exports keep between calls: the handle I2COpen keeps for each bus until I2CClose.
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// One slot per module bus, 0 to 2.
constexpr uint32_t kI2cBusCount = 3;

// Zero when the library is loaded.
struct I2cState {
    // 0 (no handle), INVALID_HANDLE_VALUE (a failed open) or the open handle.
    HANDLE busSlots[kI2cBusCount];
};
extern I2cState i2cState;

}  // namespace tarvik
