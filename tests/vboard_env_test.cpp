// vboard/src/control: the board's environment variables, as an application meets them: each case
// runs a small program with VBOARD_* set and looks at its output, its echo files, its stderr and
// its exit.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "process_support.h"

namespace {

using tarvik_test::slurp;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string scratch(const std::string& name) { return tarvik_test::processFolder("vboard_env_") + "/" + name; }

void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Runs the probe with exactly these VBOARD_* variables (and the rest of the environment).
Outcome probe(const std::map<std::string, std::string>& env, const std::string& argument = "") {
    const std::string out = scratch("out.txt");
    const std::string err = scratch("err.txt");
    const pid_t child = ::fork();
    if (child == 0) {
        for (const char* name : {"VBOARD_DEBUG", "VBOARD_TRACE", "VBOARD_CONFIG", "VBOARD_STRICT",
                                 "VBOARD_RECORD"})
            ::unsetenv(name);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr))
            ::_exit(126);
        // The emulator's words (none on a native build), the probe, and its argument.
        std::vector<std::string> words = tarvik_test::wordsOf(VBOARD_ENV_EMULATOR);
        words.push_back(VBOARD_ENV_PROBE);
        if (!argument.empty()) words.push_back(argument);
        tarvik_test::execWords(words);
    }
    Outcome run;
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

const char* kSetPinLines = "VELNA set gpio 0 pin 2 - Rout 1\r\nVELNA gpio operate successful\r\n";

}  // namespace

TEST(Environment, DebugAndTraceEchoGoToTheirFiles) {
    const std::string debug = scratch("debug.txt");
    const std::string trace = scratch("trace.txt");
    std::remove(debug.c_str());
    std::remove(trace.c_str());
    Outcome run = probe({{"VBOARD_DEBUG", debug}, {"VBOARD_TRACE", trace}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(slurp(debug), kSetPinLines);
    EXPECT_NE(slurp(trace).find("GIO1: SET_PIN bank 0 pin 2 level 1 -> ok\n"), std::string::npos);
}

TEST(Environment, UnusableTargetsAreReportedWithTheirReasonAndTheProgramGoesOn) {
    const std::string folder = scratch("");
    struct Case {
        const char* variable;
        std::string value;
        std::string reason;
    } cases[] = {
        {"VBOARD_DEBUG", folder, "cannot open it for appending: Is a directory"},
        {"VBOARD_TRACE", "/nonexistent-folder/trace.txt",
         "cannot open it for appending: No such file or directory"},
        {"VBOARD_CONFIG", scratch("missing.cfg"),
         "cannot read the file: No such file or directory"},
        {"VBOARD_CONFIG", folder, "cannot read the file: it is a folder"},
        {"VBOARD_RECORD", "sometimes", "expected: record off|last <n>|all"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        Outcome run = probe({{c.variable, c.value}});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "vboard: " + std::string(c.variable) + "=" + c.value + ": " + c.reason + "\n");
        EXPECT_NE(run.out.find(kSetPinLines), std::string::npos);
    }
    // A file without an end is read as far as a line may go, not until memory runs out.
    Outcome endless = probe({{"VBOARD_CONFIG", "/dev/zero"}});
    EXPECT_EQ(endless.status, 0);
    EXPECT_EQ(endless.err, "vboard: /dev/zero:1: a line of more than 1048576 bytes; the rest of the file is not read\n");
}

TEST(Environment, ConfigIsAppliedAtStartAndAgainAtEveryReset) {
    const std::string config = scratch("board.cfg");
    write(config,
          "registry HKLM\\Ident BSPVersionNumber dword 0x00030004\n"
          "remove-driver GIO1:   # no GPIO driver on this board\n");
    Outcome run = probe({{"VBOARD_CONFIG", config}}, "reset");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string failed = "VELNA set gpio 0 pin 2 - Rerr 0\r\nVELNA HANDLE ERROR: 6\r\n"
                               "VELNA gpio doesn't operate successful\r\n";
    EXPECT_EQ(run.out, "start: debug recorded 3, trace recorded 9, bsp 0x00030004\n" + failed +
                           "reset: debug recorded 3, trace recorded 9, bsp 0x00030004\n" + failed);
}

TEST(Environment, StrictEndsTheProcessAtStartOnAnyProblem) {
    const std::string config = scratch("strict.cfg");
    write(config, "sleep virtual\nfault DeviceIOControl\n");
    const std::string problem = "vboard: " + config +
                                ":2: no platform call 'DeviceIOControl'; did you mean "
                                "'DeviceIoControl'?\n";
    Outcome lenient = probe({{"VBOARD_CONFIG", config}});
    EXPECT_EQ(lenient.status, 0);
    EXPECT_EQ(lenient.err, problem);

    // The program ends before it runs: it never prints the line it prints before its first call.
    Outcome strict = probe({{"VBOARD_CONFIG", config}, {"VBOARD_STRICT", "1"}}, "print-first");
    EXPECT_EQ(strict.status, 2);
    EXPECT_EQ(strict.out, "");
    EXPECT_EQ(strict.err, problem +
                              "vboard: stopping: the board's configuration has 1 problem (strict "
                              "configuration)\n");

    write(config, "strict\nrecord sometimes\n");
    Outcome directive = probe({{"VBOARD_CONFIG", config}}, "print-first");
    EXPECT_EQ(directive.status, 2);
    EXPECT_EQ(directive.out, "");
}

TEST(Environment, TheExampleBoardsLoadStrictlyAndABrokenCopyEndsTheProcess) {
    const std::string boards = std::string(TARVIK_SOURCE_DIR) + "/examples/boards/";
    for (const auto& [file, bsp] : {std::pair<std::string, std::string>{"evaluation.conf", "0x00020001"},
                                    {"line-controller.conf", "0x00030004"}}) {
        SCOPED_TRACE(file);
        Outcome run = probe({{"VBOARD_CONFIG", boards + file}, {"VBOARD_STRICT", "1"}});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find("bsp " + bsp), std::string::npos) << run.out;
    }
    // A carrier made from the line controller, with one line wrong.
    const std::string copy = scratch("my-carrier.conf");
    const std::string text = slurp(boards + "line-controller.conf") + "serial COM3 loopback\n";
    write(copy, text);
    const auto lines = std::count(text.begin(), text.end(), '\n');
    Outcome run = probe({{"VBOARD_CONFIG", copy}, {"VBOARD_STRICT", "1"}});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("vboard: " + copy + ":" + std::to_string(lines) + ": "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("COM3"), std::string::npos) << run.err;
}

TEST(Environment, RecordOffKeepsCountsOnly) {
    Outcome run = probe({{"VBOARD_RECORD", "off"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "start: debug recorded 2, trace recorded 8, bsp 0x00020001\n");
}
