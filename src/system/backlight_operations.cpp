// The exported backlight operations, on the library's one BacklightDevice.
#include "system/backlight_operations.h"

#include "system/backlight_device.h"

namespace tarvik {

BacklightDevice backlightDevice;

uint8_t SetBacklightLevel(uint32_t level) { return backlightDevice.setLevel(level) ? 1 : 0; }

uint8_t SetBacklightSuspend(uint32_t timeout, uint8_t enable) {
    if (!backlightDevice.writeTimeouts(timeout)) return 0;
    return backlightDevice.writeTimeoutUse(enable) ? 1 : 0;
}

}  // namespace tarvik
