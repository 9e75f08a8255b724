// The exported GPIO operations. Each one maps the module index to its bank and pin, opens the
// GPIO driver for itself, sends its requests through GpioDevice and closes the driver again.
// A pin interrupt is the exception: its handle stays open in the index's slot from
// GPIOSetInterrupt until GPIOClearInterrupt, because closing it would release the interrupt.
#include "gpio/gpio_operations.h"

#include "gpio/gpio_device.h"
#include "gpio/gpio_pin_map.h"
#include "gpio/gpio_records.h"
#include "gpio/gpio_state.h"
#include "platform/request_lines.h"

namespace tarvik {

GpioDevice gpioDevice;

namespace {

struct ModuleGpio {
    int32_t number;
    int32_t bank;
    int32_t pin;
    bool exists() const { return number != GPIO_NOT_MAPPED; }
};

ModuleGpio lookUp(uint32_t index) {
    return {lookupModuleGpio(index, GPIO_QUERY_NUMBER), lookupModuleGpio(index, GPIO_QUERY_BANK),
            lookupModuleGpio(index, GPIO_QUERY_PIN)};
}

HANDLE* interruptSlot(uint32_t index) {
    return index >= 1 && index <= kGpioSlotCount ? &gpioState.interruptSlots[index - 1] : nullptr;
}

// The module's UART RTS lines, indices 24 to 29, are wired with a fixed direction. They have no
// GPIO behind them, so even the direction they allow is refused afterwards.
struct RtsLine {
    uint32_t index;
    bool refusesInput;  // else it refuses to be an output
};
constexpr RtsLine kRtsLines[] = {{24, false}, {25, true}, {26, false},
                                 {27, true},  {28, false}, {29, true}};

const RtsLine* rtsLine(uint32_t index) {
    for (const RtsLine& line : kRtsLines)
        if (line.index == index) return &line;
    return nullptr;
}

uint8_t refuseMissingGpio() { return refuse(L"VELNA gpio doesn't exist\r\n"); }

// Gives up an interrupt's handle: closes it and empties the slot.
uint8_t dropInterrupt(HANDLE& slot, const WCHAR* message) {
    gpioDevice.closeDriver(slot);
    return refuse(message);
}

}  // namespace

uint8_t GPIOSetDirection(uint32_t index, uint8_t input, uint8_t level) {
    const ModuleGpio gpio = lookUp(index);
    const RtsLine* rts = rtsLine(index);
    if (!gpio.exists() && rts == nullptr) return refuseMissingGpio();

    HANDLE handle = nullptr;
    gpioDevice.openDriver(handle);
    if (rts != nullptr) {
        const bool asInput = input == 1;
        if (asInput && rts->refusesInput) {
            NKDbgPrintfW(L"UART RTS could not be an input\r\n");
            gpioDevice.closeDriver(handle);
            return 0;
        }
        if (!asInput && !rts->refusesInput) {
            NKDbgPrintfW(L"UART RTS could not be an output\r\n");
            gpioDevice.closeDriver(handle);
            return 0;
        }
        gpioDevice.closeDriver(handle);
        return refuseMissingGpio();
    }

    // The level is sent for inputs as well as for outputs.
    uint8_t result = 0;
    if (gpioDevice.setDirection(handle, gpio.bank, gpio.pin, input == 1 ? 1 : 0,
                                kGpioNoInterruptMode))
        result = gpioDevice.setPin(handle, gpio.bank, gpio.pin, level) ? 1 : 0;
    gpioDevice.closeDriver(handle);
    return result;
}

void GPIOSetPin(uint32_t index, uint8_t level) {
    const ModuleGpio gpio = lookUp(index);
    if (!gpio.exists()) {
        refuseMissingGpio();
        return;
    }
    HANDLE handle = nullptr;
    gpioDevice.openDriver(handle);
    if (gpioDevice.setPin(handle, gpio.bank, gpio.pin, level))
        NKDbgPrintfW(L"VELNA gpio operate successful\r\n");
    else
        NKDbgPrintfW(L"VELNA gpio doesn't operate successful\r\n");
    gpioDevice.closeDriver(handle);
}

uint8_t GPIOGetPin(uint32_t index) {
    const ModuleGpio gpio = lookUp(index);
    if (!gpio.exists()) return refuseMissingGpio();
    HANDLE handle = nullptr;
    gpioDevice.openDriver(handle);
    // Callers rely on the inverted answer: 1 when the pin reads 0.
    const uint8_t result = gpioDevice.getPin(handle, gpio.bank, gpio.pin) ? 1 : 0;
    gpioDevice.closeDriver(handle);
    return result;
}

uint8_t GPIOSetInterrupt(uint32_t index, uint32_t mode, HANDLE event) {
    const ModuleGpio gpio = lookUp(index);
    HANDLE* slot = interruptSlot(index);
    if (!gpio.exists() || slot == nullptr) return refuseMissingGpio();

    // An interrupt that is already set is armed again on the handle it keeps.
    if (*slot == nullptr) {
        gpioDevice.openDriver(*slot);
        if (*slot == INVALID_HANDLE_VALUE) {
            gpioDevice.closeDriver(*slot);
            return refuse(L"VELNA gpio handle error\r\n");
        }
    }
    if (!ResetEvent(event))
        return dropInterrupt(*slot, L"VELNA gpio event handle error\r\n");
    if (!gpioDevice.setDirection(*slot, gpio.bank, gpio.pin, 1, mode))
        return dropInterrupt(*slot, L"VELNA gpio direction doesn't operate successful\r\n");
    if (!gpioDevice.registerEvent(*slot, event, gpio.bank, gpio.pin))
        return dropInterrupt(*slot, L"VELNA gpio interrupt doesn't operate successful\r\n");
    return 1;
}

uint8_t GPIOClearInterrupt(uint32_t index) {
    const ModuleGpio gpio = lookUp(index);
    HANDLE* slot = interruptSlot(index);
    if (!gpio.exists() || slot == nullptr) return refuseMissingGpio();
    if (*slot == nullptr) {
        // No interrupt is set: there is no handle to send the clear on.
        return refuse(L"VELNA gpio clear interrupt doesn't operate successful\r\n");
    }
    if (gpioDevice.clearEvent(*slot, gpio.bank, gpio.pin))
        NKDbgPrintfW(L"VELNA gpio clear interrupt operate successful\r\n");
    else
        NKDbgPrintfW(L"VELNA gpio clear interrupt doesn't operate successful\r\n");
    gpioDevice.closeDriver(*slot);
    // The caller learns only that the driver was asked; a rejection shows in the debug output.
    return 1;
}

}  // namespace tarvik
