// The driver families of the virtual board.
#include "drivers/families.h"

#include "os/board.h"
#include "drivers/can/can_model.h"
#include "drivers/gpio/gpio_model.h"
#include "drivers/spi/spi_model.h"
#include "drivers/i2c/i2c_model.h"
#include "drivers/uart/uart_model.h"
#include "os/system_install.h"

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
