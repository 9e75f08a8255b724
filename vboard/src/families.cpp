// The driver families of the virtual board.
#include "families.h"

#include "board.h"

namespace vboard {

void installFamilies(Board& /*board*/) {}

}  // namespace vboard
