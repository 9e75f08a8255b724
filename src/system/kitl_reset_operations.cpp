// The debug link's power goes to the kernel through KitlDevice; the reset goes to the reset
// driver through PhysicalAccessDevice. None of them prints.
#include "system/kitl_reset_operations.h"

#include "system/kitl_device.h"
#include "system/physical_access_device.h"

namespace tarvik {

KitlDevice kitlDevice;

uint8_t ControlPowerKITL(uint8_t on) { return kitlDevice.switchPower(on == 1 ? 1 : 0) ? 1 : 0; }

uint8_t RestartPowerKITL() {
    if (!kitlDevice.switchPower(0)) return 0;
    return kitlDevice.switchPower(1) ? 1 : 0;
}

void SoftReset() {
    const PhysicalAccessDevice phy;
    phy.requestReset();
}

}  // namespace tarvik
