// The device models that sit on the virtual I2C buses: a serial EEPROM and a temperature sensor.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "vboard/i2c.h"
#include "vboard/vboard.h"

namespace vboard {

bool I2cDevice::preload(uint32_t, const Bytes&) { return false; }
Bytes I2cDevice::contents() const { return {}; }

// ---- EEPROM ----

namespace {

size_t pageSizeFor(size_t requested) {
    size_t page = 1;
    while (page * 2 <= std::min(requested, I2cEeprom::kMaxSize)) page *= 2;
    return page;
}

}  // namespace

I2cEeprom::I2cEeprom(size_t size) : I2cEeprom(Config{size, kDefaultPageSize, 0}) {}

I2cEeprom::I2cEeprom(const Config& config)
    : memory_(std::clamp<size_t>(config.size, 1, kMaxSize), 0xFF),
      pageSize_(pageSizeFor(config.pageSize)),
      writeCycleMs_(std::min(config.writeCycleMs, kMaxWriteCycleMs)) {}

bool I2cEeprom::busyLocked() const {
    return busyUntil_ != 0 && clockNanoseconds() < busyUntil_;
}

bool I2cEeprom::write(const uint8_t* data, size_t length) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!writeLocked(data, length)) return false;
    }
    // The write cycle that stores a page: the part keeps it, whatever happens next.
    if (length > 2) kept();
    return true;
}

bool I2cEeprom::writeLocked(const uint8_t* data, size_t length) {
    if (busyLocked()) return false;
    busyUntil_ = 0;
    if (length < 2) return true;
    pointer_ = ((static_cast<uint32_t>(data[0]) << 8) | data[1]) % memory_.size();
    // The page buffer: the pointer's low bits count within the page, the high bits stay.
    const size_t pageStart = pointer_ - pointer_ % pageSize_;
    const size_t pageLength = std::min(pageSize_, memory_.size() - pageStart);
    size_t within = pointer_ - pageStart;
    for (size_t i = 2; i < length; ++i) {
        memory_[pageStart + within] = data[i];
        within = (within + 1) % pageLength;
    }
    pointer_ = static_cast<uint32_t>(pageStart + within);
    if (length > 2 && writeCycleMs_ > 0)
        busyUntil_ = clockNanoseconds() + uint64_t{writeCycleMs_} * 1000000u;
    return true;
}

bool I2cEeprom::read(uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    if (busyLocked()) return false;
    busyUntil_ = 0;
    for (size_t i = 0; i < length; ++i) {
        data[i] = memory_[pointer_];
        pointer_ = static_cast<uint32_t>((pointer_ + 1) % memory_.size());
    }
    return true;
}

bool I2cEeprom::preload(uint32_t offset, const Bytes& bytes) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (offset > memory_.size() || bytes.size() > memory_.size() - offset) return false;
        std::copy(bytes.begin(), bytes.end(), memory_.begin() + offset);
    }
    kept();
    return true;
}

void I2cEeprom::keepWith(std::function<void(const Bytes&)> keeper) {
    std::lock_guard<std::mutex> hold(keeping_);
    keeper_ = std::move(keeper);
}

void I2cEeprom::kept() {
    // One keeper call at a time, each with the contents as they are once it has its turn: the
    // last call made keeps every write that came before it.
    std::lock_guard<std::mutex> hold(keeping_);
    if (keeper_) keeper_(contents());
}

size_t I2cEeprom::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return memory_.size();
}

size_t I2cEeprom::pageSize() const {
    std::lock_guard<std::mutex> hold(lock_);
    return pageSize_;
}

uint32_t I2cEeprom::writeCycleMs() const {
    std::lock_guard<std::mutex> hold(lock_);
    return writeCycleMs_;
}

bool I2cEeprom::busy() const {
    std::lock_guard<std::mutex> hold(lock_);
    return busyLocked();
}

Bytes I2cEeprom::contents() const {
    std::lock_guard<std::mutex> hold(lock_);
    return memory_;
}

uint32_t I2cEeprom::pointer() const {
    std::lock_guard<std::mutex> hold(lock_);
    return pointer_;
}

// ---- Temperature sensor ----

I2cTemperatureSensor::I2cTemperatureSensor() { setTemperature(25.0); }

bool I2cTemperatureSensor::write(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    if (length > 0) pointer_ = data[0];
    return true;
}

bool I2cTemperatureSensor::read(uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < length; ++i) data[i] = registers_[pointer_++];
    return true;
}

bool I2cTemperatureSensor::preload(uint32_t offset, const Bytes& bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (offset > sizeof registers_ || bytes.size() > sizeof registers_ - offset) return false;
    std::copy(bytes.begin(), bytes.end(), registers_ + offset);
    return true;
}

void I2cTemperatureSensor::setTemperature(double celsius) {
    const double steps =
        std::isnan(celsius) ? 0.0 : std::clamp(std::round(celsius * 256.0), -32768.0, 32767.0);
    const auto value = static_cast<uint16_t>(static_cast<int16_t>(steps));
    std::lock_guard<std::mutex> hold(lock_);
    registers_[0] = static_cast<uint8_t>(value >> 8);
    registers_[1] = static_cast<uint8_t>(value & 0xFF);
}

Bytes I2cTemperatureSensor::contents() const {
    std::lock_guard<std::mutex> hold(lock_);
    return Bytes(std::begin(registers_), std::end(registers_));
}

}  // namespace vboard
