// The backlight's control side: its installation on the board, and backlight().
#include "drivers/backlight/backlight_driver.h"

namespace vboard {
namespace {

Installed<BacklightDriver> installed;

}  // namespace

void installBacklight(Host& host) {
    auto driver = std::make_shared<BacklightDriver>();
    host.installModel(installed, driver, {{"BKL1:", driver}});
    host.nameRequests("BKL", {{"SET_LEVEL", kBacklightSetLevel},
                              {"FOLLOW_UP", kBacklightFollowUp}});
}

BacklightState backlight() { return installed.get().state(); }

}  // namespace vboard
