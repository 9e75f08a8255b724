// The exported entries. Each one hands its arguments, untouched, to the family operation of the
// same name; checks, messages and results all belong to the family.
#include "Tarvik.h"

#include "gpio/gpio_operations.h"
#include "system/backlight_operations.h"
#include "system/kitl_reset_operations.h"
#include "system/physical_access_operations.h"
#include "system/registry_persistence_operations.h"
#include "system/touch_operations.h"
#include "versions.h"

extern "C" {

uint32_t TarvikGetVersion(void) { return tarvik::TarvikGetVersion(); }
uint32_t BSPGetVersion(void) { return tarvik::BSPGetVersion(); }
uint32_t WinCEImageGetVersion(void) { return tarvik::WinCEImageGetVersion(); }

uint8_t GPIOSetDirection(uint32_t index, uint8_t input, uint8_t level) {
    return tarvik::GPIOSetDirection(index, input, level);
}
void GPIOSetPin(uint32_t index, uint8_t level) { tarvik::GPIOSetPin(index, level); }
uint8_t GPIOGetPin(uint32_t index) { return tarvik::GPIOGetPin(index); }
uint8_t GPIOSetInterrupt(uint32_t index, uint32_t mode, HANDLE event) {
    return tarvik::GPIOSetInterrupt(index, mode, event);
}
uint8_t GPIOClearInterrupt(uint32_t index) { return tarvik::GPIOClearInterrupt(index); }

uint32_t ReadPhysicalAddress(uint8_t device, uint32_t address, uint8_t width) {
    return tarvik::ReadPhysicalAddress(device, address, width);
}
uint32_t WritePhysicalAddress(uint8_t device, uint32_t address, uint8_t width, uint32_t value,
                              uint8_t readBack) {
    return tarvik::WritePhysicalAddress(device, address, width, value, readBack);
}

uint8_t ControlPowerKITL(uint8_t on) { return tarvik::ControlPowerKITL(on); }
uint8_t RestartPowerKITL(void) { return tarvik::RestartPowerKITL(); }
void SoftReset(void) { tarvik::SoftReset(); }

uint8_t SetBacklightLevel(uint32_t level) { return tarvik::SetBacklightLevel(level); }
uint8_t SetBacklightSuspend(uint32_t timeout, uint8_t enable) {
    return tarvik::SetBacklightSuspend(timeout, enable);
}

uint8_t CalibrateTouch(void) { return tarvik::CalibrateTouch(); }
uint8_t ClearTouchCalibrationData(void) { return tarvik::ClearTouchCalibrationData(); }

uint8_t SaveRegistry(void) { return tarvik::SaveRegistry(); }
uint8_t CreateRegistryBackup(void) { return tarvik::CreateRegistryBackup(); }
uint8_t RestoreRegistryBackup(void) { return tarvik::RestoreRegistryBackup(); }

}  // extern "C"
