// The exported SPI operations. SPIOpen keeps the port's driver handle in its slot until SPIClose;
// SPIConfigure works on the port's records whether or not the port is open; SPIExchange checks
// the slot and hands the exchange to SpiPortDevice.
#include "spi/spi_operations.h"

#include "platform/request_lines.h"
#include "spi/spi_port_device.h"
#include "spi/spi_state.h"

namespace tarvik {

SpiPortDevice spiPortDevice;

namespace {

SpiPort* portOf(uint32_t port) { return port < kSpiPortCount ? &spiState.ports[port] : nullptr; }

// The time of the call, with the hour printed one higher (23 prints as 24).
void printCallTime() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    NKDbgPrintfW(L"WMin %d %d %d\r\n", now.wHour + 1, static_cast<int>(now.wMinute),
                 static_cast<int>(now.wSecond));
}

}  // namespace

uint8_t SPIOpen(uint32_t port) {
    SpiPort* record = portOf(port);
    if (record == nullptr) return refuse(L"Can't Open Spi Port\r\n");
    // A port already open, or left INVALID_HANDLE_VALUE by a failed open, answers 1 at once:
    // SPIClose, then SPIOpen, tries the driver again.
    if (record->handle != nullptr) return 1;
    return spiPortDevice.openSpiPort(*record, port) ? 1 : 0;
}

void SPIClose(uint32_t port) {
    SpiPort* record = portOf(port);
    if (record == nullptr) {
        NKDbgPrintfW(L"Can't Close Spi Port\r\n");
        return;
    }
    if (record->handle == nullptr) return;
    spiPortDevice.closeSpiPort(*record, spiState.exchangeEvent);
}

uint8_t SPIConfigure(uint32_t port, uint32_t mode, uint32_t frequency, uint32_t configByte) {
    SpiPort* record = portOf(port);
    // Only the low byte of the configuration reaches the driver.
    if (record != nullptr &&
        spiPortDevice.configureSpiPort(*record, spiState.exchangeEvent, frequency, mode,
                                       static_cast<uint8_t>(configByte)))
        return 1;
    return refuse(L"Can't Open Spi Event\r\n");
}

uint8_t SPIExchange(uint32_t port, int32_t bitLength, const uint8_t* txBuffer, uint8_t* rxBuffer) {
    printCallTime();
    SpiPort* record = portOf(port);
    if (record == nullptr) return 0;
    if (record->handle == nullptr) return refuse(L"Handle err\r\n");
    if (record->handle == INVALID_HANDLE_VALUE) return refuse(L"Handle invalid err\r\n");
    if (!spiPortDevice.exchangeSpiData(*record, spiState.exchangeEvent, bitLength, txBuffer,
                                       rxBuffer))
        return refuse(L"SPI Exchange cannot operate successful - Werr\r\n");
    NKDbgPrintfW(L"SPI Exchange operate successful - Wout\r\n");
    return 1;
}

}  // namespace tarvik
