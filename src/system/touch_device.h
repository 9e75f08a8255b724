// TouchDevice: the only code that starts the platform's touch calibration and deletes the
// calibration it stores in the registry.
#pragma once

namespace tarvik {

// No fields; no key outlives an operation.
class TouchDevice {
public:
    // True when the platform's calibration reported success.
    bool calibrate() const;
    // True when the stored calibration was deleted; false when the key or the value is missing.
    bool clearCalibration() const;
};

}  // namespace tarvik
