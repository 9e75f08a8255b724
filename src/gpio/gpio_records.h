// The GPIO driver's requests and the records it reads from the input buffer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

constexpr DWORD IOCTL_GPIO_SET_DIRECTION = CTL_CODE(FILE_DEVICE_UNKNOWN, 0, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_GPIO_SET_PIN = CTL_CODE(FILE_DEVICE_UNKNOWN, 1, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_GPIO_GET_PIN = CTL_CODE(FILE_DEVICE_UNKNOWN, 2, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_GPIO_SET_EVENT = CTL_CODE(FILE_DEVICE_UNKNOWN, 3, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_GPIO_CLEAR_EVENT = CTL_CODE(FILE_DEVICE_UNKNOWN, 4, METHOD_BUFFERED, FILE_READ_ACCESS);
static_assert(IOCTL_GPIO_SET_DIRECTION == 0x224000 && IOCTL_GPIO_SET_PIN == 0x224004 &&
                  IOCTL_GPIO_GET_PIN == 0x224008 && IOCTL_GPIO_SET_EVENT == 0x22400C &&
                  IOCTL_GPIO_CLEAR_EVENT == 0x224010,
              "GPIO request codes");

// The mode the driver takes for "no interrupt"; every output is given it.
constexpr uint32_t kGpioNoInterruptMode = 5;

struct GpioDirectionRecord {
    int32_t bank;
    int32_t pin;
    uint32_t pinDirection;   // 0 input, 1 output
    uint32_t interruptMode;  // the caller's mode for an input, always 5 for an output
};
static_assert(sizeof(GpioDirectionRecord) == 16, "GpioDirectionRecord is 16 bytes");
static_assert(offsetof(GpioDirectionRecord, pin) == 4 &&
                  offsetof(GpioDirectionRecord, pinDirection) == 8 &&
                  offsetof(GpioDirectionRecord, interruptMode) == 12,
              "GpioDirectionRecord layout");

// Set: the level to drive. Get: 1 on the way in, the driver's reading on the way back.
struct GpioLevelRecord {
    int32_t bank;
    int32_t pin;
    uint32_t level;
};
static_assert(sizeof(GpioLevelRecord) == 12, "GpioLevelRecord is 12 bytes");
static_assert(offsetof(GpioLevelRecord, pin) == 4 && offsetof(GpioLevelRecord, level) == 8,
              "GpioLevelRecord layout");

struct GpioEventRecord {
    int32_t bank;
    int32_t pin;
    HANDLE eventHandle;  // the caller's event, which the driver sets when the pin interrupts
};
// With 32-bit pointers, as on the device, the record is exactly what the driver reads.
static_assert(sizeof(void*) != 4 || sizeof(GpioEventRecord) == 12, "GpioEventRecord is 12 bytes");
static_assert(sizeof(void*) != 4 || offsetof(GpioEventRecord, eventHandle) == 8,
              "GpioEventRecord layout");

struct GpioPinRecord {
    int32_t bank;
    int32_t pin;
};
static_assert(sizeof(GpioPinRecord) == 8 && offsetof(GpioPinRecord, pin) == 4,
              "GpioPinRecord layout");

}  // namespace tarvik
