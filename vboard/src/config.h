// Board configuration files and lines.
#pragma once

#include <string>
#include <vector>

namespace vboard {

class Board;

// Applies a configuration file to a board without going through the control API, so that it can
// run while the board is being built. Returns one message per line it could not apply.
std::vector<std::string> loadConfigInto(Board& board, const std::string& path);
std::vector<std::string> applyLineTo(Board& board, const std::string& line);

}  // namespace vboard
