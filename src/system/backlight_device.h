// BacklightDevice: the only code that talks to the backlight driver "BKL1:" and writes the
// per-user backlight settings under HKEY_CURRENT_USER\ControlPanel\BackLight.
#pragma once

#include <stdint.h>

namespace tarvik {

// No fields: every operation opens its driver handle or registry key and closes it again.
class BacklightDevice {
public:
    // The level request and, once it is accepted, the follow-up; true when both were accepted.
    bool setLevel(uint32_t level) const;
    // "ACTimeout" and "BatteryTimeout", both set to the time-out.
    bool writeTimeouts(uint32_t timeout) const;
    // "UseExt" and "UseBattery", both 1 when enable is exactly 1 and 0 otherwise.
    bool writeTimeoutUse(uint8_t enable) const;
};

}  // namespace tarvik
