// Board configuration files and lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vboard {

// The configuration language: the public loadConfig and applyConfigLine (vboard/vboard.h) read
// and apply lines; the board installs the built-in directives (debug, trace, record, strict, sleep,
// time, remove-driver, registry, registry-delete, fault) and the environment's configuration
// through installConfiguration (os/host.h). Directives run without the board's lock held.

// Applies a configuration file already open (the fuzz target's input), its problems named
// `name:line`.
std::vector<std::string> applyConfigText(std::FILE* in, const std::string& name);

// What a configuration holds at most. A line of a megabyte carries any registry value a person
// writes by hand and a waveform's file name alike; a word, a key path of short names hundreds
// deep or a quoted string of 64 KiB; a file, a board of any size. Beyond them a line is refused,
// and a file is read no further.
constexpr size_t kConfigLineLimit = size_t{1} << 20;
constexpr size_t kConfigWordLimit = size_t{1} << 16;
constexpr uint64_t kConfigFileLimit = uint64_t{1} << 24;

}  // namespace vboard
