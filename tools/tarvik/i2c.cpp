// tarvik i2c: register reads and writes, a register dump and a bus scan, in the shapes of
// i2cget, i2cset, i2cdump and i2cdetect. Addresses are 7-bit, as the bus driver takes them.
#include <cctype>
#include <cstdio>
#include <functional>
#include <memory>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

struct I2cArgs {
    std::string bus, address, reg, length, freq = "100k";
    std::vector<std::string> bytes;
    bool all = false;
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

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

Target target(const I2cArgs& a, const std::string& command) {
    const uint32_t bus = number(a.bus, command + ": BUS", 2);
    const uint32_t code = frequencyCode(a.freq, command);
    const uint32_t address = number(a.address, command + ": ADDR", 0xFF);
    if (address > 0x7F)
        throw UsageError(command + ": ADDR " + hex2(address) + " is an 8-bit address byte; the bus "
                         "driver takes the 7-bit address (" + hex2(address >> 1) +
                         ") and adds the read/write bit itself");
    return {bus, code, static_cast<uint8_t>(address)};
}

// The library answers a failed transfer with 0; the error its last platform call left tells why.
// The bus driver reports a device that does not acknowledge as ERROR_IO_DEVICE.
constexpr DWORD kNoAcknowledge = 1117;

std::string errorName(DWORD error) {
    switch (error) {
        case 2: return "ERROR_FILE_NOT_FOUND: the bus driver is missing";
        case 5: return "ERROR_ACCESS_DENIED";
        case 6: return "ERROR_INVALID_HANDLE";
        case 31: return "ERROR_GEN_FAILURE";
        case 87: return "ERROR_INVALID_PARAMETER";
        default: return "";
    }
}

std::string failureCause(DWORD error, uint8_t address, uint32_t bus) {
    const std::string where = " on bus " + std::to_string(bus);
    if (error == kNoAcknowledge)
        return "no acknowledge from " + hex2(address) + where +
               " (nobody answers at that address, or the device refused the bytes)";
    if (error == 0) return "the transfer to " + hex2(address) + where + " failed (no error code)";
    const std::string name = errorName(error);
    return "the request for " + hex2(address) + where + " was refused (error " +
           std::to_string(error) + (name.empty() ? "" : ", " + name) + ")";
}

// Runs one of the library's transfers; true when it succeeded, else `error` says why.
bool transfer(const std::function<uint8_t()>& call, DWORD& error) {
    SetLastError(0);
    if (call() == 1) return true;
    error = GetLastError();
    return false;
}

const char* const kAddressForm =
    "Addresses are 7-bit I2C addresses, as i2cdetect prints them (0x50 for a 24-series EEPROM, "
    "not the 8-bit 0xA0): the bus driver adds the read/write bit itself, since each packet "
    "carries its direction. Every transfer first writes the register number and a 0x00 byte, "
    "which a device with 16-bit addresses (a 24-series EEPROM, high byte first) takes as the "
    "address register x 256: register 0x01 reaches EEPROM byte 0x0100, and "
    "'i2c get 0 0x50 0x01 16' reads bytes 0x0100 to 0x010f.";

CLI::App* command(CLI::App* i2c, const char* name, const char* help, I2cArgs& a) {
    auto* sub = i2c->add_subcommand(name, help);
    sub->add_option("BUS", a.bus, "bus 0, 1 or 2")->required();
    if (std::string(name) != "detect")
        sub->add_option("ADDR", a.address, "7-bit device address, 0x00 to 0x7f (the EEPROM: 0x50)")->required();
    sub->add_option("--freq", a.freq, "100k, 400k, 1.6M, 2.4M or 3.6M")->capture_default_str();
    return sub;
}

}  // namespace

