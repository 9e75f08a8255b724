// The system services of the board, installed together.
#include "system/system_install.h"

#include "system/physical_access_driver.h"

namespace vboard {

void installSystem(Board& board) { installPhysicalAccess(board); }

}  // namespace vboard
