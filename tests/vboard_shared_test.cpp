// vboard/src/drivers: what the board shares between processes, each side a real process of its
// own. The EEPROM and the flash keep their contents in the board folder (a tool session, then an
// application, one after the other; a process killed between write cycles), and one CAN bus joins
// the boards of several processes (through each one's filters, loopback, a killed member, the last
// one out).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "process_support.h"

namespace {

using tarvik_test::slurp;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
// No case may hang: a process still running after this is killed and the case fails.
constexpr auto kDeadline = std::chrono::seconds(60);

const std::string kScratch = tarvik_test::processFolder("vboard_shared_");

// A folder of its own for each case (a board folder, the runtime folder of its buses).
std::string freshFolder(const std::string& name) {
    const std::string path = kScratch + "/" + name;
    fs::remove_all(path);
    ::mkdir(path.c_str(), 0700);
    return path;
}

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = kScratch + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// A program running: its stdout read here, its stderr into a file.
struct Process {
    pid_t pid = -1;
    int out = -1;
    std::string err;
    std::string seen;  // stdout read so far
};

// Starts the probe ("probe", args...) or the tool ("tool", args...) with a clean board
// environment and these variables.
Process start(const std::vector<std::string>& command, const std::map<std::string, std::string>& env) {
    static int count = 0;
    Process p;
    p.err = kScratch + "/err" + std::to_string(++count) + ".txt";
    int out[2];
    if (::pipe(out) != 0) return p;
    p.pid = ::fork();
    if (p.pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        if (!std::freopen(p.err.c_str(), "w", stderr)) ::_exit(126);
        for (const char* name : {"VBOARD_DEBUG", "VBOARD_TRACE", "VBOARD_CONFIG", "VBOARD_STRICT",
                                 "VBOARD_RECORD", "VBOARD_DIR"})
            ::unsetenv(name);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<std::string> words;
        if (command.front() == "probe") {
            words = tarvik_test::wordsOf(VBOARD_SHARED_EMULATOR);
            words.push_back(VBOARD_SHARED_PROBE);
        } else {
#ifdef TARVIK_TOOL
            words.push_back(TARVIK_TOOL);
            words.push_back("-q");
#endif
        }
        words.insert(words.end(), command.begin() + 1, command.end());
        tarvik_test::execWords(words);
    }
    ::close(out[1]);
    p.out = out[0];
    return p;
}

// Reads stdout until it holds `text` (true) or ends (false).
bool waitFor(Process& p, const std::string& text) {
    const auto deadline = Clock::now() + kDeadline;
    while (p.seen.find(text) == std::string::npos && Clock::now() < deadline) {
        pollfd ready = {p.out, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(p.out, buffer, sizeof buffer);
        if (n <= 0) return false;
        p.seen.append(buffer, static_cast<size_t>(n));
    }
    return p.seen.find(text) != std::string::npos;
}

struct Outcome {
    int status = -1;  // the exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Its end: read to the end of stdout (killed first with `kill`, or when it outlives the deadline).
Outcome finish(Process& p, bool kill = false) {
    if (kill) ::kill(p.pid, SIGKILL);
    waitFor(p, std::string(1, '\0'));  // reads until stdout ends
    int raw = 0;
    const auto deadline = Clock::now() + kDeadline;
    while (::waitpid(p.pid, &raw, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(p.pid, SIGKILL);
            ::waitpid(p.pid, &raw, 0);
            ADD_FAILURE() << "still running at the deadline";
            break;
        }
        ::usleep(10000);
    }
    ::close(p.out);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), p.seen, slurp(p.err)};
}

Outcome run(const std::vector<std::string>& command, const std::map<std::string, std::string>& env) {
    Process p = start(command, env);
    return finish(p);
}

std::string bytesAt(const std::string& path, size_t offset, size_t length) {
    const std::string image = slurp(path);
    return image.size() < offset + length ? "(short image)" : image.substr(offset, length);
}

}  // namespace

// ---- The board folder ----

// One process writes a part, a later one reads it back, and the image beside the volumes holds
// the bytes at their offsets as xxd shows them.
TEST(BoardFolder, WhatOneProcessWroteTheNextOneReads) {
    struct Case {
        const char* name;
        std::vector<std::string> writer, reader;
        std::string readerOut, image;
        size_t offset;
        std::string bytes;
    };
    const std::string flashConfig = writeFile("flash.cfg", "spi flash 0 0x10 DE AD\n");
    const std::vector<Case> cases = {
#ifdef TARVIK_TOOL
        {"a tool session, then an application", {"tool", "i2c", "set", "0", "0x50", "0x01", "0xAA", "0xBB"},
         {"probe", "eeprom-read", "0x01", "3"}, "0xaa 0xbb 0xff\n", "i2c0-0x50.eeprom.bin", 0x100, "\xAA\xBB\xFF"},
        {"an application, then a tool session", {"probe", "eeprom-write", "0x7F", "0x5A"},
         {"tool", "i2c", "get", "0", "0x50", "0x7F", "1"}, "0x5a\n", "i2c0-0x50.eeprom.bin", 0x7F00, "\x5A"},
        {"the flash, programmed by one session", {"tool", "--config", flashConfig, "spi", "xfer", "0", "9f"},
         {"tool", "spi", "xfer", "0", "030000100000"}, "0xff 0xff 0xff 0xff 0xde 0xad\n", "spi0-cs2.flash.bin", 0x10, "\xDE\xAD"},
#endif
        {"two applications", {"probe", "eeprom-write", "0x02", "0x11", "0x22"},
         {"probe", "eeprom-read", "0x02", "2"}, "0x11 0x22\n", "i2c0-0x50.eeprom.bin", 0x200, "\x11\x22"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string board = freshFolder("board");
        std::vector<std::string> writer = c.writer, reader = c.reader;
        // The tool takes the folder as --board, an application as VBOARD_DIR.
        for (auto* command : {&writer, &reader})
            if (command->front() == "tool") command->insert(command->begin() + 1, {"--board", board});
        const Outcome wrote = run(writer, {{"VBOARD_DIR", board}});
        ASSERT_EQ(wrote.status, 0) << wrote.err;
        EXPECT_EQ(bytesAt(board + "/" + c.image, c.offset, c.bytes.size()), c.bytes);
        const Outcome read = run(reader, {{"VBOARD_DIR", board}});
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out, c.readerOut);
    }
}

