// The library as loading leaves it, for the native builds: each family's kept state
// (src/<family>/<family>_state.h) zeroed, padding included. A family that keeps state adds its
// line here.
#include "fresh_library.h"

#include <cstring>
#include <type_traits>

#include "can/can_state.h"
#include "gpio/gpio_state.h"
#include "i2c/i2c_state.h"
#include "spi/spi_state.h"
#include "uart/uart_state.h"

namespace tarvik_test {
namespace {

template <class State>
void zero(State& state) {
    static_assert(std::is_trivially_copyable<State>::value, "kept state is plain records");
    std::memset(static_cast<void*>(&state), 0, sizeof state);
}

}  // namespace

void freshLibrary() {
    zero(tarvik::gpioState);
    zero(tarvik::i2cState);
    zero(tarvik::spiState);
    zero(tarvik::uartState);
    zero(tarvik::canState);
}

}  // namespace tarvik_test
