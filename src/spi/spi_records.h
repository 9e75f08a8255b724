// The SPI driver's exchange request and the two records it reads: the exchange record handed in
// the input buffer, and the port's bus configuration it points at.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

constexpr DWORD IOCTL_SPI_EXCHANGE =
    CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xBD6, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_SPI_EXCHANGE == 0x002A2F58, "SPI exchange request code");

// The clock and framing of one port, which the driver reads through the exchange record. The
// fields without a name are written as 0 with every configuration.
struct SpiBusConfig {
    uint8_t chipSelect;  // the port's chip-select line
    uint8_t padding0[3];
    uint32_t frequency;  // Hz, as the caller gave it
    int32_t bitCount;    // bits in the current exchange
    uint32_t reserved0;
    uint32_t polarity;   // clock idles high when 1
    uint32_t phase;      // data sampled on the second edge when 1
    uint8_t reserved1;
    uint8_t padding1[3];
    uint32_t configByte;  // 0 to 255
};
static_assert(sizeof(SpiBusConfig) == 32, "SpiBusConfig is 32 bytes");
static_assert(offsetof(SpiBusConfig, frequency) == 4 && offsetof(SpiBusConfig, bitCount) == 8 &&
                  offsetof(SpiBusConfig, reserved0) == 12 &&
                  offsetof(SpiBusConfig, polarity) == 16 && offsetof(SpiBusConfig, phase) == 20 &&
                  offsetof(SpiBusConfig, reserved1) == 24 &&
                  offsetof(SpiBusConfig, configByte) == 28,
              "SpiBusConfig layout");

// The input of IOCTL_SPI_EXCHANGE. The driver moves the data between the two buffers and the bus,
// then sets the event named here, which the library waits on.
struct SpiExchangeRecord {
    SpiBusConfig* busConfig;
    const void* txBuffer;  // the bytes to send
    void* rxBuffer;        // the bytes received
    uint32_t wordCount;    // 32-bit words the exchange spans
    const WCHAR* eventName;
    uint32_t eventNameTag;
};
// With 32-bit pointers, as on the device, the record is exactly what the driver reads.
static_assert(sizeof(void*) != 4 || sizeof(SpiExchangeRecord) == 24, "SpiExchangeRecord is 24 bytes");
static_assert(sizeof(void*) != 4 || (offsetof(SpiExchangeRecord, txBuffer) == 4 &&
                                     offsetof(SpiExchangeRecord, rxBuffer) == 8 &&
                                     offsetof(SpiExchangeRecord, wordCount) == 12 &&
                                     offsetof(SpiExchangeRecord, eventName) == 16 &&
                                     offsetof(SpiExchangeRecord, eventNameTag) == 20),
              "SpiExchangeRecord layout");

// The completion event both ports share, and the tag its name travels with.
inline constexpr WCHAR kSpiEventName[] = L"SPI_EVENT";
constexpr uint32_t kSpiEventNameTag = 4;

}  // namespace tarvik
