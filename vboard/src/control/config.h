// Board configuration files and lines.
#pragma once

#include <cstdint>
#include <cstdio>
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
// The same for a file already open (the fuzz target's input), its problems named `name:line`.
std::vector<std::string> applyConfigText(Board& board, std::FILE* in, const std::string& name);

// What a configuration holds at most. A line of a megabyte carries any registry value a person
// writes by hand and a waveform's file name alike; a word, a key path of short names hundreds
// deep or a quoted string of 64 KiB; a file, a board of any size. Beyond them a line is refused,
// and a file is read no further.
constexpr size_t kConfigLineLimit = size_t{1} << 20;
constexpr size_t kConfigWordLimit = size_t{1} << 16;
constexpr uint64_t kConfigFileLimit = uint64_t{1} << 24;

}  // namespace vboard
