// Version queries: the library's own constant and the two numbers the OS image keeps in its registry.
#pragma once

#include <stdint.h>

namespace tarvik {

// 1.4.0.1, read from the most significant byte down.
constexpr uint32_t kLibraryVersion = 0x01040001u;

uint32_t TarvikGetVersion();
uint32_t BSPGetVersion();
uint32_t WinCEImageGetVersion();

}  // namespace tarvik
