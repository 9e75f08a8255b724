// The tarvik tool as a person or a script uses it: the built binary run in a process of its own,
// its output, its messages and its exit status compared; the shell driven through a
// pseudo-terminal; a serial port reached by a host program through the board's pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "process_support.h"

namespace {

using Clock = std::chrono::steady_clock;
// No case may hang: a tool that is still running after this is killed and the case fails.
constexpr auto kDeadline = std::chrono::seconds(60);

struct Outcome {
    int status = -1;  // the exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Made as the test program starts, so that a child (which names itself by its own pid) uses
// the parent's folder.
const std::string kScratch = tarvik_test::processFolder("tarvik_tool_");

const std::string& scratchDir() { return kScratch; }

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = scratchDir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// In the child: a clean environment for the board, HOME in the scratch folder (the shell's
// history), then the tool.
[[noreturn]] void execTool(const std::vector<std::string>& args) {
    for (const char* name : {"VBOARD_DEBUG", "VBOARD_TRACE", "VBOARD_CONFIG", "VBOARD_STRICT",
                             "VBOARD_RECORD", "VBOARD_DIR", "TARVIK_HISTORY"})
        ::unsetenv(name);
    ::setenv("HOME", scratchDir().c_str(), 1);
    std::vector<std::string> words = {TARVIK_TOOL};
    words.insert(words.end(), args.begin(), args.end());
    tarvik_test::execWords(words);
}

int waitStatus(pid_t child, bool kill) {
    if (kill) ::kill(child, SIGKILL);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Runs the tool with `input` on its stdin. `onErr` sees stderr as it grows (the pty test reads
// the terminal's path from it while the tool runs).
Outcome tarvik(const std::vector<std::string>& args, const std::string& input = "",
               const std::function<void(const std::string&)>& onErr = nullptr) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        execTool(args);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    ::signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) ADD_FAILURE() << "stdin";
    ::close(in[1]);
    Outcome outcome;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    const auto deadline = Clock::now() + kDeadline;
    int open = 2;
    bool late = false;
    while (open > 0) {
        if (Clock::now() > deadline) {
            late = true;
            break;
        }
        if (::poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(n));
            if (i == 1 && onErr) onErr(outcome.err);
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) ::close(p.fd);
    outcome.status = waitStatus(child, late);
    EXPECT_FALSE(late) << "the tool did not end: tarvik " << ::testing::PrintToString(args);
    return outcome;
}

// Quiet: only the command's output and the tool's own messages.
Outcome quiet(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "-q");
    return tarvik(args, input);
}

Outcome script(const std::string& lines) { return quiet({"run", "-"}, lines); }

// ---- Each command's output and status on the power-on board ----

struct OutputCase {
    const char* name;
    std::vector<std::string> args;
    const char* script;  // when set: run as `tarvik run -` with these lines instead
    int status;
    std::string out;
    std::string err = "";  // status 0: all of stderr; a failure: what its message holds
};

// How a case reads in a failure message (GoogleTest would otherwise print the struct's bytes,
// padding included).
void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

class ToolOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ToolOutput, PrintsWhatTheLibraryAnswered) {
    const OutputCase& c = GetParam();
    const Outcome o = c.script ? script(c.script) : quiet(c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, c.out);
    if (c.status == 0) EXPECT_EQ(o.err, c.err);
    else EXPECT_TRUE(o.err.find("tarvik: ") == 0 && o.err.find(c.err) != std::string::npos)
             << "a failure is told on stderr: " << o.err;
}

const std::string kDetectBus0 =
    "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n"
    "00:          -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "10: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "20: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "30: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "40: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "50: 50 -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "60: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "70: -- -- -- -- -- -- -- --                        \n";

// -a: the reserved addresses too, and nothing above 0x7f.
const std::string kDetectAllBus2 =
    "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n"
    "00: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "10: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "20: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "30: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "40: -- -- -- -- -- -- -- -- 48 -- -- -- -- -- -- --\n"
    "50: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "60: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
    "70: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n";

