// The virtual I2C buses behind "I2C1:" to "I2C3:" and the devices on them.
//
// Bus side (what the library sends): master mode, bus frequency, confirm, and the transfer
// request, whose block of packets the controller carries out in order against the devices
// attached to the bus. Control side (this header): attach and detach device models, look into
// them, and see what went over the wire.
//
// Buses are numbered as the module's connector numbers them, which is how applications and
// configuration files name them: bus 0 is "I2C2:", bus 1 is "I2C1:", bus 2 is "I2C3:".
// Device addresses are 7-bit I2C addresses, as i2cdetect prints them (0x50 for a 24-series
// EEPROM, not the 8-bit 0xA0): the bus driver adds the read/write bit itself, since each packet
// carries its direction. Every transfer first writes the register number and a 0x00 byte, which
// a device with 16-bit addresses (a 24-series EEPROM, high byte first) takes as the address
// register x 256: register 0x01 reaches EEPROM byte 0x0100, and I2CReadMultipleBytes(0, 0, 0x50,
// 0x01, 16, data) reads bytes 0x0100 to 0x010F. The packets carry the address as the library was
// given it, so a device attached here at 0x50 answers the library's 0x50. The power-on board has
// a 32 KiB EEPROM on bus 0 at 0x50 and a temperature sensor on bus 2 at 0x48.
//
// With a board folder (setBoardFolder) every EEPROM keeps its contents there, as the raw image
// "i2c<bus>-0x<address>.eeprom.bin" beside the folder's volumes: read when the part comes under
// the folder, written whole after each write cycle and each preload. An image of another size
// than the part is refused and left as it is (storageProblems; the "i2c attach" line fails).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

using Bytes = std::vector<uint8_t>;

constexpr int kI2cBuses = 3;
// The device name of a bus, or nullptr for a number the module has no bus for.
const char* i2cBusDevice(int bus);

// A packet to an address nobody answers, or one a device refuses, fails the whole transfer
// request with this error (ERROR_IO_DEVICE), as the bus driver reports a NAK.
constexpr DWORD kI2cNakError = 1117;
// The word IOCTL_I2C_CONFIRM answers: the controller is ready.
constexpr DWORD kI2cConfirmWord = 1;

// A device on a bus, as the controller sees it: a write packet hands it the bytes the master
// sent, a read packet asks it for bytes. The controller calls its devices one packet at a time,
// the packets of one transfer together, and holds none of the board's locks meanwhile: as every
// device model may, a device may use the control API (this header's, vboard.h's, any family's)
// from inside a packet; only vboard::reset() is out of bounds there, as it waits for the calls
// in flight to end (and a transfer of its own on its bus would wait for the one it is in). The
// control side may call a device from other threads at the same time, so it locks its own state.
class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // What the "i2c attach" directive calls it: "eeprom", "sensor".
    virtual std::string kind() const = 0;
    // False NAKs the packet, which ends the transfer.
    virtual bool write(const uint8_t* data, size_t length) = 0;
    // Fills data[0, length); false NAKs the packet.
    virtual bool read(uint8_t* data, size_t length) = 0;
    // Puts bytes into the device's memory or registers from `offset` on, as a programmer or the
    // outside world would, without a transfer. False when they do not fit or the device has no
    // such contents.
    virtual bool preload(uint32_t offset, const Bytes& bytes);
    // The device's memory or registers as they stand; empty for a device without them.
    virtual Bytes contents() const;
};

// A serial EEPROM with 16-bit addressing: the first two bytes of a write packet set the address
// pointer, high byte first, and any further bytes are stored from there on; a read packet reads
// from the pointer on. The pointer advances with every byte. A read wraps at the end of the
// array; a write stays within the page the pointer is in, as a real part's page buffer does: a
// byte past the page's end goes to the page's start (a 64-byte page takes bytes 0x1FFE, 0x1FFF,
// then 0x1FC0...). A write packet of fewer than two bytes (an address probe) changes nothing.
// Contents start erased, 0xFF.
//
// A part may take a while to store what it was written: for `writeCycleMs` after a write packet
// that carried data, on the board's clock (see vboard::clockNanoseconds; with virtual sleep only
// the library's pauses and advanceClock move it on), the part acknowledges nothing, probes
// included, as a real one does while it programs its cells. Off (0) by default.
struct I2cEepromConfig {
    size_t size = 32768;     // 1 to 65536 bytes
    size_t pageSize = 64;    // a power of two, 1 to 65536; a page larger than the part is the part
    uint32_t writeCycleMs = 0;
};
class I2cEeprom : public I2cDevice {
public:
    using Config = I2cEepromConfig;
    static constexpr size_t kDefaultSize = 32768;
    static constexpr size_t kDefaultPageSize = 64;
    static constexpr size_t kMaxSize = 65536;  // what a 16-bit pointer reaches
    static constexpr uint32_t kMaxWriteCycleMs = 60000;
    // `size` from 1 to kMaxSize; other values are taken as the nearest of those. 64-byte pages,
    // no write cycle.
    explicit I2cEeprom(size_t size = kDefaultSize);
    // A size or write cycle out of range is taken as the nearest in range, a page size that is
    // no power of two as the power of two below it.
    explicit I2cEeprom(const Config& config);

