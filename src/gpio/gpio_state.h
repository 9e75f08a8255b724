// What the GPIO exports keep between calls: the driver handle each pin interrupt holds open.
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// One slot per module index that reaches the driver, 1 to 34; the slot of index i is entry i - 1.
constexpr uint32_t kGpioSlotCount = 34;

// Zero when the library is loaded.
struct GpioState {
    // A slot holds only the handle a set interrupt keeps open, and 0 otherwise.
    HANDLE interruptSlots[kGpioSlotCount];
};
extern GpioState gpioState;

}  // namespace tarvik
