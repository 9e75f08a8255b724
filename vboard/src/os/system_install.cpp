// The system services of the board, installed together, after the driver families.
#include "os/system_install.h"

#include "os/board.h"
#include "os/board_storage.h"
#include "os/system_services.h"

namespace vboard {

void installSystem(Board& board) {
    SystemServices& services = installSystemServices(board);
    // The registry comes from the hive files on the flash, or from the image's defaults.
    installStorage(board, services);
    // The kernel's one request, for faults on KernelIoControl.
    Host(board).nameRequests("", {{"KITL_POWER", kKitlPower}});
}

}  // namespace vboard
