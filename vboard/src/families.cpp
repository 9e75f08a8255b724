// The driver families of the virtual board.
#include "families.h"

#include "board.h"
#include "can/can_controller.h"
#include "gpio/gpio_controller.h"
#include "spi/spi_ports.h"
#include "i2c/i2c_bus_controller.h"
#include "uart/serial_port.h"
#include "system/system_install.h"

namespace vboard {

void installFamilies(Board& board) {
    installGpio(board);
    installSpi(board);
    installI2c(board);
    installSerialPorts(board);
    installCan(board);
    installSystem(board);
}

}  // namespace vboard
