// The C control API of the physical-access drivers: thin wrappers over vboard/system.h.
#include "control/c_api.h"
#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

int vboard_phy_peek(uint32_t address, unsigned width, uint32_t* value) {
    const auto read = vboard::physicalMemory().peek(address, width);
    if (!read) return 0;
    if (value != nullptr) *value = *read;
    return 1;
}

int vboard_phy_poke(uint32_t address, unsigned width, uint32_t value) {
    return vboard::physicalMemory().poke(address, width, value) ? 1 : 0;
}

size_t vboard_phy_access_count(void) { return vboard::physicalMemory().accesses().size(); }

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- Physical access ----

int vboard_phy_peek(uint32_t address, unsigned width, uint32_t* value) {
    return guardControl(__func__, 0, [&] { return capi::vboard_phy_peek(address, width, value); });
}
int vboard_phy_poke(uint32_t address, unsigned width, uint32_t value) {
    return guardControl(__func__, 0, [&] { return capi::vboard_phy_poke(address, width, value); });
}
size_t vboard_phy_access_count(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_phy_access_count(); });
}

}  // extern "C"
