// What the SPI exports keep between calls: each port's handle and records, and the completion
// event both ports share. What one export leaves here is what the next one sends.
#pragma once

#include <stdint.h>

#include "spi/spi_records.h"
#include "tarvik_platform.h"

namespace tarvik {

constexpr uint32_t kSpiPortCount = 2;

// One port as the library keeps it, from load to unload.
struct SpiPort {
    HANDLE handle;  // 0 not open, INVALID_HANDLE_VALUE after a failed open, else open
    SpiBusConfig busConfig;
    SpiExchangeRecord exchange;
};

// Zero when the library is loaded, padding included, as the driver would read the records then.
struct SpiState {
    SpiPort ports[kSpiPortCount];
    // The named event the driver sets when an exchange is done: 0, or the handle the newest
    // configuration of either port created.
    HANDLE exchangeEvent;
};
extern SpiState spiState;

}  // namespace tarvik
