// The GPIO family's kept state, zero when the library is loaded and kept until it is unloaded.
#include "gpio/gpio_state.h"

namespace tarvik {

GpioState gpioState;

}  // namespace tarvik
