// The two exported touch operations. Neither prints.
#pragma once

#include <stdint.h>

namespace tarvik {

uint8_t CalibrateTouch();
// 1 when the stored calibration was deleted; a second call in a row answers 0.
uint8_t ClearTouchCalibrationData();

}  // namespace tarvik
