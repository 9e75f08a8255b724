// The two exported backlight operations.
#pragma once

#include <stdint.h>

namespace tarvik {

// 1 when the driver accepted the level and its follow-up.
uint8_t SetBacklightLevel(uint32_t level);
// Writes the time-outs, then (only if they were written) whether they apply; 1 when all four
// values were written. Nothing is flushed: that is SaveRegistry's.
uint8_t SetBacklightSuspend(uint32_t timeout, uint8_t enable);

}  // namespace tarvik
