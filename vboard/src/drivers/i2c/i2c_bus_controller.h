// The board's I2C bus drivers, "I2C1:" to "I2C3:", as models: one controller per bus, and the
// devices attached to it by address.
//
// The transfer request's block points at packets, and the packets point at the caller's bytes;
// the records below are the driver's own view of them, laid out as the compiler lays out the
// driver's structs (with native pointers: 16 and 32 bytes on a 64-bit host, 8 and 16 on the
// 32-bit module).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "os/host.h"
#include "vboard/i2c.h"
#include "vboard/vboard.h"

namespace vboard {

constexpr DWORD kI2cSetMasterMode = 0x002A2EE4;
constexpr DWORD kI2cConfirm = 0x002A2EE8;
constexpr DWORD kI2cSetFrequency = 0x002A2EF8;
constexpr DWORD kI2cTransfer = 0x002A2F04;

constexpr uint8_t kI2cWrite = 1;
constexpr uint8_t kI2cRead = 2;

struct I2cPacket {
    uint8_t deviceAddress;
    uint8_t direction;  // kI2cWrite or kI2cRead
    uint8_t* dataBuffer;
    uint16_t dataLength;
    int32_t* resultWord;  // set to 0 for a packet that went through, -1 for one NAKed
};

struct I2cTransferBlock {
    I2cPacket* packets;
    int32_t packetCount;
};

// More packets than a transfer of the bus driver takes.
constexpr int32_t kI2cMaxPackets = 64;

class I2cBusController : public StreamDriver, public I2cBusControl {
public:
    explicit I2cBusController(int bus);

    DWORD ioControl(IoRequest& request) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;

    std::string device() const override { return device_; }
    void attach(uint8_t address, std::shared_ptr<I2cDevice> device) override;
    bool detach(uint8_t address) override;
    std::shared_ptr<I2cDevice> device(uint8_t address) const override;
    std::vector<uint8_t> addresses() const override;
    bool masterMode() const override;
    uint32_t frequency() const override;
    std::vector<I2cTransferRecord> transfers() const override;
    void clearTransfers() override;

    // The board's power-on: the bus's default devices, fresh, and the controller unconfigured.
    void powerOn();
    // Attaches a device, an EEPROM kept in the board folder's image of its bus and address
    // ("i2c0-0x50.eeprom.bin") when there is a folder: its contents come from the image when
    // there is one, and go to it after each write cycle. An image that does not fit the part is
    // left as it is and the device not attached: the answer is why ("" when attached).
    std::string attachKept(uint8_t address, std::shared_ptr<I2cDevice> device);
    // The board folder was chosen: each EEPROM on the bus takes its image up again.
    void keepInFolder();

private:
    // Binds an EEPROM to its image (a no-op for other devices): "" or why not, reported or not.
    std::string keep(uint8_t address, const std::shared_ptr<I2cDevice>& device, bool report);
    // Puts a device at an address; the one it replaces keeps nothing more.
    void put(uint8_t address, std::shared_ptr<I2cDevice> device);
    DWORD setFrequency(const IoRequest& request);
    DWORD confirm(IoRequest& request);
    DWORD transfer(IoRequest& request);

    const int bus_;
    const std::string device_;
    // Held for a whole transfer: the packets of one block go over the bus together.
    std::mutex wire_;
    // The control side: the devices, the configuration and the transfers seen. Never held while
    // a device runs.
    mutable std::mutex lock_;
    std::map<uint8_t, std::shared_ptr<I2cDevice>> devices_;
    bool master_ = false;
    uint32_t frequency_ = 0;
    Window<I2cTransferRecord> transfers_;
};

// "0x50": an address as the trace and the directive's problems write it.
std::string i2cAddressText(uint8_t address);
// The controller of a bus, 0 to 2, on the started board.
I2cBusController& i2cController(int bus);

// The "i2c" directive and its usage.
constexpr const char* kI2cUsage =
    "i2c attach <bus> <address> eeprom [<size>] [page=<bytes>] [write-cycle=<ms>] | "
    "i2c attach <bus> <address> sensor | "
    "i2c detach <bus> <address> | i2c fill <bus> <address> <offset> <hex bytes ...>";
std::string i2cDirective(const std::vector<std::string>& words);

// Puts the three buses on a board under construction, with their power-on steps, the "i2c"
// directive and their requests' names.
void installI2c(Host& host);

}  // namespace vboard
