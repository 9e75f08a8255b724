// The SPI ports' control side: their installation on the board, and spi().
#include "drivers/spi/spi_ports.h"

namespace vboard {
namespace {

// The ports installed on this process's board. Like the board they are never destroyed.
Installed<SpiPorts> installed;

}  // namespace

void installSpi(Host& host) {
    auto ports = std::make_shared<SpiPorts>();
    // At power-on the board's flash and loopback are on their chip selects and both device names
    // are on the board.
    host.installModel(installed, ports,
                      {{kSpiDevices[0], std::make_shared<SpiPortDriver>(ports, 0)},
                       {kSpiDevices[1], std::make_shared<SpiPortDriver>(ports, 1)}});
    SpiPorts* model = ports.get();
    // The flashes find their images once the storage has chosen the board folder.
    host.onBoardFolder([model] { model->keepInFolder(); });
    host.addDirective(Directive{
        "spi",
        "spi attach <port> loopback|flash|none [<chip select>] | spi flash <port> <address> "
        "<hex bytes ...> | spi reset",
        [model](const std::vector<std::string>& words, const std::string&) {
            return spiDirective(*model, words);
        }});
    host.nameRequests("SPI", {{"EXCHANGE", kSpiExchange}});
}

SpiControl& spi() { return installed.get(); }

}  // namespace vboard
