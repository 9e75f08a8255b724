// The backlight driver's requests and its level record. (The per-user settings it reads from the
// registry are written by BacklightDevice, value by value.)
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

constexpr DWORD kFileDeviceBacklight = 0x113;
constexpr DWORD IOCTL_BKL_SET_LEVEL =
    CTL_CODE(kFileDeviceBacklight, 0x103, METHOD_BUFFERED, FILE_ANY_ACCESS);
// Applies the level request before it; no buffers.
constexpr DWORD IOCTL_BKL_FOLLOW_UP =
    CTL_CODE(kFileDeviceBacklight, 0x104, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_BKL_SET_LEVEL == 0x0113040C && IOCTL_BKL_FOLLOW_UP == 0x01130410,
              "backlight request codes");

struct BacklightLevelRecord {
    uint32_t level;       // as the caller gave it, neither checked nor scaled
    uint32_t one;         // always 1
    uint32_t levelAgain;  // the level once more
    uint32_t reserved;    // 0
};
static_assert(sizeof(BacklightLevelRecord) == 16, "BacklightLevelRecord is 16 bytes");
static_assert(offsetof(BacklightLevelRecord, one) == 4 &&
                  offsetof(BacklightLevelRecord, levelAgain) == 8 &&
                  offsetof(BacklightLevelRecord, reserved) == 12,
              "BacklightLevelRecord layout");

}  // namespace tarvik
