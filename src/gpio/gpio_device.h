// GpioDevice: the only code that talks to the board's GPIO driver, "GIO1:".
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// Stateless: every operation works on the handle slot it is given, which always exists (a
// reference). A slot holds 0 (no handle), INVALID_HANDLE_VALUE (a failed open, which the next
// request reports), or an open handle.
class GpioDevice {
public:
    // Opens "GIO1:" into the slot. A failed open is not tested here: it leaves
    // INVALID_HANDLE_VALUE in the slot and shows as the next request's rejection.
    void openDriver(HANDLE& slot) const;
    // Closes the slot's handle, if it holds an open one, and empties the slot.
    void closeDriver(HANDLE& slot) const;

    bool setDirection(HANDLE slot, int32_t bank, int32_t pin, uint8_t inputFlag,
                      uint32_t interruptMode) const;
    bool setPin(HANDLE slot, int32_t bank, int32_t pin, uint8_t levelFlag) const;
    // True when the driver accepted and read the pin as 0. A slot holding 0 sends nothing.
    bool getPin(HANDLE slot, int32_t bank, int32_t pin) const;
    // A slot holding 0 sends nothing.
    bool registerEvent(HANDLE slot, HANDLE event, int32_t bank, int32_t pin) const;
    bool clearEvent(HANDLE slot, int32_t bank, int32_t pin) const;
};

}  // namespace tarvik
