// The module's GPIO numbering. The module keeps its pin numbers whatever the SoC routes behind
// them, so the map is a fixed table; it is not monotonic (17 -> 18, 18 -> 16, 19 -> 17).
#include "gpio/gpio_pin_map.h"

namespace tarvik {
namespace {

// GPIO number (32 x bank + pin) of module indices 1 to 23; index 34 is the only one above.
// Indices 24 to 29 are the UART RTS lines, 30 to 33 are not GPIOs on this module.
constexpr int32_t kGpioNumbers[] = {
    2,   4,   5,   163, 101, 116, 91, 103, 104, 174, 175, 105,  // 1 - 12
    192, 193, 149, 205, 18,  16,  17, 19,  20,  146, 147,       // 13 - 23
};
constexpr uint32_t kLastTableIndex = sizeof(kGpioNumbers) / sizeof(kGpioNumbers[0]);
constexpr uint32_t kIndexBeyondTable = 34;
constexpr int32_t kGpioNumberOfIndex34 = 21;

int32_t gpioNumber(uint32_t moduleIndex) {
    if (moduleIndex >= 1 && moduleIndex <= kLastTableIndex) return kGpioNumbers[moduleIndex - 1];
    if (moduleIndex == kIndexBeyondTable) return kGpioNumberOfIndex34;
    return GPIO_NOT_MAPPED;
}

}  // namespace

int32_t lookupModuleGpio(uint32_t moduleIndex, uint32_t queryKind) {
    const int32_t number = gpioNumber(moduleIndex);
    // Signed division truncating towards zero: the unmapped -1 gives bank 0 and pin -1.
    switch (queryKind) {
        case GPIO_QUERY_BANK:
            return number / 32;
        case GPIO_QUERY_PIN:
            return number % 32;
        default:
            return number;
    }
}

}  // namespace tarvik
