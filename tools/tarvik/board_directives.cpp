// The board commands' words as configuration directives (see tool.h): shared by the commands on
// the tool's own board and those sent to an application's board with --attach, so that both
// accept and refuse the same things with the same messages.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "tool.h"

namespace tarvik_tool {
namespace {

// An argument that becomes one word of a directive: a blank, a comment or a quote in it would
// turn it into other words ("DeviceIoControl code=5", "16 # c"), so it is refused, named.
const std::string& oneWord(const std::string& text, const std::string& what) {
    const bool plain = !text.empty() && text[0] != '#' && text[0] != '"' &&
                       std::none_of(text.begin(), text.end(), [](char c) {
                           return static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
                       });
    if (!plain)
        throw UsageError(what + " '" + text + "' is not one word (no blanks, control bytes, or '#' or '\"' first)");
    return text;
}

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::string padOf(const std::string& pin, const std::string& command) {
    std::string pad = oneWord(pin, command + ": PIN");
    if (pad.find('.') != std::string::npos) return pad;
    const uint32_t index = number(pin, command + ": PIN", UINT32_MAX);
    const auto bankPin = gpioPad(index);
    if (!bankPin) throw UsageError(command + ": module index " + pin + " has no GPIO pad");
    return std::to_string(bankPin->first) + "." + std::to_string(bankPin->second);
}

BoardDirective driveDirective(const BoardArgs& a) {
    const std::string pad = padOf(a.pin, "board drive");
    const size_t level = choice(a.level, "board drive: LEVEL", {"0", "1"});
    return {"gpio input " + pad + " " + a.level, {{"pin", pad}, {"level", level}}};
}

BoardDirective injectDirective(const BoardArgs& a) {
    const std::string text = formatCanFrameText(parseCanFrameText(a.frame));
    return {"can inject " + text, {{"frame", text}}};
}

BoardDirective attachI2cDirective(const BoardArgs& a) {
    const uint32_t bus = number(a.bus, "board attach-i2c: BUS", 2);
    const uint32_t address = number(a.address, "board attach-i2c: ADDR", 0xFF);
    choice(a.model, "board attach-i2c: MODEL", {"eeprom", "sensor"});
    const std::string size =
        a.size.empty() ? "" : " " + std::to_string(number(a.size, "board attach-i2c: SIZE", 65536));
    return {"i2c attach " + std::to_string(bus) + " " + hex(address, 2) + " " + a.model + size,
            {{"bus", bus}, {"address", address}, {"model", a.model}}};
}

BoardDirective failDirective(const BoardArgs& a) {
    BoardDirective d{"fault " + oneWord(a.function, "board fail: FUNCTION"), {{"function", a.function}}};
    if (!a.device.empty()) {
        d.directive += " device=" + oneWord(a.device, "board fail: --device");
        d.fields["device"] = a.device;
    }
    // The numbers are checked here so that the message names the tool's option.
    const std::pair<const char*, const std::string*> numbers[] = {
        {"code", &a.code}, {"nth", &a.nth}, {"error", &a.error}};
    for (const auto& [key, text] : numbers) {
        if (text->empty()) continue;
        // A request goes by its number or by the name the trace prints (SET_PIN), which the
        // directive checks against the device's requests.
        if (key == std::string("code") && !std::isdigit(static_cast<unsigned char>(text->front()))) {
            d.directive += " code=" + oneWord(*text, "board fail: --code");
            d.fields[key] = *text;
            continue;
        }
        const uint32_t value = number(*text, std::string("board fail: --") + key);
        d.directive += std::string(" ") + key + "=" + std::to_string(value);
        d.fields[key] = value;
    }
    return d;
}

void addBoardArguments(CLI::App* board, const std::shared_ptr<BoardArgs>& args, const BoardCommands& run) {
    BoardArgs& a = *args;
    auto* drive = board->add_subcommand("drive", "drive an input pad from outside");
    drive->add_option("PIN", a.pin, "module index (3) or bank.pin (0.5)")->required();
    drive->add_option("LEVEL", a.level, "0 or 1")->required();
    drive->callback([args, run] { run("board drive", driveDirective(*args)); });

    auto* inject = board->add_subcommand("inject-can", "another node on the bus sends a frame");
    inject->add_option("FRAME", a.frame, "ID#DATA, as cansend takes it")->required();
    inject->callback([args, run] { run("board inject-can", injectDirective(*args)); });

    auto* attach = board->add_subcommand("attach-i2c", "put a device model on a bus");
    attach->add_option("BUS", a.bus, "bus 0, 1 or 2")->required();
    attach->add_option("ADDR", a.address, "address byte")->required();
    attach->add_option("MODEL", a.model, "eeprom or sensor")->required();
    attach->add_option("SIZE", a.size, "an EEPROM's size in bytes");
    attach->callback([args, run] { run("board attach-i2c", attachI2cDirective(*args)); });

    auto* fail = board->add_subcommand("fail", "make a platform call fail from now on");
    fail->add_option("FUNCTION", a.function, "DeviceIoControl, CreateFileW ...")->required();
    fail->add_option("--device", a.device, "only calls on this device (GIO1:)");
    fail->add_option("--code", a.code, "only this request: its code or the trace's name (SET_PIN)");
    fail->add_option("--nth", a.nth, "only the Nth matching call (1 = the next)");
    fail->add_option("--error", a.error, "the error the call fails with");
    fail->callback([args, run] { run("board fail", failDirective(*args)); });
}

}  // namespace tarvik_tool
