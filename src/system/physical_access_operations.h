// The two exported register accesses at physical addresses.
#pragma once

#include <stdint.h>

namespace tarvik {

// The value read, or 0 when the read failed (a register holding 0 reads the same).
uint32_t ReadPhysicalAddress(uint8_t device, uint32_t address, uint8_t width);
// 1 after a write without read-back, the value read back after one with it, and 0xFFFFFFFF when
// the write or the read-back failed.
uint32_t WritePhysicalAddress(uint8_t device, uint32_t address, uint8_t width, uint32_t value,
                              uint8_t readBack);

}  // namespace tarvik
