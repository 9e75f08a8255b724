// The GPIO controller's control side: its installation on the board, gpio(), recordVcd() and
// the module's pin map.
#include <cstdlib>

#include "drivers/gpio/gpio_controller.h"

namespace vboard {
namespace {

// The controller installed on this process's board. Like the board it is never destroyed: the
// device can be taken off the board while tests still drive its pins, and callers may reach
// gpio() from their own static destructors.
Installed<GpioController> installed;

}  // namespace

std::optional<GpioPad> gpioPadOf(uint32_t index) {
    // The module's connector pins and the i.MX6 pads behind them, as the library maps them.
    static constexpr struct {
        uint32_t index;
        int bank;
        int pin;
    } kPads[] = {{1, 0, 2},   {2, 0, 4},   {3, 0, 5},   {4, 5, 3},   {5, 3, 5},   {6, 3, 20},
                 {7, 2, 27},  {8, 3, 7},   {9, 3, 8},   {10, 5, 14}, {11, 5, 15}, {12, 3, 9},
                 {13, 6, 0},  {14, 6, 1},  {15, 4, 21}, {16, 6, 13}, {17, 0, 18}, {18, 0, 16},
                 {19, 0, 17}, {20, 0, 19}, {21, 0, 20}, {22, 4, 18}, {23, 4, 19}, {34, 0, 21}};
    for (const auto& pad : kPads)
        if (pad.index == index) return GpioPad{pad.bank, pad.pin};
    return std::nullopt;
}

void installGpio(Host& host) {
    auto controller = std::make_shared<GpioController>(host.clock());
    // At power-on every pin is an input, low, without an interrupt, and "GIO1:" is on the board.
    host.installModel(installed, controller, {{kGpioDevice, controller}});
    // The directive drives the model it was installed with, also while the device is removed.
    GpioController* model = controller.get();
    host.addDirective(Directive{
        "gpio", "gpio input <bank>.<pin>|<index> 0|1 | gpio reset",
        [model](const std::vector<std::string>& words, const std::string&) {
            return gpioDirective(*model, words);
        }});
    host.addDirective(Directive{
        "vcd", "vcd <file>|off",
        [model](const std::vector<std::string>& words, const std::string&) {
            return vcdDirective(*model, words);
        }});
    host.nameRequests("GIO", {{"SET_DIRECTION", kGpioSetDirection},
                              {"SET_PIN", kGpioSetPin},
                              {"GET_PIN", kGpioGetPin},
                              {"SET_EVENT", kGpioSetEvent},
                              {"CLEAR_EVENT", kGpioClearEvent}});
    // A waveform still recording when the process ends is written out then.
    std::atexit([] { installed.kept().recordWaveform(""); });
}

bool recordVcd(const std::string& path) { return installed.get().recordWaveform(path); }

GpioControl& gpio() { return installed.get(); }

}  // namespace vboard
