// The exported entries. Each one hands its arguments, untouched, to the family operation of the
// same name; checks, messages and results all belong to the family.
#include "Tarvik.h"

#include "can/can_operations.h"
#include "gpio/gpio_operations.h"
#include "spi/spi_operations.h"
#include "i2c/i2c_operations.h"
#include "uart/uart_operations.h"
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

uint8_t SPIOpen(uint32_t port) { return tarvik::SPIOpen(port); }
void SPIClose(uint32_t port) { tarvik::SPIClose(port); }
uint8_t SPIConfigure(uint32_t port, uint32_t mode, uint32_t frequency, uint32_t configByte) {
    return tarvik::SPIConfigure(port, mode, frequency, configByte);
}
uint8_t SPIExchange(uint32_t port, int32_t bitLength, const uint8_t* txBuffer, uint8_t* rxBuffer) {
    return tarvik::SPIExchange(port, bitLength, txBuffer, rxBuffer);
}

uint8_t I2COpen(uint32_t bus, uint32_t frequencyCode) { return tarvik::I2COpen(bus, frequencyCode); }
void I2CClose(uint32_t bus) { tarvik::I2CClose(bus); }
uint8_t I2CRead(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                uint8_t registerAddress, uint8_t* value) {
    return tarvik::I2CRead(bus, frequencyCode, slaveAddress, registerAddress, value);
}
uint8_t I2CReadMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                             uint8_t registerAddress, uint8_t length, uint8_t* data) {
    return tarvik::I2CReadMultipleBytes(bus, frequencyCode, slaveAddress, registerAddress, length,
                                        data);
}
uint8_t I2CWrite(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                 uint8_t registerAddress, uint8_t value) {
    return tarvik::I2CWrite(bus, frequencyCode, slaveAddress, registerAddress, value);
}
uint8_t I2CWriteMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                              uint8_t registerAddress, uint8_t length, const uint8_t* data) {
    return tarvik::I2CWriteMultipleBytes(bus, frequencyCode, slaveAddress, registerAddress, length,
                                         data);
}
uint8_t UARTOpen(uint32_t port, int32_t flowControl, int32_t baudRate) {
    return tarvik::UARTOpen(port, flowControl, baudRate);
}
void UARTClose(uint32_t port) { tarvik::UARTClose(port); }
uint8_t UARTConfigure(uint32_t port, int32_t flowControl, int32_t parity, int32_t stopBits,
                      int32_t byteSize, int32_t baudRate) {
    return tarvik::UARTConfigure(port, flowControl, parity, stopBits, byteSize, baudRate);
}
uint8_t UARTConfigureStructure(uint32_t port, const DCB* dcb) {
    return tarvik::UARTConfigureStructure(port, dcb);
}
uint8_t UARTConfigureTimeout(uint32_t port, uint32_t reserved1, uint32_t reserved2) {
    return tarvik::UARTConfigureTimeout(port, reserved1, reserved2);
}
uint8_t UARTClearBuffer(uint32_t port) { return tarvik::UARTClearBuffer(port); }
uint8_t UARTRead(uint32_t port, uint32_t size, uint8_t* buffer) {
    return tarvik::UARTRead(port, size, buffer);
}
uint8_t UARTWrite(uint32_t port, const char* data) { return tarvik::UARTWrite(port, data); }

uint8_t CANOpen(uint32_t port) { return tarvik::CANOpen(port); }
void CANClose(uint32_t port) { tarvik::CANClose(port); }
uint8_t CANConfigureMode(uint32_t port, uint32_t extendedId, uint32_t bitrate, uint8_t tlprio,
                         uint8_t loopback) {
    return tarvik::CANConfigureMode(port, extendedId, bitrate, tlprio, loopback);
}
uint8_t CANConfigureTiming(uint32_t port, uint32_t prescaler, uint32_t propseg,
                           uint32_t phase1seg, uint32_t phase2seg, uint32_t auxTiming) {
    return tarvik::CANConfigureTiming(port, prescaler, propseg, phase1seg, phase2seg, auxTiming);
}
uint8_t CANConfigureFilter(uint32_t port, int32_t filterId, uint32_t filterMask,
                           uint8_t filterFlag, uint8_t filterOption) {
    return tarvik::CANConfigureFilter(port, filterId, filterMask, filterFlag, filterOption);
}
uint8_t CANResetFilter(uint32_t port) { return tarvik::CANResetFilter(port); }
uint8_t CANConfigureMessage(uint32_t port, uint32_t frameFlag, uint32_t messageId,
                            uint8_t auxByte, uint32_t auxValue, uint8_t direction) {
    return tarvik::CANConfigureMessage(port, frameFlag, messageId, auxByte, auxValue, direction);
}
uint8_t CANGetMessageParameter(uint32_t port, uint32_t* messageId, uint32_t* dataLength,
                               uint32_t* frameFlag, uint8_t* auxByte, uint32_t* auxValue,
                               uint32_t* transmitFlag, uint8_t direction) {
    return tarvik::CANGetMessageParameter(port, messageId, dataLength, frameFlag, auxByte,
                                          auxValue, transmitFlag, direction);
}
uint8_t CANRead(uint32_t port, uint8_t* buffer, int32_t length, uint32_t* status) {
    return tarvik::CANRead(port, buffer, length, status);
}
uint8_t CANWrite(uint32_t port, const uint8_t* data, int32_t length, uint32_t* status) {
    return tarvik::CANWrite(port, data, length, status);
}

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
