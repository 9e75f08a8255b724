// TouchDevice: the calibration is the platform's own screen; the touch driver keeps its result in
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\TOUCH "CalibrationData", which is deleted here so that
// the driver asks for a new calibration at the next start. The key is never created.
#include "system/touch_device.h"

#include "tarvik_platform.h"

namespace tarvik {
namespace {
constexpr REGSAM kKeySetValue = 0x0002;  // KEY_SET_VALUE: deleting a value needs no more
}  // namespace

bool TouchDevice::calibrate() const { return TouchCalibrate() != 0; }

bool TouchDevice::clearCalibration() const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\TOUCH", 0, kKeySetValue, &key) !=
        ERROR_SUCCESS)
        return false;
    const bool deleted = RegDeleteValueW(key, L"CalibrationData") == ERROR_SUCCESS;
    RegCloseKey(key);
    return deleted;
}

}  // namespace tarvik
