// The I2C bus controllers behind "I2C1:" to "I2C3:": the driver's four requests, and transfers
// carried out packet by packet against the attached devices.
#include "drivers/i2c/i2c_bus_controller.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "os/text.h"

namespace vboard {
namespace {

static_assert(sizeof(I2cPacket) == 4 * sizeof(void*), "address, direction, buffer, length, word");
static_assert(sizeof(I2cTransferBlock) == 2 * sizeof(void*), "packets, then their count");

const char* const kBusDevices[kI2cBuses] = {"I2C2:", "I2C1:", "I2C3:"};

// The detail a transfer keeps for the trace, per packet: address, direction, length (low byte
// first), then the bytes of a write.
void noteForTrace(Bytes& detail, const I2cPacket& packet) {
    detail.push_back(packet.deviceAddress);
    detail.push_back(packet.direction);
    detail.push_back(static_cast<uint8_t>(packet.dataLength & 0xFF));
    detail.push_back(static_cast<uint8_t>(packet.dataLength >> 8));
    if (packet.direction == kI2cWrite)
        detail.insert(detail.end(), packet.dataBuffer, packet.dataBuffer + packet.dataLength);
}

}  // namespace

const char* i2cBusDevice(int bus) {
    return bus >= 0 && bus < kI2cBuses ? kBusDevices[bus] : nullptr;
}

I2cBusController::I2cBusController(int bus) : bus_(bus), device_(kBusDevices[bus]) {}

// ---- Bus side ----

DWORD I2cBusController::ioControl(IoRequest& request) {
    switch (request.code) {
        case kI2cSetMasterMode: {
            std::lock_guard<std::mutex> hold(lock_);
            master_ = true;
            return ERROR_SUCCESS;
        }
        case kI2cSetFrequency: return setFrequency(request);
        case kI2cConfirm: return confirm(request);
        case kI2cTransfer: return transfer(request);
        default: return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    }
}

DWORD I2cBusController::setFrequency(const IoRequest& request) {
    uint32_t hertz = 0;
    if (request.in == nullptr || request.inSize != sizeof hertz)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::memcpy(&hertz, request.in, sizeof hertz);
    // A clock divider cannot make 0 Hz.
    if (hertz == 0) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> hold(lock_);
    frequency_ = hertz;
    return ERROR_SUCCESS;
}

DWORD I2cBusController::confirm(IoRequest& request) {
    if (request.out == nullptr || request.outSize < sizeof kI2cConfirmWord)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::memcpy(request.out, &kI2cConfirmWord, sizeof kI2cConfirmWord);
    request.bytesReturned = sizeof kI2cConfirmWord;
    return ERROR_SUCCESS;
}

DWORD I2cBusController::transfer(IoRequest& request) {
    I2cTransferBlock block;
    if (request.in == nullptr || request.inSize != sizeof block)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::memcpy(&block, request.in, sizeof block);
    if (block.packets == nullptr || block.packetCount < 1 || block.packetCount > kI2cMaxPackets)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    std::vector<I2cPacket> packets(static_cast<size_t>(block.packetCount));
    std::memcpy(packets.data(), block.packets, packets.size() * sizeof(I2cPacket));
    // A malformed block is refused whole, before anything goes over the wire.
    for (const I2cPacket& packet : packets)
        if ((packet.direction != kI2cWrite && packet.direction != kI2cRead) ||
            (packet.dataBuffer == nullptr && packet.dataLength > 0))
            return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (request.traced)
        for (const I2cPacket& packet : packets) noteForTrace(request.detail, packet);

    I2cTransferRecord record;
    // The packets of one transfer go over the bus together. The control side's lock is not
    // held while a device runs, so that it may look at the bus from inside a packet.
    std::lock_guard<std::mutex> busy(wire_);
    for (const I2cPacket& packet : packets) {
        I2cPacketRecord wire;
        wire.address = packet.deviceAddress;
        wire.read = packet.direction == kI2cRead;
        const std::shared_ptr<I2cDevice> device = this->device(packet.deviceAddress);
        if (wire.read) {
            // Read into a buffer of our own: a NAKed read leaves the caller's bytes alone.
            wire.data.resize(packet.dataLength);
            wire.acknowledged = device && device->read(wire.data.data(), wire.data.size());
            if (wire.acknowledged && packet.dataLength > 0)
                std::memcpy(packet.dataBuffer, wire.data.data(), packet.dataLength);
            else if (!wire.acknowledged)
                wire.data.clear();
        } else {
            if (packet.dataLength > 0)
                wire.data.assign(packet.dataBuffer, packet.dataBuffer + packet.dataLength);
            wire.acknowledged = device && device->write(wire.data.data(), wire.data.size());
        }
        if (packet.resultWord != nullptr) *packet.resultWord = wire.acknowledged ? 0 : -1;
        record.packets.push_back(std::move(wire));
        if (!record.packets.back().acknowledged) {
            record.ok = false;
            break;
        }
    }
    const bool ok = record.ok;
    std::lock_guard<std::mutex> hold(lock_);
    transfers_.push(std::move(record), kDefaultRecordLimit);
    return ok ? ERROR_SUCCESS : kI2cNakError;
}

// ---- Control side ----

std::string I2cBusController::keep(uint8_t address, const std::shared_ptr<I2cDevice>& device,
                                   bool report) {
    auto eeprom = std::dynamic_pointer_cast<I2cEeprom>(device);
    if (!eeprom) return "";
    eeprom->keepWith(nullptr);
    char name[32];
    std::snprintf(name, sizeof name, "i2c%d-0x%02x.eeprom.bin", bus_, address);
    const std::string part = "the EEPROM on bus " + std::to_string(bus_) + " at " + i2cAddressText(address);
    BoardImage image = loadBoardImage(name, eeprom->size(), part);
    if (image.state == BoardImage::kRefused) {
        if (report) reportBoardProblem(image.problem);
        return image.problem;
    }
    if (image.state == BoardImage::kLoaded) eeprom->preload(0, image.data);
    if (image.state != BoardImage::kNoFolder) eeprom->keepWith(keepBoardImage(image.folder, name));
    return "";
}

void I2cBusController::put(uint8_t address, std::shared_ptr<I2cDevice> device) {
    std::shared_ptr<I2cDevice> old;
    {
        std::lock_guard<std::mutex> hold(lock_);
        old = std::exchange(devices_[address], std::move(device));
    }
    // The part taken off keeps its contents no more: its place's image is the new part's.
    if (auto eeprom = std::dynamic_pointer_cast<I2cEeprom>(old)) eeprom->keepWith(nullptr);
}

std::string I2cBusController::attachKept(uint8_t address, std::shared_ptr<I2cDevice> device) {
    const std::string problem = keep(address, device, false);
    if (problem.empty()) put(address, std::move(device));
    return problem;
}

void I2cBusController::attach(uint8_t address, std::shared_ptr<I2cDevice> device) {
    if (!device) {
        detach(address);
        return;
    }
    // Attached all the same when its image does not fit: that is reported (storageProblems),
    // and the part works unkept.
    put(address, device);
    keep(address, device, true);
}

bool I2cBusController::detach(uint8_t address) {
    std::shared_ptr<I2cDevice> old;
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = devices_.find(address);
        if (it == devices_.end()) return false;
        old = std::move(it->second);
        devices_.erase(it);
    }
    if (auto eeprom = std::dynamic_pointer_cast<I2cEeprom>(old)) eeprom->keepWith(nullptr);
    return true;
}

