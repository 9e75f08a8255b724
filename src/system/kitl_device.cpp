// KitlDevice: the KITL power request goes to the kernel as one input word and no output.
#include "system/kitl_device.h"

#include "system/kitl_records.h"

namespace tarvik {

bool KitlDevice::switchPower(DWORD on) const {
    DWORD returned = 0;  // the kernel wants somewhere to write it; nobody reads it
    return KernelIoControl(IOCTL_KITL_POWER, &on, sizeof on, nullptr, 0, &returned) != 0;
}

}  // namespace tarvik
