// The I2C bus controllers behind "I2C1:" to "I2C3:": the driver's four requests, transfers
// carried out packet by packet against the attached devices, the trace decode and the "i2c"
// directive.
#include "drivers/i2c/i2c_model.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

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

std::string addressText(uint8_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", address);
    return text;
}

// "[W 0x50: 10 00 AB][R 0x50: 4 bytes]", or nullopt when the detail is cut short.
std::optional<std::string> packetsText(const Bytes& detail) {
    std::string text;
    size_t at = 0;
    while (at < detail.size()) {
        if (detail.size() - at < 4) return std::nullopt;
        const uint8_t address = detail[at];
        const bool write = detail[at + 1] == kI2cWrite;
        const size_t length = detail[at + 2] | static_cast<size_t>(detail[at + 3]) << 8;
        at += 4;
        text += std::string("[") + (write ? "W " : "R ") + addressText(address);
        if (write) {
            if (detail.size() - at < length) return std::nullopt;
            const Bytes data(detail.begin() + static_cast<std::ptrdiff_t>(at),
                             detail.begin() + static_cast<std::ptrdiff_t>(at + length));
            text += ":" + std::string(length ? " " : "") + hexBytes(data) + "]";
            at += length;
        } else {
            text += ": " + std::to_string(length) + (length == 1 ? " byte]" : " bytes]");
        }
    }
    return text;
}

uint32_t word(const Bytes& bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}

// ---- Configuration ----

// The controllers installed on this process's board, by module bus number. Like the board they
// are never destroyed: tests may still reach a bus from their own static destructors.
I2cBusController* installed[kI2cBuses] = {};

constexpr const char* kUsage =
    "i2c attach <bus> <address> eeprom [<size>] [page=<bytes>] [write-cycle=<ms>] | "
    "i2c attach <bus> <address> sensor | "
    "i2c detach <bus> <address> | i2c fill <bus> <address> <offset> <hex bytes ...>";

bool parseBusAndAddress(const std::vector<std::string>& w, int& bus, uint8_t& address) {
    uint64_t b = 0;
    uint64_t a = 0;
    if (w.size() < 4 || !parseUnsigned(w[2], kI2cBuses - 1, b) || !parseUnsigned(w[3], 0xFF, a))
        return false;
    bus = static_cast<int>(b);
    address = static_cast<uint8_t>(a);
    return true;
}

// "eeprom [<size>] [page=<bytes>] [write-cycle=<ms>]", from the word after "eeprom" on.
std::string eepromOptions(const std::vector<std::string>& w, I2cEeprom::Config& config) {
    size_t at = 5;
    if (at < w.size() && w[at].find('=') == std::string::npos) {
        uint64_t size = 0;
        if (!parseUnsigned(w[at], I2cEeprom::kMaxSize, size) || size == 0)
            return "bad EEPROM size '" + w[at] + "' (1 to 65536 bytes)";
        config.size = static_cast<size_t>(size);
        ++at;
    }
    bool pageGiven = false;
    bool cycleGiven = false;
    for (; at < w.size(); ++at) {
        const std::string& word = w[at];
        const size_t equals = word.find('=');
        const std::string key = word.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
        uint64_t number = 0;
        if ((key == "page" && pageGiven) || (key == "write-cycle" && cycleGiven))
            return "EEPROM option '" + key + "' given twice";
        if (key == "page") {
            if (!parseUnsigned(value, I2cEeprom::kMaxSize, number) || number == 0 ||
                (number & (number - 1)) != 0)
                return "bad EEPROM page size '" + value + "' (a power of two, 1 to 65536 bytes)";
            config.pageSize = static_cast<size_t>(number);
            pageGiven = true;
        } else if (key == "write-cycle") {
            if (!parseUnsigned(value, I2cEeprom::kMaxWriteCycleMs, number))
                return "bad EEPROM write cycle '" + value + "' (0 to 60000 ms)";
            config.writeCycleMs = static_cast<uint32_t>(number);
            cycleGiven = true;
        } else {
            return "unknown EEPROM option '" + word + "' (page=<bytes>, write-cycle=<ms>)";
        }
    }
    return "";
}

std::string attachDirective(const std::vector<std::string>& w) {
    int bus;
    uint8_t address;
    if (!parseBusAndAddress(w, bus, address) || w.size() < 5) return std::string("expected: ") + kUsage;
    std::shared_ptr<I2cDevice> device;
    if (w[4] == "eeprom") {
        I2cEeprom::Config config;
        const std::string problem = eepromOptions(w, config);
        if (!problem.empty()) return problem;
        device = std::make_shared<I2cEeprom>(config);
    } else if (w[4] == "sensor" && w.size() == 5) {
        device = std::make_shared<I2cTemperatureSensor>();
    } else {
        return "unknown device '" + w[4] + "' (eeprom [<size>] or sensor)";
    }
    installed[bus]->attach(address, std::move(device));
    return "";
}

