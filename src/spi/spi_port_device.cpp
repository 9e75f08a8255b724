// SpiPortDevice: opens "SPI1:" and "SPI2:", fills each port's bus configuration and exchange
// record, and completes every exchange through the named event the driver sets when it is done.
#include "spi/spi_port_device.h"

#include "platform/handle_slot.h"
#include "platform/request_lines.h"

namespace tarvik {
namespace {

// Port 0 is the board's "SPI1:" on chip select 2, port 1 its "SPI2:" on chip select 0.
struct SpiWiring {
    const WCHAR* deviceName;
    uint8_t chipSelect;
};
constexpr SpiWiring kSpiWiring[kSpiPortCount] = {{L"SPI1:", 2}, {L"SPI2:", 0}};

// The usual SPI mode numbering: clock polarity in the high bit, clock phase in the low one.
struct SpiMode {
    uint32_t polarity;
    uint32_t phase;
};
constexpr SpiMode kSpiModes[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
constexpr uint32_t kSpiModeCount = sizeof kSpiModes / sizeof kSpiModes[0];

// Each platform step is reported by a RequestLines pair, both lines with the last error. The
// failed initialisation line has no space before its dash; devices in the field print it that way.
constexpr RequestLines kInitLines = {L"VELNA spi init operate successful - Rout %d\r\n",
                                     L"VELNA spi init cannot operate successful- Rerr %d\r\n"};
constexpr RequestLines kExchangeLines = {
    L"VELNA spi exchange data operate successful - Rout %d\r\n",
    L"VELNA spi exchange data cannot operate successful - Rerr %d\r\n"};

bool report(const RequestLines& lines, bool succeeded, DWORD lastError) {
    NKDbgPrintfW(succeeded ? lines.accepted : lines.rejected, static_cast<int>(lastError));
    return succeeded;
}

// 32-bit words the exchange spans: the signed quotient, truncated, plus one when bits remain
// (so -1 bit gives 1 word and -33 gives 0). The driver reads the count as it is.
uint32_t wordsFor(int32_t bitLength) {
    return static_cast<uint32_t>(bitLength / 32 + (bitLength % 32 != 0 ? 1 : 0));
}

}  // namespace

bool SpiPortDevice::openSpiPort(SpiPort& port, uint32_t number) const {
    if (number >= kSpiPortCount) return false;
    // Set before the driver is opened and kept whatever follows.
    port.busConfig.chipSelect = kSpiWiring[number].chipSelect;
    port.exchange.busConfig = &port.busConfig;
    port.handle = openDriver(kSpiWiring[number].deviceName, FILE_FLAG_RANDOM_ACCESS);
    if (port.handle == INVALID_HANDLE_VALUE) {
        reportHandleError(GetLastError());
        return false;
    }
    return true;
}

bool SpiPortDevice::closeSpiPort(SpiPort& port, HANDLE& exchangeEvent) const {
    if (port.handle == nullptr) return false;
    closeSlot(port.handle);
    // The event belongs to both ports: closing either one ends the waits of both.
    closeSlot(exchangeEvent);
    return true;
}

bool SpiPortDevice::configureSpiPort(SpiPort& port, HANDLE& exchangeEvent, uint32_t frequency,
                                     uint32_t mode, uint8_t configByte) const {
    SpiBusConfig& config = port.busConfig;
    // Kept even when the mode is refused.
    config.frequency = frequency;
    if (mode >= kSpiModeCount) return false;
    config.polarity = kSpiModes[mode].polarity;
    config.phase = kSpiModes[mode].phase;
    config.reserved0 = 0;
    config.reserved1 = 0;
    config.configByte = configByte;

    // The event is created anew, so that the line below tells whether it already existed (from
    // the other port's configuration, or this one's earlier). Only the newest handle is kept;
    // the earlier one is closed after it, which leaves the named event alive in between.
    HANDLE created = CreateEventW(nullptr, FALSE, FALSE, kSpiEventName);
    const DWORD lastError = GetLastError();
    closeSlot(exchangeEvent);
    exchangeEvent = created;
    if (created == nullptr) return report(kInitLines, false, lastError);
    port.exchange.eventName = kSpiEventName;
    port.exchange.eventNameTag = kSpiEventNameTag;
    return report(kInitLines, true, lastError);
}

bool SpiPortDevice::exchangeSpiData(SpiPort& port, HANDLE exchangeEvent, int32_t bitLength,
                                    const uint8_t* txBuffer, uint8_t* rxBuffer) const {
    if (txBuffer == nullptr) {
        NKDbgPrintfW(L"SPI output data buffer error - Werr\r\n");
        return false;
    }
    if (rxBuffer == nullptr) {
        NKDbgPrintfW(L"SPI input data buffer error - Werr\r\n");
        return false;
    }
    if (bitLength == 0) {
        NKDbgPrintfW(L"VELNA SPI Data Length: %d - Werr\r\n", static_cast<int>(bitLength));
        return false;
    }
    // A negative length is the driver's to refuse; it goes out as it came.
    SpiExchangeRecord& exchange = port.exchange;
    port.busConfig.bitCount = bitLength;
    exchange.wordCount = wordsFor(bitLength);
    exchange.txBuffer = txBuffer;
    exchange.rxBuffer = rxBuffer;
    if (port.handle == nullptr) return false;

    if (!DeviceIoControl(port.handle, IOCTL_SPI_EXCHANGE, &exchange, sizeof exchange, nullptr, 0,
                         nullptr, nullptr))
        return report(kExchangeLines, false, GetLastError());
    // The driver sets the event it was named once the data has moved. A refused request, a
    // record that names no event (the port was never configured) and an event closed with the
    // other port have nothing that would ever set it, so those are not waited for.
    if (exchangeEvent != nullptr && exchange.eventName != nullptr)
        WaitForSingleObject(exchangeEvent, INFINITE);
    return report(kExchangeLines, true, GetLastError());
}

}  // namespace tarvik
