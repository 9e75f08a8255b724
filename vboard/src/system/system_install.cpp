// The system services of the board, installed together.
#include "system/system_install.h"

#include "board.h"

#include "system/backlight_driver.h"
#include "system/board_storage.h"
#include "system/physical_access_driver.h"
#include "system/reset_driver.h"
#include "system/system_services.h"

namespace vboard {

void installSystem(Board& board) {
    // The services' state first: the other power-on steps may ask whether the board restarts.
    SystemServices& services = installSystemServices(board);
    installPhysicalAccess(board);
    installResetDriver(board);
    installBacklight(board);
    // The registry comes from the hive files on the flash, or from the image's defaults.
    installStorage(board, services);
}

}  // namespace vboard
