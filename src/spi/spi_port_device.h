// SpiPortDevice: the only code that talks to the board's SPI drivers, "SPI1:" and "SPI2:".
#pragma once

#include <stdint.h>

#include "spi/spi_records.h"
#include "tarvik_platform.h"

namespace tarvik {

constexpr uint32_t kSpiPortCount = 2;

// What each port keeps between calls: what one export leaves here is what the next one sends.
// Zero when the library is loaded.
struct SpiPortRecords {
    SpiBusConfig busConfig;
    SpiExchangeRecord exchange;
};
extern SpiPortRecords spiPortRecords[kSpiPortCount];

// Its one piece of state is the completion event that both ports share. The handle slots are the
// caller's: 0 (not open), INVALID_HANDLE_VALUE (a failed open) or an open handle.
class SpiPortDevice {
public:
    // Opens the port's driver into the slot, after giving the port's records its chip select
    // and pointing the exchange record at the bus configuration.
    bool openSpiPort(HANDLE* slot, uint32_t port);
    // Closes the slot's driver and the shared completion event, and empties both.
    bool closeSpiPort(HANDLE* slot);
    // Stores the clock configuration and (re)creates the completion event.
    bool configureSpiPort(uint32_t port, uint32_t frequency, uint32_t mode, uint8_t configByte);
    // Sends bitLength bits and waits until the driver reports the exchange complete.
    bool exchangeSpiData(HANDLE* slot, uint32_t port, int32_t bitLength, const uint8_t* txBuffer,
                         uint8_t* rxBuffer);

    HANDLE exchangeEvent = nullptr;
};

}  // namespace tarvik
