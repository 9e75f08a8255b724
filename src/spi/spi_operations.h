// The four exported SPI operations, by port: 0 is "SPI1:", 1 is "SPI2:".
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

uint8_t SPIOpen(uint32_t port);
void SPIClose(uint32_t port);
uint8_t SPIConfigure(uint32_t port, uint32_t mode, uint32_t frequency, uint32_t configByte);
uint8_t SPIExchange(uint32_t port, int32_t bitLength, const uint8_t* txBuffer, uint8_t* rxBuffer);

}  // namespace tarvik
