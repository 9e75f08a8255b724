// The system services of the board, installed together.
#include "system/system_install.h"

#include "system/physical_access_driver.h"
#include "system/reset_driver.h"
#include "system/system_services.h"

namespace vboard {

void installSystem(Board& board) {
    // The services' state first: the other power-on steps may ask whether the board restarts.
    installSystemServices(board);
    installPhysicalAccess(board);
    installResetDriver(board);
}

}  // namespace vboard
