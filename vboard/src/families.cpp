// The driver families of the virtual board.
#include "families.h"

#include "board.h"
#include "gpio/gpio_controller.h"
#include "system/system_install.h"

namespace vboard {

void installFamilies(Board& board) {
    installGpio(board);
    installSystem(board);
}

}  // namespace vboard
