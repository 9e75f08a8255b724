// Puts the system services on a board under construction.
#pragma once

namespace vboard {

class Board;

// The physical-access drivers, the backlight, the reset driver, the kernel's debug link and
// touch calibration, and the board's storage with the registry hives.
void installSystem(Board& board);

}  // namespace vboard
