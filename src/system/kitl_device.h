// KitlDevice: the only code that asks the kernel to power the KITL debug link up or down.
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// No fields: the link is the kernel's, reached through KernelIoControl, with no handle to keep.
class KitlDevice {
public:
    // Sends IOCTL_KITL_POWER with `on` (1 on, 0 off); true when the kernel accepted it.
    bool switchPower(DWORD on) const;
};

}  // namespace tarvik
