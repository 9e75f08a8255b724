// The board's SPI stream drivers, "SPI1:" and "SPI2:", as models: two ECSPI masters, each with its
// devices on four chip-select lines.
//
// The driver takes one request. Its record, in the caller's input buffer, points at the port's
// bus configuration and at the caller's buffers, and names the event to set once the exchange is
// done; the records below are the driver's own view of them, laid out as the compiler lays out
// the driver's structs (the exchange record carries native pointers, so it is 48 bytes on a
// 64-bit host and 24 on the 32-bit module).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "os/host.h"
#include "vboard/spi.h"
#include "vboard/vboard.h"

namespace vboard {

constexpr DWORD kSpiExchange = 0x2A2F58;
constexpr const char* kSpiDevices[kSpiPorts] = {"SPI1:", "SPI2:"};

struct SpiBusConfigRecord {
    uint8_t chipSelect;
    uint8_t padding0[3];
    uint32_t frequency;
    int32_t bitCount;
    uint32_t reserved0;
    uint32_t polarity;
    uint32_t phase;
    uint8_t reserved1;
    uint8_t padding1[3];
    uint32_t configByte;
};

struct SpiExchangeRecord {
    const SpiBusConfigRecord* busConfig;
    const uint8_t* txBuffer;
    uint8_t* rxBuffer;
    uint32_t wordCount;
    const WCHAR* eventName;
    uint32_t eventNameTag;
};

class SpiPorts : public SpiControl {
public:
    // One exchange request on a port: refused with the error the caller sees, or the data moved
    // and the named event set.
    DWORD exchange(int port, IoRequest& request);

    bool attach(int port, std::shared_ptr<SpiDevice> device, int chipSelect) override;
    std::shared_ptr<SpiDevice> device(int port, int chipSelect) const override;
    std::vector<SpiExchange> exchanges() const override;
    void reset() override;
    // The board's power-on: its own devices, no exchange seen; the flash takes up its image once
    // the board folder is chosen.
    void powerOn();
    // Wires a device as attach() does, a flash kept in the board folder's image of its port and
    // chip select ("spi0-cs2.flash.bin") when there is a folder: its contents come from the image
    // when there is one and go to it after each program. An image that does not fit the part is
    // left as it is and the device not wired: the answer is why ("" when wired).
    std::string attachKept(int port, std::shared_ptr<SpiDevice> device, int chipSelect);
    // The board folder was chosen: each flash takes its image up again.
    void keepInFolder();

private:
    // Binds a flash to its image (a no-op for other devices): "" or why not, reported or not.
    std::string keep(int port, int chipSelect, const std::shared_ptr<SpiDevice>& device, bool report);
    // Wires a device; the one it replaces keeps nothing more.
    void put(int port, int chipSelect, std::shared_ptr<SpiDevice> device);
    // The board's own devices back, nothing kept yet.
    void resetDevices();
    // Takes the request's record apart and checks it, noting in `seen` what it names (the event,
    // the bus configuration, the word count); ERROR_SUCCESS when the data can move.
    DWORD parseRequest(const IoRequest& request, SpiExchangeRecord& record, SpiExchange& seen) const;
    void keep(SpiExchange&& seen);
    // Sets the named completion event of an exchange done on `port`; false when there is no such
    // event. Reports two exchanges in flight on one event as a misuse.
    bool complete(int port, const std::string& event);

    // Per named event: the last completion set on it, by which port, from which thread; and
    // whether two threads' exchanges have been in flight on it at once.
    struct Completions {
        int lastPort = 0;
        std::thread::id lastThread;
        bool overlapped = false;
    };
    std::mutex completionsLock_;
    std::map<std::string, Completions> completions_;

    std::mutex wires_[kSpiPorts];  // held for a device's exchange, one at a time on a port
    mutable std::mutex lock_;      // the control side: devices and what was seen
    std::shared_ptr<SpiDevice> devices_[kSpiPorts][kSpiChipSelects];
    Window<SpiExchange> exchanges_;
};

// The stream driver of one port; the ports share their control side.
class SpiPortDriver : public StreamDriver {
public:
    SpiPortDriver(std::shared_ptr<SpiPorts> ports, int port) : ports_(std::move(ports)), port_(port) {}
    DWORD ioControl(IoRequest& request) override { return ports_->exchange(port_, request); }
    std::optional<std::string> decode(const TraceEntry& entry) const override;

private:
    std::shared_ptr<SpiPorts> ports_;
    int port_;
};

// What the trace shows of an exchange, as far as the port got in reading it (`busRead`: whether
// it read the bus configuration).
std::string describeSpiExchange(const SpiExchange& seen, bool busRead);

// The "spi" directive, on the ports it was installed with.
std::string spiDirective(SpiPorts& ports, const std::vector<std::string>& words);

// Puts the two ports on a board under construction, with their power-on step, the "spi"
// directive and their request's name.
void installSpi(Host& host);

}  // namespace vboard