std::string detachDirective(const std::vector<std::string>& w) {
    int bus;
    uint8_t address;
    if (!parseBusAndAddress(w, bus, address) || w.size() != 4) return std::string("expected: ") + kUsage;
    if (!installed[bus]->detach(address))
        return "no device at " + addressText(address) + " on bus " + w[2];
    return "";
}

std::string fillDirective(const std::vector<std::string>& w) {
    int bus;
    uint8_t address;
    uint64_t offset = 0;
    if (!parseBusAndAddress(w, bus, address) || w.size() < 6 ||
        !parseUnsigned(w[4], UINT32_MAX, offset))
        return std::string("expected: ") + kUsage;
    Bytes bytes;
    for (size_t i = 5; i < w.size(); ++i) {
        uint64_t n;
        if (w[i].size() > 2 || !parseUnsigned("0x" + w[i], 0xFF, n))
            return "bad byte '" + w[i] + "' (two hex digits)";
        bytes.push_back(static_cast<uint8_t>(n));
    }
    auto device = installed[bus]->device(address);
    if (!device) return "no device at " + addressText(address) + " on bus " + w[2];
    if (!device->preload(static_cast<uint32_t>(offset), bytes))
        return "the " + device->kind() + " at " + addressText(address) + " on bus " + w[2] +
               " does not hold " + std::to_string(bytes.size()) + " bytes at " + w[4];
    return "";
}

std::string i2cDirective(const std::vector<std::string>& w) {
    const std::string sub = w.size() > 1 ? w[1] : "";
    if (sub == "attach") return attachDirective(w);
    if (sub == "detach") return detachDirective(w);
    if (sub == "fill") return fillDirective(w);
    return std::string("expected: ") + kUsage;
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

void I2cBusController::attach(uint8_t address, std::shared_ptr<I2cDevice> device) {
    std::lock_guard<std::mutex> hold(lock_);
    if (device)
        devices_[address] = std::move(device);
    else
        devices_.erase(address);
}

bool I2cBusController::detach(uint8_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    return devices_.erase(address) > 0;
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
    devices_.clear();
    // The module's configuration EEPROM sits on its first bus; the board's temperature sensor
    // on the third.
    if (bus_ == 0) devices_[0x50] = std::make_shared<I2cEeprom>();
    if (bus_ == 2) devices_[0x48] = std::make_shared<I2cTemperatureSensor>();
    master_ = false;
    frequency_ = 0;
    transfers_.clear();
}

// ---- Trace ----

std::optional<std::string> I2cBusController::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl") return std::nullopt;
    switch (e.code) {
        case kI2cSetMasterMode:
            return std::string("SET_MASTER_MODE");
        case kI2cSetFrequency:
            if (e.in.size() != 4) return "SET_FREQUENCY malformed [" + hexBytes(e.in) + "]";
            return "SET_FREQUENCY " + std::to_string(word(e.in));
        case kI2cConfirm:
            // The word is the driver's answer, so there is one only when the call succeeded.
            if (e.ok && e.out.size() >= 4) return "CONFIRM word " + std::to_string(word(e.out));
            return std::string("CONFIRM");
        case kI2cTransfer: {
            if (auto packets = packetsText(e.detail); packets && !packets->empty())
                return "TRANSFER " + *packets;
            // Refused before the packets were read (a fault in front of the driver, or a block
            // it would not take): the count is all the trace can tell.
            if (e.in.size() == sizeof(I2cTransferBlock)) {
                int32_t count;
                std::memcpy(&count, e.in.data() + offsetof(I2cTransferBlock, packetCount),
                            sizeof count);
                return "TRANSFER " + std::to_string(count) + (count == 1 ? " packet" : " packets");
            }
            return "TRANSFER malformed [" + hexBytes(e.in) + "]";
        }
        default:
            return std::nullopt;
    }
}

// ---- Installation ----

void installI2c(Host& host) {
    for (int bus = 0; bus < kI2cBuses; ++bus) {
        auto controller = std::make_shared<I2cBusController>(bus);
        installed[bus] = controller.get();
        // The board keeps the models alive for good: the power-on step holds them.
        host.plugAtPowerOn({{controller->device(), controller}}, [controller] { controller->powerOn(); });
    }
    host.addDirective(Directive{
        "i2c", kUsage,
        [](const std::vector<std::string>& words, const std::string&) { return i2cDirective(words); }});
    host.nameRequests("I2C", {{"SET_MASTER_MODE", kI2cSetMasterMode},
                              {"SET_FREQUENCY", kI2cSetFrequency},
                              {"CONFIRM", kI2cConfirm},
                              {"TRANSFER", kI2cTransfer}});
}

I2cBusControl& i2cBus(int bus) {
    startBoard();
    if (bus < 0 || bus >= kI2cBuses) throw std::out_of_range("no I2C bus " + std::to_string(bus));
    return *installed[bus];
}

}  // namespace vboard
