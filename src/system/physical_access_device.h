// PhysicalAccessDevice: the only code that talks to the physical-access drivers "PHY1:" to
// "PHY9:" and to the module reset driver "IOC1:".
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// Stateless: each export makes one for its call. No handle outlives an operation, except the
// one of an accepted reset, which the restarting module never gets back to close.
class PhysicalAccessDevice {
public:
    // True when the driver accepted the read; `value` is then the register's content (and 0
    // otherwise, never an unset word).
    bool readRegister(uint8_t device, uint32_t address, uint8_t width, uint32_t* value) const;
    bool writeRegister(uint8_t device, uint32_t address, uint8_t width, uint32_t value) const;
    // True when "IOC1:" accepted the reset request; its handle is then left open.
    bool requestReset() const;
};

}  // namespace tarvik
