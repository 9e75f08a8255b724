// tarvik spi: one full-duplex exchange on port 0 ("SPI1:") or 1 ("SPI2:"), printing what came back.
// The port stays open for the rest of a session, as an application keeps it.
#include <memory>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

struct SpiArgs {
    std::string port, bytes, mode = "0", hz = "1000000", bits;
};

}  // namespace

void addSpiCommands(CLI::App& app, Tool& tool) {
    auto* spi = app.add_subcommand("spi", "SPI ports 0 and 1");
    spi->require_subcommand(1);
    auto a = std::make_shared<SpiArgs>();

    auto* xfer = spi->add_subcommand("xfer", "send HEXBYTES and print the bytes received meanwhile");
    xfer->add_option("PORT", a->port, "port 0 or 1")->required();
    xfer->add_option("HEXBYTES", a->bytes, "bytes to send, e.g. 9f000000 or \"9f 00 00\"")->required();
    xfer->add_option("--mode", a->mode, "clock mode 0 to 3 (polarity, phase)")->capture_default_str();
    xfer->add_option("--hz", a->hz, "clock frequency")->capture_default_str();
    xfer->add_option("--bits", a->bits, "bits to exchange (default: all the bytes')");
    xfer->callback([&tool, a] {
        const uint32_t port = number(a->port, "spi xfer: PORT", 1);
        const std::vector<uint8_t> tx = hexBytes(a->bytes, "spi xfer: HEXBYTES");
        const uint32_t mode = number(a->mode, "spi xfer: --mode", 3);
        const uint32_t hz = number(a->hz, "spi xfer: --hz");
        if (hz == 0) throw UsageError("spi xfer: --hz must not be 0");
        const uint32_t bits = a->bits.empty() ? static_cast<uint32_t>(tx.size() * 8)
                                              : number(a->bits, "spi xfer: --bits", tx.size() * 8);
        if (bits == 0) throw UsageError("spi xfer: --bits must be at least 1");
        // The driver moves whole bytes: the received buffer holds the bits rounded up.
        std::vector<uint8_t> rx((bits + 7) / 8, 0);
        const std::string name = "SPI port " + std::to_string(port);
        // After a failed open the library answers 1 until SPIClose: close it, so that the
        // next command of a session tries the driver again.
        if (SPIOpen(port) != 1) {
            SPIClose(port);
            throw Failure("spi xfer: " + name + " did not open");
        }
        Tool::check(SPIConfigure(port, mode, hz, 0) == 1, "spi xfer", name + " refused its configuration");
        Tool::check(SPIExchange(port, static_cast<int32_t>(bits), tx.data(), rx.data()) == 1,
                    "spi xfer", name + " refused the exchange");
        tool.emit("spi xfer", byteList(rx),
                  {{"port", port}, {"sent", byteArray(tx)}, {"received", byteArray(rx)}, {"bits", bits}});
    });

    auto* close = spi->add_subcommand("close", "close a port (it also ends the shared completion event)");
    close->add_option("PORT", a->port, "port 0 or 1")->required();
    close->callback([&tool, a] {
        const uint32_t port = number(a->port, "spi close: PORT", 1);
        SPIClose(port);
        tool.emit("spi close", "", {{"port", port}});
    });
}

}  // namespace tarvik_tool
