// Each family's kept state, forgotten at once.
#include "library_state.h"

#include "gpio/gpio_operations.h"
#include "spi/spi_operations.h"

namespace tarvik {

void resetLibraryState() {
    resetGpioState();
    resetSpiState();
}

}  // namespace tarvik
