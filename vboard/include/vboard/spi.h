// The virtual SPI ports behind "SPI1:" and "SPI2:": the i.MX6's ECSPI masters, each with four
// chip-select lines and the devices wired to them.
//
// Bus side (what the library sends): the exchange request 0x2A2F58, whose record points at the
// port's bus configuration and at the caller's two buffers. The port moves the bit count rounded
// up to whole bytes between those buffers and the selected device, then sets the event whose name
// the record carries. Nothing on a chip select reads as 0xFF, the level MISO idles at.
//
// The library names one auto-reset event for both ports, so one exchange at a time across both
// is its caller's duty: when an exchange completes while another thread's has not yet taken its
// completion from the event, the two completions merge and on the module one caller waits for
// ever. The board records this as a misuse naming both ports (see vboard::misuses) and keeps
// both completions, so that the test that made it fails instead of hanging.
//
// Control side (this header): attach device models, ones of your own included, look at what each
// exchange carried. Ports are numbered as the library numbers them: port 0 is "SPI1:" (the
// board's flash on chip select 2), port 1 is "SPI2:" (a loopback on chip select 0).
//
// With a board folder (setBoardFolder) every flash keeps its array there, as the raw image
// "spi<port>-cs<chip select>.flash.bin" beside the folder's volumes: read when the flash comes
// under the folder (and at reset()), written whole after each program. An image of another size
// than the flash is refused and left as it is (storageProblems; the "spi attach" line fails).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

constexpr int kSpiPorts = 2;
constexpr int kSpiChipSelects = 4;
// The chip select each port's device is wired to on the board.
constexpr int spiWiredChipSelect(int port) { return port == 0 ? 2 : 0; }

// How the port drives the bus for one exchange, as its bus configuration gives it.
struct SpiBusSettings {
    int chipSelect = 0;
    uint32_t frequency = 0;  // Hz
    int32_t bitCount = 0;
    uint32_t polarity = 0;
    uint32_t phase = 0;
    uint32_t configByte = 0;
    int mode() const { return static_cast<int>(polarity * 2 + phase); }
};

// A device on an SPI bus. One exchange is one assertion of its chip select: `bytes` bytes go out
// from `tx` while as many come back into `rx`. A port calls its devices one exchange at a time
// and holds none of the board's locks meanwhile: as every device model may, a device may use the
// control API (this header's, vboard.h's, any family's) from inside an exchange; only
// vboard::reset() is out of bounds there, as it waits for the calls in flight to end. The
// control side may call a device from other threads at the same time, so it locks its own state.
class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    virtual void exchange(const SpiBusSettings& bus, const uint8_t* tx, uint8_t* rx,
                          size_t bytes) = 0;
    // "loopback", "flash", or what a device of your own calls itself.
    virtual std::string kind() const = 0;
};

// MISO wired to MOSI: every byte comes back as it went out.
std::shared_ptr<SpiDevice> makeSpiLoopback();
// The board's own models by the name the "spi attach" directive uses: "loopback" or "flash" (an
// erased SpiNorFlash); null for any other name.
std::shared_ptr<SpiDevice> makeSpiDevice(const std::string& kind);

// A serial NOR flash, safe to program from one thread while another reads it over the bus: READ IDENTIFICATION (0x9F) answers its three identification bytes, READ
// (0x03) and FAST READ (0x0B, one dummy byte) a 24-bit address's contents onwards, wrapping at
// the end of the array; READ STATUS (0x05) answers 0, never busy. Other commands, and bytes past
// an answer, read as 0xFF. An erased array reads 0xFF.
struct SpiNorFlashConfig {
    uint8_t id[3] = {0xEF, 0x40, 0x14};  // maker, memory type, capacity (2^0x14 bytes)
    uint32_t size = 1u << 20;
};
class SpiNorFlash : public SpiDevice {
public:
    using Config = SpiNorFlashConfig;
    explicit SpiNorFlash(const Config& config = Config{});
    void exchange(const SpiBusSettings& bus, const uint8_t* tx, uint8_t* rx, size_t bytes) override;
    std::string kind() const override { return "flash"; }

    // Writes the array as a programmer would, wrapping at its end.
    void program(uint32_t address, const std::vector<uint8_t>& data);
    std::vector<uint8_t> read(uint32_t address, size_t length) const;
    const Config& config() const { return config_; }

    // Called with the whole array after each program(), one call at a time: how the board keeps
    // the flash's contents in its board folder. Null keeps them nowhere.
    void keepWith(std::function<void(const std::vector<uint8_t>&)> keeper);

private:
    uint8_t at(uint32_t address) const;  // with the lock held
    std::mutex keeping_;  // taken before lock_
    std::function<void(const std::vector<uint8_t>&)> keeper_;
    Config config_;
    mutable std::mutex lock_;  // a test may program the array while the library reads it
    std::vector<uint8_t> programmed_;  // grows as it is programmed; beyond it the array is erased
};

// What one exchange request carried, as the port read it. Data is kept up to kSpiKeptBytes.
constexpr size_t kSpiKeptBytes = 64;
struct SpiExchange {
    int port = 0;
    SpiBusSettings bus;
    std::vector<uint8_t> busConfig;  // the 32 bytes of the bus configuration, as read
    uint32_t wordCount = 0;
    std::string eventName;           // "" when the record named none
    uint32_t eventNameTag = 0;
    size_t bytes = 0;                // bytes moved
    std::vector<uint8_t> tx, rx;     // the first kSpiKeptBytes of each
    std::string device;              // the kind of device selected, "" for none
    DWORD error = 0;                 // ERROR_SUCCESS, or why the port refused the request
    bool signaled = false;           // the named event was found and set
};

class SpiControl {
public:
    virtual ~SpiControl() = default;
    // Wires a device to a port's chip select (-1: the one the board wires), replacing what was
    // there; null takes it off. False for a port or chip select the board does not have.
    virtual bool attach(int port, std::shared_ptr<SpiDevice> device, int chipSelect = -1) = 0;
    virtual std::shared_ptr<SpiDevice> device(int port, int chipSelect = -1) const = 0;
    // Exchange requests that reached the ports, oldest first, accepted and refused.
    virtual std::vector<SpiExchange> exchanges() const = 0;
    // The board's own devices back on their chip selects (an erased flash), no exchange seen.
    virtual void reset() = 0;
};

// The board's two SPI ports (also while a device name is removed from the board).
SpiControl& spi();

}  // namespace vboard
