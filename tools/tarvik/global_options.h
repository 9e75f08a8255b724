// The options every tarvik command line takes before its command: the one place they are
// declared. How those that set up the virtual board are applied lives in board_commands.cpp.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace tarvik_tool {

class Tool;

struct GlobalOptions {
    std::string board;   // --board DIR: the board's persistent folder
    std::string config;  // --config FILE: a board configuration file
    bool trace = false;  // --trace: every platform call, decoded, among the debug lines
    bool quiet = false;  // --quiet: no debug lines
    bool json = false;   // --json: one JSON object per command on stdout
    std::string vcd;     // --vcd FILE: a waveform of the GPIO pins the run touched
    std::string listen;  // --listen PATH|auto: the tool's board serves the live protocol
    std::string attach;  // --attach PID|PATH: the command works on a running program's board
};

void addGlobalOptions(CLI::App& app, GlobalOptions& options);
// Applies the options once the command line has been read, before its command runs. Throws
// UsageError for an option that cannot be used (a bad configuration file, a folder that can't
// be made).
void applyGlobalOptions(const GlobalOptions& options, Tool& tool);
// The board's part: the folder, the configuration, where the debug lines and the trace go.
void applyBoardOptions(const GlobalOptions& options);
// As the tool ends: writes the --vcd waveform out. Answers the exit status, 1 instead of 0 when
// the waveform was lost.
int finishBoardOptions(const GlobalOptions& options, int status);

}  // namespace tarvik_tool
