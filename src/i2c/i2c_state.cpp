// The I2C family's kept state, zero when the library is loaded and kept until it is unloaded.
#include "i2c/i2c_state.h"

namespace tarvik {

I2cState i2cState;

}  // namespace tarvik
