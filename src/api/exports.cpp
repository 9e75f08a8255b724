// The exported entries. Each one hands its arguments, untouched, to the family operation of the
// same name; checks, messages and results all belong to the family.
#include "Tarvik.h"

#include "gpio/gpio_operations.h"
#include "spi/spi_operations.h"
#include "i2c/i2c_operations.h"
#include "uart/uart_operations.h"
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

}  // extern "C"
