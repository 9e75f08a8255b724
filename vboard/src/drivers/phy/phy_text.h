// Small renderings the system models share in their trace lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vboard {

// A physical address as a register map writes it: "0x020C4000".
inline std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace vboard
