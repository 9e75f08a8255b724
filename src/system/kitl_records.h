// The kernel's request for the power of the KITL debug link.
#pragma once

#include "tarvik_platform.h"

namespace tarvik {

// Input: one 32-bit word, 1 to power the link on and 0 to power it off; no output.
constexpr DWORD IOCTL_KITL_POWER = CTL_CODE(FILE_DEVICE_HAL, 81, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_KITL_POWER == 0x01010144, "KITL power request code");

}  // namespace tarvik
