// The backlight's control side: its installation on the board, and backlight().
#include "drivers/backlight/backlight_driver.h"

namespace vboard {
namespace {

Installed<BacklightDriver> installed;

}  // namespace

void installBacklight(Host& host) {
    auto driver = std::make_shared<BacklightDriver>();
    installed.keep(driver);
    host.plugAtPowerOn({{"BKL1:", driver}}, [driver] { driver->powerOn(); });
    host.nameRequests("BKL", {{"SET_LEVEL", kBacklightSetLevel}, {"FOLLOW_UP", kBacklightFollowUp}});
}

BacklightState backlight() { return installed.get().state(); }

}  // namespace vboard
