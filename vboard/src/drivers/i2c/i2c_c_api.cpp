// The C entry points of the virtual I2C buses: thin wrappers over vboard/i2c.h.
#include <algorithm>
#include <cstring>
#include <string>

#include "vboard/i2c.h"
#include "control/c_api.h"
#include "vboard/vboard_c.h"

namespace {

bool validBus(int bus) { return vboard::i2cBusDevice(bus) != nullptr; }

std::shared_ptr<vboard::I2cDevice> deviceAt(int bus, unsigned address) {
    if (!validBus(bus) || address > 0xFF) return nullptr;
    return vboard::i2cBus(bus).device(static_cast<uint8_t>(address));
}

}  // namespace

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

int vboard_i2c_attach(int bus, unsigned address, const char* kind, size_t size) {
    if (!validBus(bus) || address > 0xFF || kind == nullptr) return 0;
    std::shared_ptr<vboard::I2cDevice> device;
    if (std::strcmp(kind, "eeprom") == 0) {
        if (size > vboard::I2cEeprom::kMaxSize) return 0;
        device = std::make_shared<vboard::I2cEeprom>(size == 0 ? vboard::I2cEeprom::kDefaultSize
                                                               : size);
    } else if (std::strcmp(kind, "sensor") == 0) {
        device = std::make_shared<vboard::I2cTemperatureSensor>();
    } else {
        return 0;
    }
    vboard::i2cBus(bus).attach(static_cast<uint8_t>(address), std::move(device));
    return 1;
}

int vboard_i2c_attach_eeprom(int bus, unsigned address, size_t size, size_t page_size,
                             unsigned write_cycle_ms) {
    using vboard::I2cEeprom;
    if (!validBus(bus) || address > 0xFF || size > I2cEeprom::kMaxSize ||
        page_size > I2cEeprom::kMaxSize || (page_size & (page_size - 1)) != 0 ||
        write_cycle_ms > I2cEeprom::kMaxWriteCycleMs)
        return 0;
    I2cEeprom::Config config;
    if (size != 0) config.size = size;
    if (page_size != 0) config.pageSize = page_size;
    config.writeCycleMs = write_cycle_ms;
    vboard::i2cBus(bus).attach(static_cast<uint8_t>(address), std::make_shared<I2cEeprom>(config));
    return 1;
}

int vboard_i2c_detach(int bus, unsigned address) {
    if (!validBus(bus) || address > 0xFF) return 0;
    return vboard::i2cBus(bus).detach(static_cast<uint8_t>(address)) ? 1 : 0;
}

int vboard_i2c_fill(int bus, unsigned address, uint32_t offset, const uint8_t* bytes,
                    size_t count) {
    auto device = deviceAt(bus, address);
    if (!device || (bytes == nullptr && count > 0)) return 0;
    const vboard::Bytes data = count ? vboard::Bytes(bytes, bytes + count) : vboard::Bytes();
    return device->preload(offset, data) ? 1 : 0;
}

size_t vboard_i2c_peek(int bus, unsigned address, uint32_t offset, uint8_t* buffer, size_t count) {
    auto device = deviceAt(bus, address);
    if (!device || buffer == nullptr) return 0;
    const vboard::Bytes contents = device->contents();
    if (offset >= contents.size()) return 0;
    const size_t n = std::min(count, contents.size() - offset);
    std::memcpy(buffer, contents.data() + offset, n);
    return n;
}

int vboard_i2c_set_temperature(int bus, unsigned address, double celsius) {
    auto sensor = std::dynamic_pointer_cast<vboard::I2cTemperatureSensor>(deviceAt(bus, address));
    if (!sensor) return 0;
    sensor->setTemperature(celsius);
    return 1;
}

uint32_t vboard_i2c_frequency(int bus) {
    return validBus(bus) ? vboard::i2cBus(bus).frequency() : 0;
}

size_t vboard_i2c_transfer_count(int bus) {
    return validBus(bus) ? vboard::i2cBus(bus).transfers().size() : 0;
}

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- I2C ----

int vboard_i2c_attach(int bus, unsigned address, const char* kind, size_t size) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_i2c_attach(bus, address, kind, size); });
}
int vboard_i2c_attach_eeprom(int bus, unsigned address, size_t size, size_t page_size,
                             unsigned write_cycle_ms) {
    return guardControl(__func__, 0, [&] {
        return capi::vboard_i2c_attach_eeprom(bus, address, size, page_size, write_cycle_ms);
    });
}
int vboard_i2c_detach(int bus, unsigned address) {
    return guardControl(__func__, 0, [&] { return capi::vboard_i2c_detach(bus, address); });
}
int vboard_i2c_fill(int bus, unsigned address, uint32_t offset, const uint8_t* bytes,
                    size_t count) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_i2c_fill(bus, address, offset, bytes, count); });
}
size_t vboard_i2c_peek(int bus, unsigned address, uint32_t offset, uint8_t* buffer, size_t count) {
    return guardControl(__func__, size_t{0},
                        [&] { return capi::vboard_i2c_peek(bus, address, offset, buffer, count); });
}
int vboard_i2c_set_temperature(int bus, unsigned address, double celsius) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_i2c_set_temperature(bus, address, celsius); });
}
uint32_t vboard_i2c_frequency(int bus) {
    return guardControl(__func__, uint32_t{0}, [&] { return capi::vboard_i2c_frequency(bus); });
}
size_t vboard_i2c_transfer_count(int bus) {
    return guardControl(__func__, size_t{0}, [&] { return capi::vboard_i2c_transfer_count(bus); });
}

}  // extern "C"
