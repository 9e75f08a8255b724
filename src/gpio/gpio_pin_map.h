// The module's GPIO numbering: which i.MX6 bank and pin stand behind each module index.
#pragma once

#include <stdint.h>

namespace tarvik {

// The GPIO number of an index the table does not hold.
constexpr int32_t GPIO_NOT_MAPPED = -1;

// What lookupModuleGpio answers.
constexpr uint32_t GPIO_QUERY_NUMBER = 0;  // 32 x bank + pin
constexpr uint32_t GPIO_QUERY_BANK = 1;    // the 0-based bank
constexpr uint32_t GPIO_QUERY_PIN = 2;     // the pin within the bank

// Looks up a module index. Any other query kind answers the number. For an unmapped index the
// number is -1, and so the bank is 0 and the pin -1.
int32_t lookupModuleGpio(uint32_t moduleIndex, uint32_t queryKind);

}  // namespace tarvik
