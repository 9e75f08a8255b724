// The CAN family's kept state, zero when the library is loaded and kept until it is unloaded.
#include "can/can_state.h"

namespace tarvik {

CanState canState;

}  // namespace tarvik
