// The driver families of the virtual board.
#include "families.h"

#include "board.h"
#include "can/can_controller.h"
#include "gpio/gpio_controller.h"

namespace vboard {

void installFamilies(Board& board) {
    installGpio(board);
    installCan(board);
}

}  // namespace vboard
