// The SPI exchange as the trace shows it: "SPI1: EXCHANGE cs 0 mode 0 1000000 Hz 32 bits tx 9F 00
// 00 00 rx FF EF 40 14 signal ...".
#include "drivers/spi/spi_ports.h"

namespace vboard {
namespace {

// "9F 00", or the first bytes and "..." when the exchange moved more than is kept.
std::string shown(const std::vector<uint8_t>& data, size_t total) {
    return hexBytes(data) + (total > data.size() ? " ..." : "");
}

}  // namespace

// What the trace shows of an exchange, as far as the port got in reading it.
std::string describeSpiExchange(const SpiExchange& seen, bool busRead) {
    if (!busRead) return "no bus configuration";
    const SpiBusSettings& bus = seen.bus;
    std::string text = "cs " + std::to_string(bus.chipSelect);
    if (bus.polarity <= 1 && bus.phase <= 1)
        text += " mode " + std::to_string(bus.mode());
    else
        text += " polarity " + std::to_string(bus.polarity) + " phase " + std::to_string(bus.phase);
    text += " " + std::to_string(bus.frequency) + " Hz " + std::to_string(bus.bitCount) + " bits";
    if (seen.error == ERROR_SUCCESS) {
        text += " tx " + shown(seen.tx, seen.bytes) + " rx " + shown(seen.rx, seen.bytes);
        if (seen.device.empty()) text += " (nothing selected)";
    }
    if (!seen.eventName.empty())
        text += " signal " + quote(seen.eventName) +
                (seen.error == ERROR_SUCCESS && !seen.signaled ? " (no such event)" : "");
    return text;
}

std::optional<std::string> SpiPortDriver::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl" || e.code != kSpiExchange) return std::nullopt;
    return e.detail.empty() ? std::string("EXCHANGE")
                            : "EXCHANGE " + e.detailText();
}

}  // namespace vboard