void I2cBusController::keepInFolder() {
    std::map<uint8_t, std::shared_ptr<I2cDevice>> devices;
    {
        std::lock_guard<std::mutex> hold(lock_);
        devices = devices_;
    }
    for (const auto& entry : devices) keep(entry.first, entry.second, true);
}

std::shared_ptr<I2cDevice> I2cBusController::device(uint8_t address) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = devices_.find(address);
    return it == devices_.end() ? nullptr : it->second;
}

std::vector<uint8_t> I2cBusController::addresses() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<uint8_t> out;
    for (const auto& entry : devices_) out.push_back(entry.first);
    return out;
}

bool I2cBusController::masterMode() const {
    std::lock_guard<std::mutex> hold(lock_);
    return master_;
}

uint32_t I2cBusController::frequency() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frequency_;
}

std::vector<I2cTransferRecord> I2cBusController::transfers() const {
    std::lock_guard<std::mutex> hold(lock_);
    return transfers_.items();
}

void I2cBusController::clearTransfers() {
    std::lock_guard<std::mutex> hold(lock_);
    transfers_.clear();
}

void I2cBusController::powerOn() {
    std::lock_guard<std::mutex> hold(lock_);
    // The parts of before keep nothing more, should a test still hold one: the fresh ones take
    // up their images once the board folder is chosen.
    for (const auto& entry : devices_)
        if (auto eeprom = std::dynamic_pointer_cast<I2cEeprom>(entry.second)) eeprom->keepWith(nullptr);
    devices_.clear();
    // The module's configuration EEPROM sits on its first bus; the board's temperature sensor
    // on the third.
    if (bus_ == 0) devices_[0x50] = std::make_shared<I2cEeprom>();
    if (bus_ == 2) devices_[0x48] = std::make_shared<I2cTemperatureSensor>();
    master_ = false;
    frequency_ = 0;
    transfers_.clear();
}

}  // namespace vboard