std::string sensorDump() {
    std::string text = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    const char* hex = "0123456789abcdef";
    for (int row = 0; row < 16; ++row) {
        text += std::string(1, hex[row]) + "0: " + (row == 0 ? "19 " : "00 ");
        for (int i = 1; i < 16; ++i) text += "00 ";
        text += "   ................\n";
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ToolOutput,
    ::testing::Values(
        OutputCase{"Version", {"version"}, nullptr, 0,
                   "library        0x01040001  1.4.0.1\n"
                   "board support  0x00020001  2.1\n"
                   "image          0x00080000  8.0\n"},
        // The pad of a power-on input reads low: the tool shows 0 where GPIOGetPin answers 1.
        OutputCase{"GpioGetShowsTheLevel", {"gpio", "get", "1"}, nullptr, 0, "0\n"},
        OutputCase{"GpioOutputReadsBack", {}, "gpio dir 1 out 1\ngpio get 1\ngpio set 1 0\ngpio get 1\n",
                   0, "1\n0\n"},
        OutputCase{"GpioDrivenPadReadsHigh", {}, "board drive 3 1\ngpio get 3\nboard drive 0.5 0\ngpio get 3\n",
                   0, "1\n0\n"},
        OutputCase{"GpioIndexWithoutPin", {"gpio", "get", "30"}, nullptr, 1, ""},
        OutputCase{"GpioRtsLineRefused", {"gpio", "dir", "25", "in"}, nullptr, 1, ""},
        OutputCase{"GpioWatchLevel", {}, "board drive 3 1\ngpio watch 3 --mode high --count 1 --timeout 5\n",
                   0, "index 3: high\n"},
        OutputCase{"GpioWatchTimesOut", {"gpio", "watch", "3", "--mode", "rising", "--timeout", "1"},
                   nullptr, 1, ""},
        OutputCase{"I2cGetSensor", {"i2c", "get", "2", "0x48", "0", "2"}, nullptr, 0, "0x19 0x00\n"},
        OutputCase{"I2cSetThenGet", {}, "i2c set 0 0x50 0x12 0xc0 0xff 0xee 0x42\ni2c get 0 80 18 4\n"
                                        "i2c set 0 0x50 0x20 7\ni2c get 0 0x50 0x20\n",
                   0, "0xc0 0xff 0xee 0x42\n0x07\n"},
        OutputCase{"I2cNobodyThere", {"i2c", "get", "1", "0x50", "0"}, nullptr, 1, "",
                   "i2c get: no acknowledge from 0x50 on bus 1 (nobody answers at that address"},
        OutputCase{"I2cRequestRefused", {}, "board fail DeviceIoControl --device I2C2: --error 87\ni2c set 0 0x50 0 1\n",
                   1, "", "i2c set: the request for 0x50 on bus 0 was refused (error 87, ERROR_INVALID_PARAMETER)"},
        OutputCase{"FaultOnANamedRequest", {}, "board fail DeviceIoControl --device I2C2: --code TRANSFER --error 87\n"
                                               "i2c set 0 0x50 0 1\n",
                   1, "", "i2c set: the request for 0x50 on bus 0 was refused (error 87"},
        OutputCase{"I2cDetect", {"i2c", "detect", "0", "--freq", "400k"}, nullptr, 0, kDetectBus0},
        OutputCase{"I2cDetectAll", {"i2c", "detect", "2", "-a"}, nullptr, 0, kDetectAllBus2},
        OutputCase{"I2cDetectWithoutDriver", {}, "board fail CreateFileW --device I2C3: --error 2\ni2c detect 2\n",
                   1, "", "i2c detect: the request for 0x03 on bus 2 was refused (error 2, ERROR_FILE_NOT_FOUND"},
        OutputCase{"I2cDump", {"i2c", "dump", "2", "0x48"}, nullptr, 0, sensorDump()},
        OutputCase{"I2cDumpNobody", {"i2c", "dump", "1", "0x48"}, nullptr, 1, "", "no acknowledge from 0x48 on bus 1"},
        OutputCase{"SpiFlashId", {"spi", "xfer", "0", "9f000000"}, nullptr, 0, "0xff 0xef 0x40 0x14\n"},
        OutputCase{"SpiLoopback", {"spi", "xfer", "1", "a5 3c", "--mode", "3", "--hz", "4000000"}, nullptr,
                   0, "0xa5 0x3c\n"},
        OutputCase{"SpiNoPort", {}, "board fail CreateFileW --device SPI2:\nspi xfer 1 00\n", 1, ""},
        OutputCase{"CanLoopback", {}, "can send 123#DEADBEEF --loopback\ncan recv\n", 0,
                   "  can1  123   [4]  DE AD BE EF\n"},
        OutputCase{"CanFromAnotherNode", {}, "board inject-can 1ABCDEF0#01.02\nboard inject-can 7FF#R3\n"
                                             "can recv --count 2\n",
                   0, "  can1  1ABCDEF0   [2]  01 02\n  can1  7FF   [3]  remote request\n"},
        OutputCase{"CanNothingArrives", {"can", "recv", "--timeout", "1"}, nullptr, 1, ""},
        OutputCase{"PhyRead", {"phy", "read", "1", "0x020C8260"}, nullptr, 0, "0x00630002\n"},
        OutputCase{"PhyRead16", {"phy", "read", "1", "0x020BC000", "16"}, nullptr, 0, "0x0030\n"},
        OutputCase{"PhyWriteReadback", {"phy", "write", "2", "0x00907000", "0xC0FFEE", "--readback"}, nullptr,
                   0, "0x00C0FFEE\n"},
        OutputCase{"PhyWriteMisaligned", {"phy", "write", "2", "0x00907001", "1"}, nullptr, 1, ""},
        OutputCase{"BacklightLevel", {"backlight", "level", "128"}, nullptr, 0, ""},
        OutputCase{"BacklightTooBright", {"backlight", "level", "256"}, nullptr, 1, ""},
        OutputCase{"BacklightSuspend", {"backlight", "suspend", "120", "on"}, nullptr, 0, ""},
        OutputCase{"TouchCalibrateThenClear", {}, "touch calibrate\ntouch clear\n", 0, ""},
        OutputCase{"RegistrySaveAndBackup", {}, "registry save\nregistry backup\nregistry restore\n", 0, ""},
        OutputCase{"RegistryRestoreWithoutBackup", {"registry", "restore"}, nullptr, 1, ""},
        OutputCase{"Kitl", {}, "kitl off\nkitl on\nkitl restart\n", 0, ""},
        OutputCase{"KitlFails", {}, "board fail KernelIoControl\nkitl restart\n", 1, ""},
        // The reset reached the board's "IOC1:": the trace shows its open and its one request.
        OutputCase{"Reset", {"--trace", "reset"}, nullptr, 0, "",
                   "CreateFileW \"IOC1:\" access 0xC0000000 share 3 creation 3 flags 0x0 -> h1\n"
                   "IOC1: RESET -> ok\n"},
        OutputCase{"UartAskOnTheWiredPort", {"uart", "ask", "1", "hello", "4", "--on", "2"}, nullptr, 0, "hell\n"},
        OutputCase{"UartAskNobodyAnswers", {"uart", "ask", "1", "hi", "2", "--timeout", "1"}, nullptr, 1, "",
                   "uart ask: nothing arrived on COM1 within 1 s"}),
    [](const ::testing::TestParamInfo<OutputCase>& p) { return std::string(p.param.name); });

TEST(Tool, CanLogFormHasCandumpsLogLine) {
    const Outcome o = script("board inject-can 123#112233\ncan recv -L\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(std::regex_match(o.out, std::regex(R"(\(\d{10}\.\d{6}\) can1 123#112233\n)"))) << o.out;
}

TEST(Tool, JsonIsOneObjectPerCommand) {
    const Outcome o = tarvik({"--json", "-q", "run", "-"},
                             "version\ni2c get 2 0x48 0 2\ngpio get 1\nspi xfer 1 a53c\n");
    ASSERT_EQ(o.status, 0) << o.err;
    std::vector<nlohmann::json> objects;
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects[0]["command"], "version");
    EXPECT_EQ(objects[0]["library"]["hex"], "0x01040001");
    EXPECT_EQ(objects[0]["library"]["dotted"], "1.4.0.1");
    EXPECT_EQ(objects[1]["command"], "i2c get");
    EXPECT_EQ(objects[1]["address"], 0x48);
    EXPECT_EQ(objects[1]["bytes"], nlohmann::json({0x19, 0x00}));
    EXPECT_EQ(objects[2]["level"], 0);
    EXPECT_EQ(objects[3]["received"], nlohmann::json({0xa5, 0x3c}));
    // The global option may also come after the command.
    const Outcome after = quiet({"gpio", "get", "1", "--json"});
    EXPECT_EQ(after.out, "{\"command\":\"gpio get\",\"index\":1,\"level\":0}\n");
}

TEST(Tool, DebugLinesTraceAndQuiet) {
    const Outcome plain = tarvik({"gpio", "get", "1"});
    EXPECT_EQ(plain.out, "0\n");
    EXPECT_EQ(plain.err, "VELNA get gpio 0 pin 2 data 0 - Rout 1\r\n");
    // The driver calls, decoded, in order with the debug line the library writes between them.
    EXPECT_EQ(tarvik({"--trace", "gpio", "get", "1"}).err,
              "CreateFileW \"GIO1:\" access 0xC0000000 share 3 creation 3 flags 0x10000000 -> h1\n"
              "GIO1: GET_PIN bank 0 pin 2 level 0 -> ok\n"
              "VELNA get gpio 0 pin 2 data 0 - Rout 1\r\n"
              "CloseHandle h1 \"GIO1:\" -> ok\n");
    EXPECT_EQ(quiet({"--trace", "gpio", "get", "1"}).err.find("VELNA"), std::string::npos);
}

TEST(Tool, TourRunsEveryStepAsExpected) {
    const Outcome o = quiet({"tour"});
    EXPECT_EQ(o.status, 0) << o.err;
    for (const char* step : {"tarvik> i2c get 0 0x50 0x12 4\n0xc0 0xff 0xee 0x42\n",
                             "tarvik> spi xfer 0 9f000000\n0xff 0xef 0x40 0x14\n",
                             "tarvik> can recv\n  can1  123   [4]  DE AD BE EF\n",
                             "tarvik> phy read 1 0x020C8260\n0x00630002\n"})
        EXPECT_NE(o.out.find(step), std::string::npos) << step;
    // The steps refused on purpose say so.
    EXPECT_NE(o.err.find("tarvik: tour: gpio dir: the library refused index 30"), std::string::npos);
}

// ---- Bad input of every kind: exit status 2 and a message naming what was wrong ----

struct UsageCase {
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const UsageCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.args); }

class ToolUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ToolUsage, ExitsTwoWithAMessage) {
    const UsageCase& c = GetParam();
    const Outcome o = quiet(c.args);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, ToolUsage,
    ::testing::Values(
        UsageCase{{}, "tarvik: a command is missing (one of version, gpio"},
        UsageCase{{"bogus"}, "unknown command 'bogus'"},
        UsageCase{{"gpio"}, "gpio: a command is missing (one of get, set, dir or watch)"},
        UsageCase{{"gpio", "toggle", "1"}, "gpio: unknown command 'toggle'"},
        UsageCase{{"gpio", "get"}, "gpio get: INDEX is required"},
        UsageCase{{"gpio", "get", "1", "2"}, "gpio get: The following argument was not expected: 2"},
        UsageCase{{"gpio", "get", "x"}, "gpio get: INDEX 'x' is not a number"},
        UsageCase{{"gpio", "get", "0x"}, "INDEX '0x' is not a number"},
        UsageCase{{"gpio", "get", "99999999999"}, "INDEX '99999999999' is out of range"},
        UsageCase{{"gpio", "get", "-1"}, "gpio get"},
        UsageCase{{"gpio", "set", "1", "2"}, "gpio set: LEVEL '2' is not one of 0 or 1"},
        UsageCase{{"gpio", "dir", "1", "sideways"}, "DIRECTION 'sideways' is not one of out or in"},
        UsageCase{{"gpio", "watch", "3", "--mode", "up"}, "--mode 'up' is not one of rising"},
        UsageCase{{"gpio", "watch", "3", "--count", "0"}, "--count must be at least 1"},
        UsageCase{{"gpio", "watch", "3", "--timeout"}, "--timeout"},
        UsageCase{{"i2c", "get", "3", "0x50", "0"}, "i2c get: BUS '3' is out of range (at most 2)"},
        UsageCase{{"i2c", "get", "0", "0x150", "0"}, "ADDR '0x150' is out of range"},
        UsageCase{{"i2c", "get", "0", "0x50", "0", "0"}, "LEN must be at least 1"},
        UsageCase{{"i2c", "get", "0", "0x50", "0", "256"}, "LEN '256' is out of range"},
        UsageCase{{"i2c", "get", "0", "0x50", "0", "--freq", "7"}, "--freq '7' is not one of 100k"},
        UsageCase{{"i2c", "set", "0", "0x50", "0"}, "BYTE is required"},
        UsageCase{{"i2c", "set", "0", "0x50", "0", "0x100"}, "BYTE '0x100' is out of range"},
        UsageCase{{"i2c", "detect"}, "BUS is required"},
        UsageCase{{"spi", "xfer", "2", "00"}, "spi xfer: PORT '2' is out of range"},
        UsageCase{{"spi", "xfer", "0", "zz"}, "HEXBYTES 'zz' is not hex bytes"},
        UsageCase{{"spi", "xfer", "0", "abc"}, "odd number of hex digits"},
        UsageCase{{"spi", "xfer", "1", "10x5"}, "HEXBYTES '10x5' is not hex bytes ('x' is no hex digit)"},
        UsageCase{{"spi", "xfer", "0", "00", "--mode", "4"}, "--mode '4' is out of range"},
        UsageCase{{"spi", "xfer", "0", "00", "--bits", "9"}, "--bits '9' is out of range"},
        UsageCase{{"spi", "xfer", "0", "00", "--hz", "0"}, "--hz must not be 0"},
        UsageCase{{"uart", "send", "0", "x"}, "uart send: PORT must be 1, 2 or 3"},
        UsageCase{{"uart", "send", "1", "x", "--flow", "rts"}, "--flow 'rts' is not one of none, hw or sw"},
        UsageCase{{"uart", "send", "1", "x", "--format", "9N1"}, "--format '9N1'"},
        UsageCase{{"uart", "send", "1", "a\\q"}, "unknown escape '\\q'"},
        UsageCase{{"uart", "send", "1", "a\\x00"}, "cannot hold a zero byte"},
        UsageCase{{"uart", "recv", "1", "5"}, "uart recv: N '5' is out of range"},
        UsageCase{{"uart", "send", "1", "x", "--baud", "0"}, "--baud must not be 0"},
        UsageCase{{"can", "send", "123"}, "CAN frame '123' has no '#'"},
        UsageCase{{"can", "send", "12#00"}, "needs 3 hex digits"},
        UsageCase{{"can", "send", "800#00"}, "identifier above 7FF"},
        UsageCase{{"can", "send", "123#0102030405060708090A"}, "more than 8 data bytes"},
        UsageCase{{"can", "send", "123#0G"}, "data that is not hex"},
        UsageCase{{"can", "send", "123#R9"}, "remote length"},
        UsageCase{{"can", "send", "123#00", "--filter", "12"}, "--filter '12' is not ID:MASK"},
        UsageCase{{"can", "recv", "--count", "x"}, "--count 'x' is not a number"},
        UsageCase{{"phy", "read", "0", "0"}, "DEV must be 1 to 9"},
        UsageCase{{"phy", "read", "1", "0", "12"}, "WIDTH '12' is not 8, 16 or 32"},
        UsageCase{{"phy", "write", "1", "0", "0x100", "8"}, "VALUE '0x100' is out of range"},
        UsageCase{{"backlight", "suspend", "10", "maybe"}, "STATE 'maybe' is not one of off or on"},
        UsageCase{{"registry", "load"}, "registry: unknown command 'load'"},
        UsageCase{{"kitl"}, "kitl: a command is missing"},
        UsageCase{{"run"}, "SCRIPT is required"},
        UsageCase{{"run", "/nonexistent/script"}, "run: cannot read the script '/nonexistent/script'"},
        UsageCase{{"run", "/"}, "run: SCRIPT '/' is a folder"},
        UsageCase{{"run", "/dev/zero"}, "tarvik: /dev/zero:1: a line of more than 1048576 bytes"},
        UsageCase{{"--config", "/dev/zero", "version"}, "--config: /dev/zero:1: a line of more than 1048576 bytes"},
        UsageCase{{"--config", "/nonexistent/board.cfg", "version"}, "--config '/nonexistent/board.cfg'"},
        UsageCase{{"--board", "/proc/no/such/folder", "version"}, "--board '/proc/no/such/folder'"},
        UsageCase{{"--bogus", "version"}, "--bogus"},
        UsageCase{{"board", "drive", "30", "1"}, "board drive: module index 30 has no GPIO pad"},
        UsageCase{{"board", "drive", "0.5", "2"}, "LEVEL '2' is not one of 0 or 1"},
        UsageCase{{"board", "drive", "9.5", "1"}, "board drive: "},
        UsageCase{{"board", "attach-i2c", "0", "0x30", "flash"}, "MODEL 'flash' is not one of eeprom or sensor"},
        UsageCase{{"board", "inject-can", "1234#00"}, "needs 3 hex digits"},
        UsageCase{{"board", "fail", "DeviceIoCtl"}, "board fail: no platform call 'DeviceIoCtl'"},
        UsageCase{{"board", "fail", "DeviceIoControl", "--nth", "x"}, "--nth 'x' is not a number"},
        // An argument is one word of the directive it becomes, never several.
        UsageCase{{"board", "fail", "DeviceIoControl code=5"}, "board fail: FUNCTION 'DeviceIoControl code=5' is not one word"},
        UsageCase{{"board", "fail", "DeviceIoControl", "--device", "GIO1: x"}, "board fail: --device 'GIO1: x' is not one word"},
        UsageCase{{"board", "attach-i2c", "1", "0x30", "eeprom", "16 # c"}, "board attach-i2c: SIZE '16 # c' is not a number"},
        UsageCase{{"board", "drive", "0.5 # x", "1"}, "board drive: PIN '0.5 # x' is not one word"},
        UsageCase{{"board", "fail", "DeviceIoControl", "--device", "GIO1:"},
                  "board fail: a fault lasts only as long as the process"},
        UsageCase{{"i2c", "get", "0", "0xa0", "0"}, "i2c get: ADDR 0xa0 is an 8-bit address byte; the bus "
                                                    "driver takes the 7-bit address (0x50)"},
        UsageCase{{"uart", "ask", "1", "x", "5"}, "uart ask: N '5' is out of range"}));

