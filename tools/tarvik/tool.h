// The tarvik tool's shared pieces: how a command reports its result and its errors, how it reads
// numbers, and what a session (run, shell) keeps between commands. Each command group lives in a
// file of its own and adds its subcommands to the one CLI11 application with add<Group>Commands.
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarvik_tool {

using Json = nlohmann::ordered_json;

// Exit statuses: the library reported a failure (1), the command line was wrong (2).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Thrown by a command for input it cannot use: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Thrown by a command when the library answered failure: exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown by run and shell to end the process with a status whose message was already printed.
struct SessionExit {
    int status;
};

// What the tool itself opened and configured through the library, so that later commands of a
// session go on from there: the library keeps the ports open, and some of its calls refuse a
// second open (CANOpen) or forget what was configured (CANConfigureMode clears the records).
struct SessionState {
    bool uartOpen[4] = {false, false, false, false};
    struct Can {
        bool open = false;
        bool configured = false;
        bool extended = false;
        uint32_t bitrate = 0;
        bool loopback = false;
    } can;
};

class Tool {
public:
    bool json = false;
    // True once the tool runs the lines of a session (run, shell, tour), where what a command
    // sets up on the board lasts for the commands after it.
    bool session = false;
    SessionState state;
    // --attach PID|PATH: the running board the command works on, instead of the tool's own.
    std::string attach;

    // Prints one command's result: the text for a person, or the object (with "command" first)
    // for a script under --json.
    void emit(const std::string& command, const std::string& text, Json fields = Json::object());
    // Throws Failure with "<command>: <what>" unless ok.
    static void check(bool ok, const std::string& command, const std::string& what);
};

// ---- Reading the command line ----

// A number in decimal or hex ("0x1F"), at most `max`; anything else is a UsageError naming `what`.
uint32_t number(const std::string& text, const std::string& what, uint64_t max = UINT32_MAX);
// One of several words: the index of `text` in `words`, or a UsageError listing them.
size_t choice(const std::string& text, const std::string& what,
              const std::vector<std::string>& words);
// "DEADBEEF", "de ad be ef", "de:ad:be:ef" or "0xde,0xad": bytes in hex.
std::vector<uint8_t> hexBytes(const std::string& text, const std::string& what);
// "0x%02x" bytes joined by spaces, as i2cget and spidev tools print them.
std::string byteList(const std::vector<uint8_t>& bytes);
Json byteArray(const std::vector<uint8_t>& bytes);
// Splits a script or shell line into words as a shell would: blanks separate, quotes ('...' and
// "...") group, a backslash escapes the next character, '#' at a word's start begins a comment.
// False with `error` set for an unterminated quote.
bool splitWords(const std::string& line, std::vector<std::string>& words, std::string& error);

// C escapes in a text typed on a command line or in a scenario: \r \n \t \\ \xHH. False with
// `problem` set ("unknown escape '\q' (known: ...)") for any other escape.
bool unescapeText(const std::string& text, std::string& bytes, std::string& problem);

// ---- The GPIO pads behind the module's indices (the table of Tarvik.h) ----
std::optional<std::pair<int, int>> gpioPad(uint32_t index);

// ---- A cansend frame, "123#DEADBEEF" (8 hex digits: an extended identifier), "123#R" ----
struct CanFrameText {
    uint32_t id = 0;
    bool extended = false;
    bool remote = false;
    uint8_t remoteLength = 0;
    std::vector<uint8_t> data;
};
CanFrameText parseCanFrameText(const std::string& text);  // UsageError when it is none
std::string formatCanFrameText(const CanFrameText& frame);
// candump's line for a frame ("  can1  123   [4]  DE AD BE EF"), or with `log` its log form
// stamped with the host's clock ("(1700000000.123456) can1 123#DEADBEEF").
std::string candumpLine(const CanFrameText& frame, bool log);

// ---- Command groups ----
void addVersionCommands(CLI::App& app, Tool& tool);
void addGpioCommands(CLI::App& app, Tool& tool);
void addI2cCommands(CLI::App& app, Tool& tool);
void addSpiCommands(CLI::App& app, Tool& tool);
void addUartCommands(CLI::App& app, Tool& tool);
void addCanCommands(CLI::App& app, Tool& tool);
void addSystemCommands(CLI::App& app, Tool& tool);
void addTourCommand(CLI::App& app, Tool& tool);
// run and shell: only at the top level, a session does not start another.
void addSessionCommands(CLI::App& app, Tool& tool);
// The virtual board's own commands (board show, drive ...): board_commands.cpp, host builds only.
void addBoardCommands(CLI::App& app, Tool& tool);
// The live board (live_commands.cpp): `boards`, and what --attach runs on a running board.
void addLiveCommands(CLI::App& app, Tool& tool);
void showAttachedBoard(Tool& tool);
// tarvik panel: a running board in the browser (panel*.cpp), only at the top level.
void addPanelCommand(CLI::App& app, Tool& tool);

// ---- The board commands as configuration directives (board_directives.cpp) ----
// The tool's board commands are directives by another name, for the tool's own board as for an
// application's board reached with --attach.
struct BoardArgs {
    std::string pin, level, frame, bus, address, model, size, function, device, code, nth, error;
};
struct BoardDirective {
    std::string directive;  // "gpio input 0.4 0"
    Json fields;            // what --json prints for it
};
// A module index ("2") or a pad ("0.4") as a pad's "bank.pin"; errors start with `command`.
std::string padOf(const std::string& pin, const std::string& command);
BoardDirective driveDirective(const BoardArgs& a);
BoardDirective injectDirective(const BoardArgs& a);
BoardDirective attachI2cDirective(const BoardArgs& a);
BoardDirective failDirective(const BoardArgs& a);
// Adds drive, inject-can, attach-i2c and fail to `board`; each calls `run` with its command's
// name and its directive once its words were checked.
using BoardCommands = std::function<void(const std::string& command, const BoardDirective& d)>;
void addBoardArguments(CLI::App* board, const std::shared_ptr<BoardArgs>& args, const BoardCommands& run);

// ---- What the virtual board tells uart recv and ask about a port (board_commands.cpp) ----
// The library's read cannot say whether bytes arrived while it waits; the board can, so that the
// tool never cancels a read that holds bytes, nor says that nothing came when something did.
// Waits up to `milliseconds` until a call waits on the port; false when none does by then.
bool serialCallWaiting(uint32_t port, unsigned milliseconds);
// Bytes that have arrived on the port's receive line so far.
uint64_t serialBytesArrived(uint32_t port);

// tarvik --attach TARGET ARGS...: the command in ARGS on a running application's board
// (attach.cpp). Answers the exit status.
int runAttached(const std::string& target, std::vector<std::string> args);
// tarvik test SCENARIO -- APP [ARGS...]: an application run against a scenario (scenario.cpp).
void addTestCommand(CLI::App& app, Tool& tool);

// Builds the command tree. `session` leaves out run and shell and the global options.
void addCommands(CLI::App& app, Tool& tool, bool session);
// Runs one command line of a session (words without "tarvik"), printing its errors on stderr;
// answers its exit status. `where` prefixes the messages ("script.tv:3").
int runSessionLine(Tool& tool, const std::vector<std::string>& words, const std::string& where);
// Runs a parsed application, mapping what it throws to an exit status and a message on stderr.
int runParsed(CLI::App& app, const std::string& where, const std::function<void()>& parse);

}  // namespace tarvik_tool
