// The PHY directive of a board configuration: "phy <address> 8|16|32 <value>" sets a register
// as the outside world would (a board with another silicon), read-only ones included.
#include "drivers/phy/physical_access_driver.h"

namespace vboard {

std::string phyDirective(PhysicalMemory& memory, const std::vector<std::string>& words) {
    const std::string usage = "expected: phy <address> 8|16|32 <value>";
    uint32_t address = 0;
    uint32_t value = 0;
    uint64_t width = 0;
    if (words.size() != 4 || !parseDword(words[1], address) ||
        !parseUnsigned(words[2], 32, width) || !parseDword(words[3], value))
        return usage;
    if (physicalAccessCheck(address, static_cast<unsigned>(width)) != ERROR_SUCCESS)
        return "no " + words[2] + "-bit register at " + words[1] + " (width 8, 16 or 32, aligned)";
    if (value > physicalWidthMask(static_cast<unsigned>(width)))
        return "value " + words[3] + " is wider than the register";
    memory.poke(address, static_cast<unsigned>(width), value);
    return "";
}

}  // namespace vboard