TEST(Tool, EmptyCanFrameIsSent) {
    // "123#" is a frame without data, as cansend takes it: not an error.
    const Outcome o = script("board inject-can 123#\ncan recv\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "  can1  123   [0] \n");
}

TEST(Tool, BadConfigurationFileNamesFileAndLine) {
    const std::string path = writeFile("bad.cfg", "gpio input 0.5 1\nbogus 1\n");
    const Outcome o = quiet({"--config", path, "version"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(path + ":2: unknown directive 'bogus'"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
}

TEST(Tool, ConfigurationFileSetsTheBoardUp) {
    const std::string path = writeFile("good.cfg", "gpio input 0.5 1\nregistry HKLM\\Ident BSPVersionNumber dword 0x00030004\n");
    const Outcome o = tarvik({"-q", "--json", "--config", path, "run", "-"}, "gpio get 3\nversion\n");
    ASSERT_EQ(o.status, 0) << o.err;
    std::istringstream lines(o.out);
    std::string gpio, version;
    std::getline(lines, gpio);
    std::getline(lines, version);
    EXPECT_EQ(nlohmann::json::parse(gpio)["level"], 1);
    EXPECT_EQ(nlohmann::json::parse(version)["bsp"]["dotted"], "3.4");
}

// ---- Scripts: state kept between commands, the first failure ends the script ----

TEST(Tool, ScriptStopsAtItsFirstFailureNamingTheLine) {
    const std::string path = writeFile("stop.tv", "# a comment\n\ngpio get 1\ngpio get 30\ngpio get 2\n");
    const Outcome o = quiet({"run", path});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "0\n");  // line 5 never ran
    EXPECT_NE(o.err.find("tarvik: " + path + ":4: gpio get: module index 30 has no GPIO"), std::string::npos)
        << o.err;
    const Outcome usage = script("version --bogus\n");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("tarvik: stdin:1: version: The following argument was not expected: --bogus"),
              std::string::npos)
        << usage.err;
    const Outcome quote = script("uart send 1 'unterminated\n");
    EXPECT_EQ(quote.status, 2);
    EXPECT_NE(quote.err.find("stdin:1: unterminated single quote"), std::string::npos) << quote.err;
}

TEST(Tool, ScriptKeepsThePortsTheLibraryKeeps) {
    // One process: the CAN controller stays open and in loopback between the lines, and a
    // fault armed on the board holds for the lines after it.
    const Outcome o = script(
        "can send 123#01 --loopback\n"
        "can send 1ABCDEF0#0203\n"
        "can recv --count 2\n"
        "board fail DeviceIoControl --device GIO1:\n"
        "gpio dir 1 out 1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "  can1  123   [1]  01\n  can1  1ABCDEF0   [2]  02 03\n");
    EXPECT_NE(o.err.find("stdin:5: gpio dir: the library refused index 1 as an output"), std::string::npos)
        << o.err;
    // Separate processes do not share them: a fresh board has nothing to receive.
    EXPECT_EQ(quiet({"can", "send", "123#01", "--loopback"}).status, 0);
    EXPECT_EQ(quiet({"can", "recv", "--timeout", "1"}).status, 1);
}

TEST(Tool, AFailedOpenIsClosedSoThatTheNextCommandTriesAgain) {
    // The shell reading a pipe goes on after a failure. The library refuses a port after a
    // failed open until it is closed; the tool closes it, so that the next command opens anew.
    const Outcome o = quiet({"shell"},
                            "board fail CreateFileW --nth 1\nspi xfer 1 a5\nspi xfer 1 a5\n"
                            "board fail CreateFileW --nth 1\nuart send 1 x\nuart send 1 y\n"
                            "board fail CreateFileW --nth 1\ncan send 123#01 --loopback\n"
                            "can send 123#02 --loopback\ncan recv\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "0xa5\n  can1  123   [1]  02\n");
    for (const char* failure : {"stdin:2: spi xfer: SPI port 1 did not open",
                                "stdin:5: uart send: COM1 did not open",
                                "stdin:8: can send: the CAN controller did not open"})
        EXPECT_NE(o.err.find(failure), std::string::npos) << failure << "\n" << o.err;
}

TEST(Tool, BoardFolderKeepsTheCardBetweenRuns) {
    const std::string folder = scratchDir() + "/board";
    std::filesystem::remove_all(folder);  // a repeated run starts without a backup too
    EXPECT_EQ(quiet({"--board", folder, "registry", "restore"}).status, 1);  // no backup yet
    EXPECT_EQ(quiet({"--board", folder, "registry", "backup"}).status, 0);
    const Outcome show = quiet({"--board", folder, "board", "show"});
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("storage: " + folder + ", card in"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\\Storage Card\\Save_HKLM_Reg.srg"), std::string::npos);
    EXPECT_NE(show.out.find("\"BSPVersionNumber\"=dword:00020001"), std::string::npos);
    EXPECT_EQ(quiet({"--board", folder, "registry", "restore"}).status, 0);
}

TEST(Tool, VcdRecordsThePinsTheRunTouched) {
    const std::string vcd = scratchDir() + "/run.vcd";
    std::filesystem::remove(vcd);
    const Outcome run = script("gpio dir 1 out 1\ngpio set 1 0\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const Outcome recorded = quiet({"--vcd", vcd, "gpio", "set", "1", "1"});
    EXPECT_EQ(recorded.status, 0) << recorded.err;
    std::ifstream in(vcd);
    std::stringstream text;
    text << in.rdbuf();
    // Index 1 is bank 0, pin 2: its level is a signal of the file, and the run drove it high.
    EXPECT_NE(text.str().find("$enddefinitions"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("gpio0_2"), std::string::npos) << text.str();
    const Outcome bad = quiet({"--vcd", scratchDir() + "/no-such-folder/run.vcd", "version"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--vcd"), std::string::npos) << bad.err;
    // A waveform that could not be written as the run ended is a result lost.
    const Outcome lost = quiet({"--vcd", "/dev/full", "gpio", "set", "1", "1"});
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find("tarvik: --vcd '/dev/full': the waveform was not written"), std::string::npos) << lost.err;
}

TEST(Tool, BoardShowSeesWhatTheCommandsDid) {
    const Outcome o = script(
        "gpio dir 1 out 1\n"
        "board attach-i2c 1 0x30 eeprom 256\n"
        "uart send 1 hi\n"
        "board show\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("devices: "), std::string::npos);
    EXPECT_NE(o.out.find("  0.2  index 1   output level 1\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("i2c bus 1 (I2C1:): 0x30 eeprom\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("i2c bus 0 (I2C2:): 0x50 eeprom\n"), std::string::npos);
    EXPECT_NE(o.out.find("serial COM1: null-modem COM2:, open, 115200 baud"), std::string::npos) << o.out;
}

// ---- The shell through a pseudo-terminal ----

class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& args) {
        child_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (child_ == 0) execTool(args);
    }
    ~Terminal() {
        if (master_ >= 0) ::close(master_);
        if (child_ > 0 && !ended_) waitStatus(child_, true);
    }
    void type(const std::string& keys) {
        if (::write(master_, keys.data(), keys.size()) < 0) ADD_FAILURE() << "write to the terminal";
    }
    // Reads until `text` has appeared (after what was already matched) or the deadline.
    bool waitFor(const std::string& text) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (screen_.find(text, matched_) == std::string::npos) {
            if (Clock::now() > deadline || !readSome()) return false;
        }
        matched_ = screen_.find(text, matched_) + text.size();
        return true;
    }
    int end() {
        while (readSome()) {
        }
        ended_ = true;
        return waitStatus(child_, false);
    }
    const std::string& screen() const { return screen_; }

private:
    bool readSome() {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) return true;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;  // the tool closed the terminal
        screen_.append(buffer, static_cast<size_t>(n));
        return true;
    }
    pid_t child_ = -1;
    int master_ = -1;
    bool ended_ = false;
    std::string screen_;
    size_t matched_ = 0;
};

TEST(Tool, ShellKeepsStateHasHelpAndHistory) {
    Terminal t({"-q", "shell"});
    ASSERT_TRUE(t.waitFor("tarvik> ")) << t.screen();
    t.type("gpio dir 1 out 1\r");
    ASSERT_TRUE(t.waitFor("tarvik> "));
    t.type("gpio get 1\r");
    ASSERT_TRUE(t.waitFor("1\r\ntarvik> ")) << t.screen();
    t.type("help\r");
    ASSERT_TRUE(t.waitFor("Subcommands:")) << t.screen();
    ASSERT_TRUE(t.waitFor("tarvik> "));
    t.type("help i2c get\r");
    ASSERT_TRUE(t.waitFor("--freq")) << t.screen();
    t.type("gpio get x\r");
    ASSERT_TRUE(t.waitFor("gpio get: INDEX 'x' is not a number")) << t.screen();
    ASSERT_TRUE(t.waitFor("tarvik> "));
    t.type("gpio set 1 0\r");
    ASSERT_TRUE(t.waitFor("tarvik> "));
    // The line editor's history, newest first: "gpio set 1 0", "gpio get x", "help i2c get",
    // "help", "gpio get 1". Five times up runs the read again, after the pin was set low.
    t.type("\x1b[A\x1b[A\x1b[A\x1b[A\x1b[A\r");
    ASSERT_TRUE(t.waitFor("0\r\ntarvik> ")) << t.screen();
    t.type("exit\r");
    EXPECT_EQ(t.end(), 0) << t.screen();
    std::ifstream history(scratchDir() + "/.tarvik_history");
    std::stringstream saved;
    saved << history.rdbuf();
    // libedit's history file writes a blank as \040.
    EXPECT_NE(saved.str().find("\ngpio\\040dir\\0401\\040out\\0401\n"), std::string::npos) << saved.str();
}

// ---- A host program on the other end of a serial port ----

// Runs a script on a board whose COM2 is a pseudo-terminal. The board names its terminal on
// stderr as it starts; `host` then runs on a thread of its own with the terminal open (raw), as a
// program on the other end of the line, until it returns or `done` is set as the tool has ended.
Outcome withHostOnCom2(const std::string& lines,
                       const std::function<void(int fd, const std::atomic<bool>& done)>& host) {
    const std::string config = writeFile("pty.cfg", "serial COM2 pty\n");
    std::atomic<int> fd{-1};
    std::atomic<bool> done{false};
    std::thread program;
    const Outcome o = tarvik({"-q", "--config", config, "run", "-"}, lines, [&](const std::string& err) {
        std::smatch m;
        if (fd >= 0 || !std::regex_search(err, m, std::regex("(/dev/pts/[0-9]+)"))) return;
        const int opened = ::open(m[1].str().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (opened < 0) return;
        termios raw{};
        ::tcgetattr(opened, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(opened, TCSANOW, &raw);
        fd = opened;
        program = std::thread([&host, &done, opened] { host(opened, done); });
    });
    done = true;
    if (program.joinable()) program.join();
    EXPECT_GE(fd.load(), 0) << o.err;
    if (fd >= 0) ::close(fd);
    return o;
}

// Reads what the tool sends until `text` has come (true) or `done`.
bool hear(int fd, const std::string& text, std::string& heard, const std::atomic<bool>& done) {
    while (!done && heard.find(text) == std::string::npos) {
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) heard.append(buffer, static_cast<size_t>(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !done;
}

TEST(Tool, SerialPortReachedThroughAPseudoTerminal) {
    // The host program hears what the tool sends, and types "ping" until the tool's read has it:
    // UARTRead only takes bytes that arrive while it waits.
    std::string heard;
    const Outcome o = withHostOnCom2("uart send 2 'hello\\r\\n'\nuart recv 2 4 --timeout 20\n",
                                     [&heard](int fd, const std::atomic<bool>& done) {
                                         if (!hear(fd, "hello\r\n", heard, done)) return;
                                         while (!done && ::write(fd, "ping", 4) == 4)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                     });
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(heard, "hello\r\n");
    EXPECT_EQ(o.out, "ping\n");
}

TEST(Tool, ARecvThatHasBytesWaitsForTheRestInsteadOfLosingThem) {
    // The host answers "O" a second after it hears "go" and "K" three seconds later: the first
    // byte comes within the tool's 3 s, and the library's read then waits for the second (it
    // allows 30 s between bytes). The tool lets it finish rather than close the port on "O".
    std::string heard;
    const Outcome o = withHostOnCom2("uart send 2 go\nuart recv 2 2 --timeout 3\n",
                                     [&heard](int fd, const std::atomic<bool>& done) {
                                         if (!hear(fd, "go", heard, done)) return;
                                         std::this_thread::sleep_for(std::chrono::seconds(1));
                                         if (::write(fd, "O", 1) != 1) return;
                                         std::this_thread::sleep_for(std::chrono::seconds(3));
                                         if (::write(fd, "K", 1) != 1) return;
                                     });
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "OK\n");
}

TEST(Tool, UartAskOnALoopedPortReadsWhatItSent) {
    // One port both sends and receives: the read waits on it before the write goes out.
    const std::string config = writeFile("loop.cfg", "serial COM1 loopback\n");
    const Outcome o = quiet({"--config", config, "uart", "ask", "1", "AT\\r", "3"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "AT\\r\n");
}

}  // namespace
