// The system services of the board, installed together.
#include "os/system_install.h"

#include "os/board.h"

#include "drivers/backlight/backlight_model.h"
#include "os/board_storage.h"
#include "drivers/phy/phy_model.h"
#include "drivers/reset/reset_model.h"
#include "os/system_services.h"

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
