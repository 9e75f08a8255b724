// The exported touch operations, on the library's one TouchDevice.
#include "system/touch_operations.h"

#include "system/touch_device.h"

namespace tarvik {

TouchDevice touchDevice;

uint8_t CalibrateTouch() { return touchDevice.calibrate() ? 1 : 0; }

uint8_t ClearTouchCalibrationData() { return touchDevice.clearCalibration() ? 1 : 0; }

}  // namespace tarvik