    std::string kind() const override { return "eeprom"; }
    bool write(const uint8_t* data, size_t length) override;
    bool read(uint8_t* data, size_t length) override;
    bool preload(uint32_t offset, const Bytes& bytes) override;

    size_t size() const;
    size_t pageSize() const;
    uint32_t writeCycleMs() const;
    // Inside its write cycle: acknowledging nothing.
    bool busy() const;
    Bytes contents() const override;
    uint32_t pointer() const;

    // Called with the part's whole contents after each write cycle (a write packet that carried
    // data) and each preload, one call at a time: how the board keeps the part's contents in
    // its board folder. Null keeps them nowhere.
    void keepWith(std::function<void(const Bytes&)> keeper);

private:
    bool busyLocked() const;
    bool writeLocked(const uint8_t* data, size_t length);
    void kept();
    std::mutex keeping_;  // taken before lock_
    std::function<void(const Bytes&)> keeper_;
    mutable std::mutex lock_;
    Bytes memory_;
    size_t pageSize_;
    uint32_t writeCycleMs_;
    uint32_t pointer_ = 0;
    uint64_t busyUntil_ = 0;  // the board's clock, in nanoseconds
};

// A temperature sensor with 256 read-only 8-bit registers behind an 8-bit pointer: the first
// byte of a write packet sets the pointer and further bytes are ignored (acknowledged, as the
// part does for its read-only registers); a read packet reads from the pointer on, wrapping at
// 256. Registers 0 and 1 hold the temperature as a signed 16-bit value in 1/256 degC, high byte
// first: 25.0 degC (0x19 0x00) at power-on. The others read 0 unless preloaded.
class I2cTemperatureSensor : public I2cDevice {
public:
    I2cTemperatureSensor();

    std::string kind() const override { return "sensor"; }
    bool write(const uint8_t* data, size_t length) override;
    bool read(uint8_t* data, size_t length) override;
    bool preload(uint32_t offset, const Bytes& bytes) override;

    // The outside world warming or cooling the part; clamped to what 16 bits hold.
    void setTemperature(double celsius);
    // The 256 registers.
    Bytes contents() const override;

private:
    mutable std::mutex lock_;
    uint8_t registers_[256] = {};
    uint8_t pointer_ = 0;
};

// One packet of a transfer as it went over the wire: the bytes written, or the bytes read.
struct I2cPacketRecord {
    uint8_t address = 0;
    bool read = false;
    Bytes data;
    bool acknowledged = true;  // false: the device NAKed it (or nobody is at the address)
};

// One transfer request the controller carried out, up to the packet that was NAKed.
struct I2cTransferRecord {
    std::vector<I2cPacketRecord> packets;
    bool ok = true;
};

class I2cBusControl {
public:
    virtual ~I2cBusControl() = default;
    virtual std::string device() const = 0;
    // Puts a device at an address, replacing the one there.
    virtual void attach(uint8_t address, std::shared_ptr<I2cDevice> device) = 0;
    // False when nobody was at the address.
    virtual bool detach(uint8_t address) = 0;
    virtual std::shared_ptr<I2cDevice> device(uint8_t address) const = 0;
    // The addresses that answer, in ascending order.
    virtual std::vector<uint8_t> addresses() const = 0;
    // The controller's configuration as the library last set it: master mode, and the bus
    // frequency in hertz (0 until one is set).
    virtual bool masterMode() const = 0;
    virtual uint32_t frequency() const = 0;
    // The transfers carried out since power-on, oldest first (the most recent 65,536).
    virtual std::vector<I2cTransferRecord> transfers() const = 0;
    virtual void clearTransfers() = 0;
};

// The bus with a module bus number 0 to 2 (the model behind its device name, also while the
// device is removed); std::out_of_range for any other number.
I2cBusControl& i2cBus(int bus);

// The model at an address when it is of the kind asked for, else nullptr:
//   auto eeprom = vboard::i2cDevice<vboard::I2cEeprom>(0, 0x50);
template <class Device>
std::shared_ptr<Device> i2cDevice(int bus, uint8_t address) {
    return std::dynamic_pointer_cast<Device>(i2cBus(bus).device(address));
}

}  // namespace vboard
