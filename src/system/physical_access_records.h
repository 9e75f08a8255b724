// The requests of the physical-access drivers "PHY1:" to "PHY9:", the record both of them carry,
// and the module reset request of "IOC1:", which shares the read request's number.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

constexpr DWORD kMethodInDirect = 1;
constexpr DWORD kMethodOutDirect = 2;

// Read: the record is the input buffer and the driver answers in it. Write: the record is the
// output buffer and there is no input buffer. Both arrangements are the driver's interface.
constexpr DWORD IOCTL_PHY_READ = CTL_CODE(0, 0xAEF, kMethodInDirect, FILE_READ_ACCESS);
constexpr DWORD IOCTL_PHY_WRITE = CTL_CODE(0, 0xAEF, kMethodOutDirect, FILE_READ_ACCESS);
// Sent to "IOC1:" with no buffers; the same number as the read, on another driver.
constexpr DWORD IOCTL_IOC_RESET = CTL_CODE(0, 0xAEF, kMethodInDirect, FILE_READ_ACCESS);
static_assert(IOCTL_PHY_READ == 0x6BBD && IOCTL_PHY_WRITE == 0x6BBE && IOCTL_IOC_RESET == 0x6BBD,
              "physical-access and reset request codes");

struct PhysicalAccessRecord {
    uint32_t address;  // physical address of the register
    uint32_t value;    // write: the value to write; read: the driver stores the value read here
    uint8_t width;     // access width in bits, passed through unchecked
    uint8_t reserved[3];
};
static_assert(sizeof(PhysicalAccessRecord) == 12, "PhysicalAccessRecord is 12 bytes");
static_assert(offsetof(PhysicalAccessRecord, value) == 4 &&
                  offsetof(PhysicalAccessRecord, width) == 8 &&
                  offsetof(PhysicalAccessRecord, reserved) == 9,
              "PhysicalAccessRecord layout");

}  // namespace tarvik
