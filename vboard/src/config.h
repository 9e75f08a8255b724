// Board configuration files and lines.
#pragma once

#include <string>
#include <vector>

namespace vboard {

class Board;

// Puts the built-in directives (debug, trace, record, strict, sleep, time, remove-driver,
// registry, registry-delete, fault) in the board's table.
void installBuiltInDirectives(Board& board);

// Applies a configuration file or line to a board. Returns one message per line it could not
// apply. Directives run without the board's lock held.
std::vector<std::string> loadConfigInto(Board& board, const std::string& path);
std::vector<std::string> applyLineTo(Board& board, const std::string& line);

}  // namespace vboard
