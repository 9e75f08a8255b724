// Where each driver family puts its models, decoders and configuration directives on a new board.
#pragma once

namespace vboard {

class Board;

// Installs every family's driver models on a board under construction. Installers work on the
// board they are given and must not reach the board through the control API.
void installFamilies(Board& board);

}  // namespace vboard
