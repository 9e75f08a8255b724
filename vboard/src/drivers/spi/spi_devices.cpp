// The device models that sit on the virtual SPI ports' chip selects: a loopback and a NOR flash.
#include <algorithm>
#include <cstring>

#include "drivers/spi/spi_ports.h"

namespace vboard {
namespace {

class SpiLoopback : public SpiDevice {
public:
    void exchange(const SpiBusSettings&, const uint8_t* tx, uint8_t* rx, size_t bytes) override {
        std::memcpy(rx, tx, bytes);
    }
    std::string kind() const override { return "loopback"; }
};

}  // namespace

std::shared_ptr<SpiDevice> makeSpiLoopback() { return std::make_shared<SpiLoopback>(); }

std::shared_ptr<SpiDevice> makeSpiDevice(const std::string& kind) {
    if (kind == "loopback") return makeSpiLoopback();
    if (kind == "flash") return std::make_shared<SpiNorFlash>();
    return nullptr;
}

SpiNorFlash::SpiNorFlash(const Config& config) : config_(config) {
    if (config_.size == 0) config_.size = 1;
}

uint8_t SpiNorFlash::at(uint32_t address) const {
    address %= config_.size;
    return address < programmed_.size() ? programmed_[address] : 0xFF;
}

void SpiNorFlash::exchange(const SpiBusSettings& bus, const uint8_t* tx, uint8_t* rx,
                           size_t bytes) {
    std::fill(rx, rx + bytes, 0xFF);
    // The flash takes modes 0 and 3, which sample on the same clock edge; in modes 1 and 2 it
    // reads no command and keeps its output off the bus.
    if (bytes == 0 || bus.mode() == 1 || bus.mode() == 2) return;
    std::lock_guard<std::mutex> hold(lock_);
    switch (tx[0]) {
        case 0x9F:  // READ IDENTIFICATION
            for (size_t i = 1; i < bytes && i <= 3; ++i) rx[i] = config_.id[i - 1];
            break;
        case 0x05:  // READ STATUS: never busy, never write-enabled
            std::fill(rx + 1, rx + bytes, 0x00);
            break;
        case 0x03:    // READ
        case 0x0B: {  // FAST READ, one dummy byte after the address
            const size_t header = tx[0] == 0x03 ? 4 : 5;
            if (bytes < 4) break;
            const uint32_t address = static_cast<uint32_t>(tx[1]) << 16 |
                                     static_cast<uint32_t>(tx[2]) << 8 | tx[3];
            for (size_t i = header; i < bytes; ++i)
                rx[i] = at(static_cast<uint32_t>(address + (i - header)));
            break;
        }
        default:
            break;
    }
}

void SpiNorFlash::program(uint32_t address, const std::vector<uint8_t>& data) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (size_t i = 0; i < data.size(); ++i) {
            const uint32_t where = static_cast<uint32_t>((address + i) % config_.size);
            if (where >= programmed_.size()) programmed_.resize(where + 1, 0xFF);
            programmed_[where] = data[i];
        }
    }
    // One keeper call at a time, each with the array as it is once it has its turn: the last
    // call made keeps every program that came before it.
    std::lock_guard<std::mutex> hold(keeping_);
    if (keeper_) keeper_(read(0, config_.size));
}

void SpiNorFlash::keepWith(std::function<void(const std::vector<uint8_t>&)> keeper) {
    std::lock_guard<std::mutex> hold(keeping_);
    keeper_ = std::move(keeper);
}

std::vector<uint8_t> SpiNorFlash::read(uint32_t address, size_t length) const {
    std::vector<uint8_t> out(length);
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < length; ++i) out[i] = at(static_cast<uint32_t>(address + i));
    return out;
}

}  // namespace vboard
