// SpiPortDevice: the only code that talks to the board's SPI drivers, "SPI1:" and "SPI2:".
#pragma once

#include <stdint.h>

#include "spi/spi_state.h"
#include "tarvik_platform.h"

namespace tarvik {

// Stateless: every operation works on the port it is given (port 0 is "SPI1:", 1 is "SPI2:")
// and on the completion event both ports share, whose slot holds 0 or the event.
class SpiPortDevice {
public:
    // Opens the port's driver into its slot, after giving the port's records its chip select
    // and pointing the exchange record at the bus configuration.
    bool openSpiPort(SpiPort& port, uint32_t number) const;
    // Closes the port's driver and the shared completion event, and empties both slots.
    bool closeSpiPort(SpiPort& port, HANDLE& exchangeEvent) const;
    // Stores the clock configuration and (re)creates the completion event.
    bool configureSpiPort(SpiPort& port, HANDLE& exchangeEvent, uint32_t frequency, uint32_t mode,
                          uint8_t configByte) const;
    // Sends bitLength bits and waits until the driver reports the exchange complete.
    bool exchangeSpiData(SpiPort& port, HANDLE exchangeEvent, int32_t bitLength,
                         const uint8_t* txBuffer, uint8_t* rxBuffer) const;
};

}  // namespace tarvik
