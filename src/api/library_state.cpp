// Each family's kept state, forgotten at once.
#include "library_state.h"

#include "can/can_operations.h"
#include "gpio/gpio_operations.h"

namespace tarvik {

void resetLibraryState() {
    resetGpioState();
    resetCanState();
}

}  // namespace tarvik
