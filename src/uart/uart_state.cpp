// The UART family's kept state, zero when the library is loaded and kept until it is unloaded.
#include "uart/uart_state.h"

namespace tarvik {

UartState uartState;

}  // namespace tarvik
