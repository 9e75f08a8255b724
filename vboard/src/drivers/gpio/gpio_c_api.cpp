// The C control API of the GPIO controller: thin wrappers over vboard/gpio.h.
#include "control/c_api.h"
#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

int vboard_gpio_drive_input(int bank, int pin, int level) {
    return vboard::gpio().driveInput(bank, pin, level != 0) ? 1 : 0;
}

int vboard_gpio_drive_index(uint32_t index, int level) {
    return vboard::gpio().driveIndex(index, level != 0) ? 1 : 0;
}

int vboard_gpio_pad(uint32_t index, int* bank, int* pin) {
    const auto pad = vboard::gpioPadOf(index);
    if (!pad) return 0;
    if (bank != nullptr) *bank = pad->bank;
    if (pin != nullptr) *pin = pad->pin;
    return 1;
}

int vboard_gpio_pin(int bank, int pin, vboard_gpio_pin_state* state) {
    if (state == nullptr || bank < 0 || bank >= vboard::kGpioBanks || pin < 0 ||
        pin >= vboard::kGpioPinsPerBank)
        return 0;
    const vboard::GpioPinState s = vboard::gpio().pin(bank, pin);
    state->output = s.output ? 1 : 0;
    state->latch = s.latch ? 1 : 0;
    state->input = s.input ? 1 : 0;
    state->mode = s.mode;
    state->has_event = s.event != nullptr ? 1 : 0;
    return 1;
}

size_t vboard_gpio_interrupt_count(void) { return vboard::gpio().interrupts().size(); }

int vboard_vcd(const char* path) { return vboard::recordVcd(path ? path : "") ? 1 : 0; }

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- GPIO ----

int vboard_gpio_drive_input(int bank, int pin, int level) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_drive_input(bank, pin, level); });
}
int vboard_gpio_drive_index(uint32_t index, int level) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_drive_index(index, level); });
}
int vboard_gpio_pad(uint32_t index, int* bank, int* pin) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_pad(index, bank, pin); });
}
int vboard_gpio_pin(int bank, int pin, vboard_gpio_pin_state* state) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_pin(bank, pin, state); });
}
size_t vboard_gpio_interrupt_count(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_gpio_interrupt_count(); });
}
int vboard_vcd(const char* path) {
    return guardControl(__func__, 0, [&] { return capi::vboard_vcd(path); });
}

}  // extern "C"
