// Each family's kept state, forgotten at once.
#include "library_state.h"

#include "gpio/gpio_operations.h"
#include "uart/uart_operations.h"

namespace tarvik {

void resetLibraryState() {
    resetGpioState();
    resetUartState();
}

}  // namespace tarvik
