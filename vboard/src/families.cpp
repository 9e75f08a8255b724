// The driver families of the virtual board.
#include "families.h"

#include "board.h"
#include "gpio/gpio_controller.h"
#include "uart/serial_port.h"

namespace vboard {

void installFamilies(Board& board) {
    installGpio(board);
    installSerialPorts(board);
}

}  // namespace vboard
