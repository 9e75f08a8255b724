// The C control API of the backlight: thin wrappers over vboard/system.h.
#include "control/c_api.h"
#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

uint32_t vboard_backlight_level(void) { return vboard::backlight().level; }

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- Backlight ----

uint32_t vboard_backlight_level(void) {
    return guardControl(__func__, uint32_t{0}, [] { return capi::vboard_backlight_level(); });
}

}  // extern "C"
