// The debug link's power goes to the kernel through KernelIoControl; the reset goes to the reset
// driver through PhysicalAccessDevice. None of them prints.
#include "system/kitl_reset_operations.h"

#include "system/kitl_records.h"
#include "system/physical_access_device.h"

namespace tarvik {
namespace {

bool switchKitlPower(DWORD on) {
    DWORD returned = 0;  // the kernel wants somewhere to write it; nobody reads it
    return KernelIoControl(IOCTL_KITL_POWER, &on, sizeof on, nullptr, 0, &returned) != 0;
}

}  // namespace

uint8_t ControlPowerKITL(uint8_t on) { return switchKitlPower(on == 1 ? 1 : 0) ? 1 : 0; }

uint8_t RestartPowerKITL() {
    if (!switchKitlPower(0)) return 0;
    return switchKitlPower(1) ? 1 : 0;
}

void SoftReset() {
    const PhysicalAccessDevice phy;
    phy.requestReset();
}

}  // namespace tarvik
