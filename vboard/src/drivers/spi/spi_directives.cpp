// The SPI directive of a board configuration: "spi attach 0 flash", "spi flash 0 0x100 9F 00",
// "spi reset".
#include "drivers/spi/spi_ports.h"

namespace vboard {
namespace {

bool parsePort(const std::string& text, int& port) {
    uint64_t value = 0;
    if (!parseUnsigned(text, kSpiPorts - 1, value)) return false;
    port = static_cast<int>(value);
    return true;
}

std::string attachDirective(SpiPorts& ports, const std::vector<std::string>& words) {
    const std::string usage = "expected: spi attach <port 0|1> loopback|flash|none [<chip select 0-3>]";
    if (words.size() != 4 && words.size() != 5) return usage;
    int port = 0;
    if (!parsePort(words[2], port)) return "no SPI port " + words[2] + " on the board (0 or 1)";
    uint64_t chipSelect = static_cast<uint64_t>(spiWiredChipSelect(port));
    if (words.size() == 5 && !parseUnsigned(words[4], kSpiChipSelects - 1, chipSelect))
        return "no chip select " + words[4] + " on an SPI port (0 to 3)";
    std::shared_ptr<SpiDevice> device = makeSpiDevice(words[3]);
    if (!device && words[3] != "none") return "no SPI device model '" + words[3] + "' (loopback, flash, none)";
    return ports.attachKept(port, device, static_cast<int>(chipSelect));
}

std::string flashDirective(SpiPorts& ports, const std::vector<std::string>& words) {
    if (words.size() < 5) return "expected: spi flash <port 0|1> <address> <hex bytes ...>";
    int port = 0;
    if (!parsePort(words[2], port)) return "no SPI port " + words[2] + " on the board (0 or 1)";
    uint32_t address = 0;
    if (!parseDword(words[3], address)) return "'" + words[3] + "' is no address";
    std::vector<uint8_t> data;
    for (size_t i = 4; i < words.size(); ++i) {
        uint64_t value = 0;
        const std::string& word = words[i];
        if (word.size() != 2 || !parseUnsigned("0x" + word, 0xFF, value))
            return "'" + word + "' is no hex byte (two digits, as in 9F)";
        data.push_back(static_cast<uint8_t>(value));
    }
    auto flash = std::dynamic_pointer_cast<SpiNorFlash>(ports.device(port, -1));
    if (!flash) return "no flash on SPI port " + words[2] + "'s chip select";
    flash->program(address, data);
    return "";
}

}  // namespace

std::string spiDirective(SpiPorts& ports, const std::vector<std::string>& words) {
    const std::string sub = words.size() > 1 ? words[1] : "";
    if (sub == "attach") return attachDirective(ports, words);
    if (sub == "flash") return flashDirective(ports, words);
    if (sub == "reset") {
        if (words.size() != 2) return "expected: spi reset";
        ports.reset();
        return "";
    }
    return "expected: spi attach ..., spi flash ... or spi reset";
}

}  // namespace vboard
