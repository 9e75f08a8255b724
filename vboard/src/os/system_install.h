// Puts the system services on a board under construction.
#pragma once

namespace vboard {

class Board;

// The kernel's debug link and touch calibration, restarts, and the board's storage with the
// registry hives.
void installSystem(Board& board);

}  // namespace vboard
