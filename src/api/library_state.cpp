// Each family's kept state, forgotten at once.
#include "library_state.h"

#include "can/can_operations.h"
#include "gpio/gpio_operations.h"
#include "spi/spi_operations.h"
#include "i2c/i2c_operations.h"
#include "uart/uart_operations.h"

namespace tarvik {

void resetLibraryState() {
    resetGpioState();
    resetSpiState();
    resetI2cState();
    resetUartState();
    resetCanState();
}

}  // namespace tarvik
