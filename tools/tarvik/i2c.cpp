// tarvik i2c: register reads and writes, a register dump and a bus scan, in the shapes of
// i2cget, i2cset, i2cdump and i2cdetect. Addresses are the 8-bit address bytes the bus driver
// takes (the board's EEPROM is 0x50), passed on unchanged.
#include <cctype>
#include <cstdio>
#include <memory>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

struct I2cArgs {
    std::string bus, address, reg, length, freq = "100k";
    std::vector<std::string> bytes;
};

struct Target {
    uint32_t bus;
    uint32_t frequencyCode;
    uint8_t address;
};

// The library's frequency codes. Its transfers open the bus at 100 kHz whatever code they are
// given; the code is passed on as an application would pass it.
uint32_t frequencyCode(const std::string& text, const std::string& command) {
    static const std::vector<std::string> kNames = {"100k", "400k", "1.6M", "2.4M", "3.6M"};
    static constexpr uint32_t kCodes[] = {0, 1, 3, 4, 5};
    return kCodes[choice(text, command + ": --freq", kNames)];
}

Target target(const I2cArgs& a, const std::string& command) {
    return {number(a.bus, command + ": BUS", 2), frequencyCode(a.freq, command),
            static_cast<uint8_t>(number(a.address, command + ": ADDR", 0xFF))};
}

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

CLI::App* command(CLI::App* i2c, const char* name, const char* help, I2cArgs& a) {
    auto* sub = i2c->add_subcommand(name, help);
    sub->add_option("BUS", a.bus, "bus 0, 1 or 2")->required();
    if (std::string(name) != "detect") sub->add_option("ADDR", a.address, "device address byte")->required();
    sub->add_option("--freq", a.freq, "100k, 400k, 1.6M, 2.4M or 3.6M")->capture_default_str();
    return sub;
}

}  // namespace

void addI2cCommands(CLI::App& app, Tool& tool) {
    auto* i2c = app.add_subcommand("i2c", "I2C buses 0 to 2: read, write, dump, detect");
    i2c->require_subcommand(1);
    auto a = std::make_shared<I2cArgs>();

    auto* get = command(i2c, "get", "read LEN bytes (default 1) from register REG", *a);
    get->add_option("REG", a->reg, "register")->required();
    get->add_option("LEN", a->length, "bytes to read, 1 to 255");
    get->callback([&tool, a] {
        const Target t = target(*a, "i2c get");
        const auto reg = static_cast<uint8_t>(number(a->reg, "i2c get: REG", 0xFF));
        const uint32_t length = a->length.empty() ? 1 : number(a->length, "i2c get: LEN", 255);
        if (length == 0) throw UsageError("i2c get: LEN must be at least 1");
        std::vector<uint8_t> data(length);
        const bool ok = length == 1
                            ? I2CRead(t.bus, t.frequencyCode, t.address, reg, data.data()) == 1
                            : I2CReadMultipleBytes(t.bus, t.frequencyCode, t.address, reg,
                                                   static_cast<uint8_t>(length), data.data()) == 1;
        Tool::check(ok, "i2c get", "no answer from " + hex2(t.address) + " on bus " + a->bus);
        tool.emit("i2c get", byteList(data),
                  {{"bus", t.bus}, {"address", t.address}, {"register", reg}, {"bytes", byteArray(data)}});
    });

    auto* set = command(i2c, "set", "write BYTE... to register REG", *a);
    set->add_option("REG", a->reg, "register")->required();
    set->add_option("BYTE", a->bytes, "bytes to write, 1 to 255")->required();
    set->callback([&tool, a] {
        const Target t = target(*a, "i2c set");
        const auto reg = static_cast<uint8_t>(number(a->reg, "i2c set: REG", 0xFF));
        if (a->bytes.size() > 255) throw UsageError("i2c set: at most 255 bytes");
        std::vector<uint8_t> data;
        for (const std::string& b : a->bytes)
            data.push_back(static_cast<uint8_t>(number(b, "i2c set: BYTE", 0xFF)));
        const bool ok = data.size() == 1
                            ? I2CWrite(t.bus, t.frequencyCode, t.address, reg, data[0]) == 1
                            : I2CWriteMultipleBytes(t.bus, t.frequencyCode, t.address, reg,
                                                    static_cast<uint8_t>(data.size()), data.data()) == 1;
        Tool::check(ok, "i2c set", "no answer from " + hex2(t.address) + " on bus " + a->bus);
        tool.emit("i2c set", "",
                  {{"bus", t.bus}, {"address", t.address}, {"register", reg}, {"bytes", byteArray(data)}});
    });

    auto* dump = command(i2c, "dump", "read registers 0x00 to 0xff, one at a time", *a);
    dump->callback([&tool, a] {
        const Target t = target(*a, "i2c dump");
        std::string text = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
        Json registers = Json::array();
        unsigned answered = 0;
        for (unsigned row = 0; row < 256; row += 16) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%02x: ", row);
            std::string hex = cell, ascii;
            for (unsigned reg = row; reg < row + 16; ++reg) {
                uint8_t value = 0;
                if (I2CRead(t.bus, t.frequencyCode, t.address, static_cast<uint8_t>(reg), &value) == 1) {
                    ++answered;
                    std::snprintf(cell, sizeof cell, "%02x ", value);
                    hex += cell;
                    ascii += std::isprint(value) ? static_cast<char>(value) : '.';
                    registers.push_back(value);
                } else {
                    hex += "XX ";
                    ascii += 'X';
                    registers.push_back(nullptr);
                }
            }
            text += hex + "   " + ascii + "\n";
        }
        Tool::check(answered > 0, "i2c dump", "no answer from " + hex2(t.address) + " on bus " + a->bus);
        tool.emit("i2c dump", text, {{"bus", t.bus}, {"address", t.address}, {"registers", registers}});
    });

    auto* detect = command(i2c, "detect", "probe every address byte with a one-byte read", *a);
    detect->callback([&tool, a] {
        const uint32_t bus = number(a->bus, "i2c detect: BUS", 2);
        const uint32_t code = frequencyCode(a->freq, "i2c detect");
        std::string text = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
        Json found = Json::array();
        for (unsigned row = 0; row < 256; row += 16) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%02x:", row);
            text += cell;
            for (unsigned address = row; address < row + 16; ++address) {
                uint8_t value = 0;
                if (I2CRead(bus, code, static_cast<uint8_t>(address), 0, &value) == 1) {
                    std::snprintf(cell, sizeof cell, " %02x", address);
                    text += cell;
                    found.push_back(address);
                } else {
                    text += " --";
                }
            }
            text += "\n";
        }
        tool.emit("i2c detect", text, {{"bus", bus}, {"addresses", found}});
    });
}

}  // namespace tarvik_tool
