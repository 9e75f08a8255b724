// The eight exported UART operations, by port number (1 and 2; 3 has a record but no device).
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

uint8_t UARTOpen(uint32_t port, int32_t flowControl, int32_t baudRate);
void UARTClose(uint32_t port);
uint8_t UARTConfigure(uint32_t port, int32_t flowControl, int32_t parity, int32_t stopBits,
                      int32_t byteSize, int32_t baudRate);
uint8_t UARTConfigureStructure(uint32_t port, const DCB* dcb);
uint8_t UARTConfigureTimeout(uint32_t port, uint32_t reserved1, uint32_t reserved2);
uint8_t UARTClearBuffer(uint32_t port);
uint8_t UARTRead(uint32_t port, uint32_t size, uint8_t* buffer);
uint8_t UARTWrite(uint32_t port, const char* data);

}  // namespace tarvik
