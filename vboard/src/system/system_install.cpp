// The system services of the board, installed together.
#include "system/system_install.h"

#include "board.h"

#include "system/backlight_driver.h"
#include "system/physical_access_driver.h"
#include "system/reset_driver.h"
#include "system/system_registry.h"
#include "system/system_services.h"

namespace vboard {

void installSystem(Board& board) {
    // The services' state first: the other power-on steps may ask whether the board restarts.
    installSystemServices(board);
    installPhysicalAccess(board);
    installResetDriver(board);
    installBacklight(board);
    // The hives as the image brings them.
    board.powerOnSteps.push_back([](Board& b) {
        std::lock_guard<std::mutex> hold(b.lock);
        defaultHive(b.registry, HKEY_LOCAL_MACHINE);
        defaultHive(b.registry, HKEY_CURRENT_USER);
    });
}

}  // namespace vboard