void addI2cCommands(CLI::App& app, Tool& tool) {
    auto* i2c = app.add_subcommand("i2c", "I2C buses 0 to 2: read, write, dump, detect");
    i2c->require_subcommand(1);
    i2c->footer(kAddressForm);
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
        DWORD error = 0;
        const bool ok = transfer(
            [&] {
                return length == 1 ? I2CRead(t.bus, t.frequencyCode, t.address, reg, data.data())
                                   : I2CReadMultipleBytes(t.bus, t.frequencyCode, t.address, reg,
                                                          static_cast<uint8_t>(length), data.data());
            },
            error);
        Tool::check(ok, "i2c get", failureCause(error, t.address, t.bus));
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
        DWORD error = 0;
        const bool ok = transfer(
            [&] {
                return data.size() == 1
                           ? I2CWrite(t.bus, t.frequencyCode, t.address, reg, data[0])
                           : I2CWriteMultipleBytes(t.bus, t.frequencyCode, t.address, reg,
                                                   static_cast<uint8_t>(data.size()), data.data());
            },
            error);
        Tool::check(ok, "i2c set", failureCause(error, t.address, t.bus));
        tool.emit("i2c set", "",
                  {{"bus", t.bus}, {"address", t.address}, {"register", reg}, {"bytes", byteArray(data)}});
    });

    auto* dump = command(i2c, "dump", "read registers 0x00 to 0xff, one at a time", *a);
    dump->footer("XX: no acknowledge. On a 24-series EEPROM register r is byte r x 256, so the dump "
                 "shows the first byte of each 256-byte block; read a block with "
                 "'i2c get BUS ADDR R 255'.");
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
                DWORD error = 0;
                const bool ok = transfer(
                    [&] { return I2CRead(t.bus, t.frequencyCode, t.address, static_cast<uint8_t>(reg), &value); },
                    error);
                if (!ok && error != kNoAcknowledge)
                    throw Failure("i2c dump: register " + hex2(reg) + ": " + failureCause(error, t.address, t.bus));
                if (ok) {
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
        Tool::check(answered > 0, "i2c dump", failureCause(kNoAcknowledge, t.address, t.bus));
        tool.emit("i2c dump", text, {{"bus", t.bus}, {"address", t.address}, {"registers", registers}});
    });

    auto* detect = command(i2c, "detect", "scan addresses 0x03 to 0x77 (-a: 0x00 to 0x7f)", *a);
    detect->footer("Each probe is the library's read of register 0: it writes the two bytes 00 00 to "
                   "the address, then reads one byte. A device with 8-bit registers takes that write "
                   "as 0x00 into register 0: scan only buses where that does no harm.");
    detect->add_flag("-a,--all", a->all, "also the reserved addresses 0x00 to 0x02 and 0x78 to 0x7f");
    detect->callback([&tool, a] {
        const uint32_t bus = number(a->bus, "i2c detect: BUS", 2);
        const uint32_t code = frequencyCode(a->freq, "i2c detect");
        const unsigned first = a->all ? 0x00 : 0x03, last = a->all ? 0x7F : 0x77;
        std::string text = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
        Json found = Json::array();
        for (unsigned row = 0; row < 0x80; row += 16) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%02x:", row);
            text += cell;
            for (unsigned address = row; address < row + 16; ++address) {
                if (address < first || address > last) {
                    text += "   ";
                    continue;
                }
                uint8_t value = 0;
                DWORD error = 0;
                if (transfer([&] { return I2CRead(bus, code, static_cast<uint8_t>(address), 0, &value); }, error)) {
                    std::snprintf(cell, sizeof cell, " %02x", address);
                    text += cell;
                    found.push_back(address);
                } else if (error == kNoAcknowledge) {
                    text += " --";
                } else {
                    throw Failure("i2c detect: " + failureCause(error, static_cast<uint8_t>(address), bus));
                }
            }
            text += "\n";
        }
        tool.emit("i2c detect", text, {{"bus", bus}, {"addresses", found}});
    });
}

}  // namespace tarvik_tool
