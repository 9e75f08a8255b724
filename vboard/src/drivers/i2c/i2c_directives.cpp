// The I2C directive of a board configuration: "i2c attach 0 0x50 eeprom", "i2c detach ...",
// "i2c fill ...".
#include "drivers/i2c/i2c_bus_controller.h"

namespace vboard {
namespace {

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
    if (!parseBusAndAddress(w, bus, address) || w.size() < 5) return std::string("expected: ") + kI2cUsage;
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
    return i2cController(bus).attachKept(address, std::move(device));
}

std::string detachDirective(const std::vector<std::string>& w) {
    int bus;
    uint8_t address;
    if (!parseBusAndAddress(w, bus, address) || w.size() != 4) return std::string("expected: ") + kI2cUsage;
    if (!i2cBus(bus).detach(address))
        return "no device at " + i2cAddressText(address) + " on bus " + w[2];
    return "";
}

std::string fillDirective(const std::vector<std::string>& w) {
    int bus;
    uint8_t address;
    uint64_t offset = 0;
    if (!parseBusAndAddress(w, bus, address) || w.size() < 6 ||
        !parseUnsigned(w[4], UINT32_MAX, offset))
        return std::string("expected: ") + kI2cUsage;
    Bytes bytes;
    for (size_t i = 5; i < w.size(); ++i) {
        uint64_t n;
        if (w[i].size() > 2 || !parseUnsigned("0x" + w[i], 0xFF, n))
            return "bad byte '" + w[i] + "' (two hex digits)";
        bytes.push_back(static_cast<uint8_t>(n));
    }
    auto device = i2cBus(bus).device(address);
    if (!device) return "no device at " + i2cAddressText(address) + " on bus " + w[2];
    if (!device->preload(static_cast<uint32_t>(offset), bytes))
        return "the " + device->kind() + " at " + i2cAddressText(address) + " on bus " + w[2] +
               " does not hold " + std::to_string(bytes.size()) + " bytes at " + w[4];
    return "";
}

}  // namespace

std::string i2cDirective(const std::vector<std::string>& w) {
    const std::string sub = w.size() > 1 ? w[1] : "";
    if (sub == "attach") return attachDirective(w);
    if (sub == "detach") return detachDirective(w);
    if (sub == "fill") return fillDirective(w);
    return std::string("expected: ") + kI2cUsage;
}

}  // namespace vboard
