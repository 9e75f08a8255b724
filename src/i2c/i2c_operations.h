// The six exported I2C operations, by module bus number 0, 1 and 2.
#pragma once

#include <stdint.h>

namespace tarvik {

uint8_t I2COpen(uint32_t bus, uint32_t frequencyCode);
void I2CClose(uint32_t bus);
uint8_t I2CRead(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                uint8_t registerAddress, uint8_t* value);
uint8_t I2CReadMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                             uint8_t registerAddress, uint8_t length, uint8_t* data);
uint8_t I2CWrite(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                 uint8_t registerAddress, uint8_t value);
uint8_t I2CWriteMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                              uint8_t registerAddress, uint8_t length, const uint8_t* data);

}  // namespace tarvik
