// The GPIO directives of a board configuration: "gpio input 0.2 1", "gpio reset", "vcd <file>|off".
#include <cerrno>
#include <cstring>

#include "drivers/gpio/gpio_controller.h"

namespace vboard {

std::string gpioDirective(GpioController& gpio, const std::vector<std::string>& words) {
    const std::string sub = words.size() > 1 ? words[1] : "";
    if (sub == "reset") {
        if (words.size() != 2) return "expected: gpio reset";
        gpio.reset();
        return "";
    }
    if (sub != "input") return "expected: gpio input <bank>.<pin>|<index> <0|1> or gpio reset";
    const std::string usage = "expected: gpio input <bank>.<pin>|<index> <0|1>";
    if (words.size() != 4) return usage;
    const std::string& where = words[2];
    const size_t dot = where.find('.');
    int64_t bank = 0;
    int64_t pin = 0;
    if (dot == std::string::npos) {
        // A module index, as the library's callers number the pins.
        uint64_t index = 0;
        if (!parseUnsigned(where, UINT32_MAX, index)) return usage;
        const auto pad = gpioPadOf(static_cast<uint32_t>(index));
        if (!pad) return "module index " + where + " has no GPIO (1 to 23 and 34 have)";
        bank = pad->bank;
        pin = pad->pin;
    } else if (!parseSigned(where.substr(0, dot), INT32_MIN, INT32_MAX, bank) ||
               !parseSigned(where.substr(dot + 1), INT32_MIN, INT32_MAX, pin)) {
        return usage;
    }
    if (words[3] != "0" && words[3] != "1") return usage;
    if (!GpioController::onBoard(bank, pin)) return "no pin " + where + " on the board";
    gpio.driveInput(static_cast<int>(bank), static_cast<int>(pin), words[3] == "1");
    return "";
}

std::string vcdDirective(GpioController& gpio, const std::vector<std::string>& words) {
    if (words.size() != 2) return "expected: vcd <file>|off";
    if (gpio.keepRecording(words[1] == "off" ? "" : words[1])) return "";
    return "cannot write the waveform '" + words[1] + "': " + std::strerror(errno);
}

}  // namespace vboard
