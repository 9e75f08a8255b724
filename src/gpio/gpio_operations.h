// The five exported GPIO operations, by module index.
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

uint8_t GPIOSetDirection(uint32_t index, uint8_t input, uint8_t level);
void GPIOSetPin(uint32_t index, uint8_t level);
uint8_t GPIOGetPin(uint32_t index);
uint8_t GPIOSetInterrupt(uint32_t index, uint32_t mode, HANDLE event);
uint8_t GPIOClearInterrupt(uint32_t index);

}  // namespace tarvik