// Each write cycle is in the image when it completes: a process killed afterwards loses nothing.
TEST(BoardFolder, AWriteCycleIsKeptWhenTheProcessIsKilledAfterIt) {
    const std::string board = freshFolder("board");
    Process writer = start({"probe", "eeprom-write-wait", "0x03", "0x42", "0x43"}, {{"VBOARD_DIR", board}});
    ASSERT_TRUE(waitFor(writer, "written\n"));
    EXPECT_EQ(finish(writer, true).status, 128 + SIGKILL);
    EXPECT_EQ(bytesAt(board + "/i2c0-0x50.eeprom.bin", 0x300, 2), "\x42\x43");
    const Outcome read = run({"probe", "eeprom-read", "0x03", "2"}, {{"VBOARD_DIR", board}});
    EXPECT_EQ(read.out, "0x42 0x43\n");
    // Nothing of the write is left behind in the folder but the image.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(board)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"NAND Flash", "Storage Card", "i2c0-0x50.eeprom.bin"}));
}

// ---- One CAN bus between processes ----

namespace {

// A case's bus environment: its own runtime folder, and a configuration joining the bus "plant".
std::map<std::string, std::string> busEnvironment(const std::string& runtime) {
    return {{"XDG_RUNTIME_DIR", runtime},
            {"VBOARD_CONFIG", writeFile("bus.cfg", "can bus plant\ncan rx-wait 1000\n")}};
}

}  // namespace

// What one member sends reaches the others through their own filters; the sender hears its own
// frames only in loopback. The bus is gone once its last member has ended.
TEST(CanBus, MembersHearEachOtherThroughTheirFilters) {
    struct Case {
        const char* name;
        std::vector<std::string> sender;
        std::string receiverOut, senderOut;
    };
    const std::vector<Case> cases = {
#ifdef TARVIK_TOOL
        {"the tool sends to an application", {"tool", "--config", "BUS", "can", "send", "123#AABB"},
         "ready\n123#AABB\n", ""},
#endif
        {"a frame the filter refuses, then one it takes", {"probe", "can-send", "0", "124#01", "123#0102"},
         "ready\n123#0102\n", ""},
        {"loopback: the sender hears it too", {"probe", "can-send", "1", "123#02"}, "ready\n123#02\n",
         "own 123#02\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string runtime = freshFolder("runtime");
        const auto env = busEnvironment(runtime);
        Process receiver = start({"probe", "can-recv", "123:7FF", "1"}, env);
        ASSERT_TRUE(waitFor(receiver, "ready\n")) << slurp(receiver.err);
        // The tool joins with --config, an application with VBOARD_CONFIG.
        std::vector<std::string> sender = c.sender;
        auto senderEnv = env;
        for (std::string& word : sender)
            if (word == "BUS") {
                word = env.at("VBOARD_CONFIG");
                senderEnv.erase("VBOARD_CONFIG");
            }
        const Outcome sent = run(sender, senderEnv);
        EXPECT_EQ(sent.status, 0) << sent.err;
        EXPECT_EQ(sent.out, c.senderOut);
        const Outcome received = finish(receiver);
        EXPECT_EQ(received.status, 0) << received.err;
        EXPECT_EQ(received.out, c.receiverOut);
        EXPECT_FALSE(fs::exists(runtime + "/tarvik/can/plant")) << "the last member out removes the bus";
    }
}

// A killed member leaves its socket; the next member to send removes it, and, the last one out,
// the bus.
TEST(CanBus, AKilledMembersSocketIsRemovedByTheNext) {
    const std::string runtime = freshFolder("runtime");
    const auto env = busEnvironment(runtime);
    Process member = start({"probe", "can-wait"}, env);
    ASSERT_TRUE(waitFor(member, "ready\n")) << slurp(member.err);
    finish(member, true);
    const std::string bus = runtime + "/tarvik/can/plant";
    ASSERT_EQ(std::distance(fs::directory_iterator(bus), fs::directory_iterator()), 1);
    const Outcome sent = run({"probe", "can-send", "0", "123#01"}, env);
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_FALSE(fs::exists(bus));
}
