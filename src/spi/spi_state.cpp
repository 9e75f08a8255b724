// The SPI family's kept state, zero when the library is loaded and kept until it is unloaded.
#include "spi/spi_state.h"

namespace tarvik {

SpiState spiState;

}  // namespace tarvik
