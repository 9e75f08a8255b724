// tarvik test SCENARIO -- APP [ARGS...]: runs the unmodified application on a board that
// listens on a private socket, carries out the scenario's steps through that socket, and answers
// 0 when every step held, 1 when one did not (named file:line, with what was expected and what
// the board saw), 2 for a scenario that cannot be run.
//
// A scenario is the board's configuration language, one line a step: a directive (or another
// command of the board's protocol, such as "serial write COM1 STATUS\r") is sent to the board and
// must be taken; the steps of its own are
//   wait serial COMn TEXT | gpio PIN LEVEL | can FRAME | debug TEXT | trace TEXT | output TEXT
//        [within TIME]
//   expect (the same, at once) | expect exit N [within TIME]
//   delay TIME
// A wait or an expect looks at what the application did after the previous step: after the last
// board command, and after the previous match of its own kind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "attach_client.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// A step's time limit when it names none. Limits are on the host's monotonic clock and meant to
// catch an application that is stuck, not to time it: generous, and scaled by
// TARVIK_TEST_TIME_SCALE on a machine known to be slow.
constexpr long kDefaultLimitMs = 10000;
// How long the application gets to open its board's socket, and to end once told to.
constexpr long kStartLimitMs = 30000;
constexpr long kStopGraceMs = 3000;

struct Step {
    int line = 0;
    std::string text;               // the line as written, without its comment
    std::vector<std::string> words;  // its words, quotes removed
    enum Kind { Board, Wait, Expect, Delay, Exit } kind = Board;
    std::string what;  // serial, gpio, can, debug, output
    std::string port, pad, pattern;
    int level = 0, status = 0;
    long limitMs = kDefaultLimitMs;
};

struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The configuration language's words: blanks separate, '#' at a line's start or after a blank
// starts a comment, "..." groups with \" and \\ inside.
std::vector<std::string> words(const std::string& line, std::string& text) {
    std::vector<std::string> out;
    std::string word;
    bool inWord = false, quoted = false;
    size_t end = line.size();
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
                word += line[++i];
            else
                word += c;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) out.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '#' && !inWord) {
            end = i;
            break;
        } else if (c == '"') {
            inWord = quoted = true;
        } else {
            inWord = true;
            word += c;
        }
    }
    if (quoted) throw ScenarioError("unterminated double quote");
    if (inWord) out.push_back(word);
    text = line.substr(0, end);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return out;
}

// A text to match, its C escapes read.
std::string unescape(const std::string& text) {
    std::string bytes, problem;
    if (!unescapeText(text, bytes, problem)) throw ScenarioError(problem);
    return bytes;
}

// Bytes as a person reads them in a report: printable text, the rest escaped.
std::string shown(const std::string& bytes, size_t most = 400) {
    std::string out;
    const size_t start = bytes.size() > most ? bytes.size() - most : 0;
    if (start > 0) out += "...";
    for (size_t i = start; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        char escape[8];
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') out += std::string("\\") + static_cast<char>(c);
        else if (std::isprint(c)) out += static_cast<char>(c);
        else {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
    return out;
}

long duration(const std::string& text) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    const std::string unit = text.substr(digits);
    if (digits == 0 || digits > 9 || (unit != "ms" && unit != "s"))
        throw ScenarioError("'" + text + "' is not a time (500ms, 5s)");
    const long value = std::stol(text.substr(0, digits));
    return unit == "s" ? value * 1000 : value;
}

Step parseStep(const std::string& line, int lineNumber) {
    Step step;
    step.line = lineNumber;
    step.words = words(line, step.text);
    std::vector<std::string> w = step.words;
    if (w.empty()) return step;
    const std::string head = w[0];
    if (head != "wait" && head != "expect" && head != "delay") return step;  // a board command
    if (head == "delay") {
        if (w.size() != 2) throw ScenarioError("expected: delay TIME (500ms, 5s)");
        step.kind = Step::Delay;
        step.limitMs = duration(w[1]);
        return step;
    }
    step.kind = head == "wait" ? Step::Wait : Step::Expect;
    if (w.size() >= 2 && w[w.size() - 2] == "within") {
        step.limitMs = duration(w.back());
        w.resize(w.size() - 2);
    } else if (step.kind == Step::Expect) {
        step.limitMs = 0;
    }
    const std::string usage = "expected: " + head +
                              " serial COMn TEXT | gpio PIN LEVEL | can FRAME | debug TEXT | trace TEXT | output TEXT" +
                              (head == "expect" ? " | exit N" : "") + " [within TIME]";
    if (w.size() < 2) throw ScenarioError(usage);
    step.what = w[1];
    if (step.what == "serial" && w.size() == 4) {
        if (w[2] != "COM1" && w[2] != "COM2") throw ScenarioError("'" + w[2] + "' is not COM1 or COM2");
        step.port = w[2];
        step.pattern = unescape(w[3]);
    } else if (step.what == "gpio" && w.size() == 4) {
        step.pad = padOf(w[2], head + " gpio");
        step.level = static_cast<int>(choice(w[3], "LEVEL", {"0", "1"}));
    } else if (step.what == "can" && w.size() == 3) {
        step.pattern = formatCanFrameText(parseCanFrameText(w[2]));
    } else if ((step.what == "debug" || step.what == "trace" || step.what == "output") && w.size() == 3) {
        step.pattern = unescape(w[2]);
    } else if (step.what == "exit" && head == "expect" && w.size() == 3) {
        step.kind = Step::Exit;
        step.status = static_cast<int>(number(w[2], "exit status", 255));
        if (step.limitMs == 0) step.limitMs = kDefaultLimitMs;
    } else {
        throw ScenarioError(usage);
    }
    if (step.pattern.empty() && step.what != "gpio" && step.what != "exit")
        throw ScenarioError("the text to look for is empty");
    return step;
}

// What the board and the application have shown so far, and how far each kind was matched.
struct Seen {
    std::map<std::string, std::string> serial;  // port -> bytes the application wrote
    std::map<std::string, size_t> serialFrom;
    std::vector<std::string> frames;  // frames the application's controller sent, cansend syntax
    size_t framesFrom = 0;
    std::vector<std::string> debug;
    size_t debugFrom = 0;
    std::vector<std::string> trace;  // the platform calls, decoded
    size_t traceFrom = 0;
    std::string output;
    size_t outputFrom = 0;
    uint64_t dropped = 0;
};

struct Run {
    std::string scenarioPath;
    std::vector<Step> steps;
    std::vector<std::string> app;
    std::string junit, vcd, trace;
    double scale = 1.0;

    std::filesystem::path folder;
    pid_t child = -1;
    int output = -1;
    bool exited = false;
    int exitStatus = 0;
    std::string exitText;
    AttachClient link;
    Seen seen;
    bool released = false;

    ~Run() {
        stopApplication();
        if (output >= 0) ::close(output);
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }

    long limit(long ms) const { return static_cast<long>(static_cast<double>(ms) * scale); }

    void start() {
        char pattern[] = "/tmp/tarvik-test-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw Failure(std::string("cannot make a folder for the board's socket: ") + std::strerror(errno));
        folder = pattern;
        const std::string socket = (folder / "board.sock").string();
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw Failure(std::string("pipe: ") + std::strerror(errno));
        child = ::fork();
        if (child < 0) throw Failure(std::string("fork: ") + std::strerror(errno));
        if (child == 0) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::dup2(pipeFds[1], STDERR_FILENO);
            const int nothing = ::open("/dev/null", O_RDONLY);
            if (nothing >= 0) ::dup2(nothing, STDIN_FILENO);
            ::setenv("VBOARD_LISTEN", socket.c_str(), 1);
            // The board waits at start for the scenario to watch it, so nothing the application
            // does before is missed (its first serial line, its first frame).
            ::setenv("VBOARD_LISTEN_HOLD", "1", 1);
            if (!trace.empty()) ::setenv("VBOARD_TRACE", trace.c_str(), 1);
            std::vector<char*> argv;
            for (std::string& word : app) argv.push_back(word.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            std::fprintf(stderr, "tarvik test: cannot start '%s': %s\n", argv[0], std::strerror(errno));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        output = pipeFds[0];
        const auto deadline = Clock::now() + Millis(limit(kStartLimitMs));
        std::string error;
        while (!link.connect(socket, error)) {
            pump(50);
            if (exited) throw Failure("the application ended (" + exitText + ") before its board listened" + outputTail());
            if (Clock::now() > deadline)
                throw Failure("the application's board did not listen at " + socket + " within " +
                              std::to_string(limit(kStartLimitMs) / 1000) + " s (is it linked with the virtual board?)" +
                              outputTail());
        }
        for (const char* command : {"json on", "watch serial COM1", "watch serial COM2", "watch can", "watch debug", "watch trace"})
            boardCommand(command);
        if (!vcd.empty()) boardCommand("vcd \"" + vcd + "\"");
    }

    // The board commands before the first wait, expect or delay set the board up before the
    // application runs; "hello" then lets the board's held application go on.
    void release() {
        if (released) return;
        released = true;
        boardCommand("hello");
    }

    // Sends one line; the board's refusal is a ScenarioError (the scenario's words are wrong).
    Json boardCommand(const std::string& line) {
        const std::optional<std::string> reply = link.command(line);
        if (!reply) throw Failure("the application's board closed the connection (the application ended)");
        const std::string& answer = *reply;
        const Json object = Json::parse(answer, nullptr, false);
        if (object.is_object() && object.value("ok", false)) return object;
        if (!object.is_object() && answer.rfind("ok", 0) == 0) return Json::object();
        const std::string reason = object.is_object() ? object.value("error", answer)
                                                      : answer.rfind("error: ", 0) == 0 ? answer.substr(7) : answer;
        throw ScenarioError("the board refused it: " + reason);
    }

    void take(const Json& e) {
        const std::string kind = e.value("event", std::string());
        if (kind == "serial" && e.value("dir", std::string()) == "tx") {
            const std::string hex = e.value("data", std::string());
            std::string& bytes = seen.serial[e.value("port", std::string())];
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                bytes += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
        } else if (kind == "can" && e.value("dir", std::string()) == "tx") {
            CanFrameText frame;
            frame.id = static_cast<uint32_t>(std::stoul(e.value("id", std::string("0")), nullptr, 16));
            frame.extended = e.value("extended", false);
            frame.remote = e.value("rtr", false);
            const std::string hex = e.value("data", std::string());
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                frame.data.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            if (frame.remote) {
                frame.remoteLength = static_cast<uint8_t>(frame.data.size());
                frame.data.clear();
            }
            seen.frames.push_back(formatCanFrameText(frame));
        } else if (kind == "debug") {
            seen.debug.push_back(e.value("line", std::string()));
        } else if (kind == "trace") {
            seen.trace.push_back(e.value("line", std::string()));
        } else if (kind == "dropped") {
            seen.dropped += e.value("count", static_cast<uint64_t>(0));
        }
    }

    // Takes what is there to take, waiting at most `ms` for something: events from the board,
    // the application's output, its end.
    void pump(int ms) {
        pollfd fds[2] = {{link.fd(), POLLIN, 0}, {output, POLLIN, 0}};
        if (::poll(fds, 2, ms) > 0) {
            if (fds[1].revents != 0) {
                char chunk[4096];
                const ssize_t got = ::read(output, chunk, sizeof chunk);
                if (got > 0) {
                    seen.output.append(chunk, static_cast<size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    // Its end: a closed pipe would otherwise answer every poll at once.
                    ::close(output);
                    output = -1;
                }
            }
        }
        // Every whole line already there.
        while (const std::optional<std::string> line = link.fd() >= 0 ? link.readLine(0) : std::nullopt) {
            const Json event = Json::parse(*line, nullptr, false);
            if (event.is_object()) take(event);
        }
        if (!exited && child > 0) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                exited = true;
                child = -1;
                exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                exitText = WIFEXITED(status) ? "exit status " + std::to_string(exitStatus)
                                             : std::string("killed by signal ") + strsignal(WTERMSIG(status));
            }
        }
    }

    std::string outputTail() const {
        if (seen.output.empty()) return "";
        const size_t start = seen.output.size() > 2000 ? seen.output.rfind('\n', seen.output.size() - 2000) : 0;
        return "\n  the application's output:\n    " +
               [](std::string text) {
                   for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos && at + 1 < text.size(); at += 5)
                       text.replace(at, 1, "\n    ");
                   return text;
               }(seen.output.substr(start == std::string::npos ? 0 : start));
    }

    void stopApplication() {
        if (child <= 0) return;
        ::kill(child, SIGTERM);
        const auto deadline = Clock::now() + Millis(kStopGraceMs);
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                break;
            }
            std::this_thread::sleep_for(Millis(20));
        }
        child = -1;
    }

    // Whether the step holds now; `saw` says what the board showed instead.
    bool holds(Step& step, std::string& saw) {
        if (step.what == "serial") {
            const std::string& bytes = seen.serial[step.port];
            size_t& from = seen.serialFrom[step.port];
            const size_t at = bytes.find(step.pattern, from);
            if (at != std::string::npos) {
                from = at + step.pattern.size();
                return true;
            }
            saw = bytes.size() == from ? step.port + " sent nothing more"
                                       : step.port + " sent \"" + shown(bytes.substr(from)) + "\"";
            return false;
        }
        if (step.what == "can") {
            for (size_t i = seen.framesFrom; i < seen.frames.size(); ++i)
                if (seen.frames[i] == step.pattern) {
                    seen.framesFrom = i + 1;
                    return true;
                }
            std::string list;
            for (size_t i = seen.framesFrom; i < seen.frames.size(); ++i) list += (list.empty() ? "" : " ") + seen.frames[i];
            saw = list.empty() ? "no frame sent" : "frames sent: " + list;
            return false;
        }
        if (step.what == "debug" || step.what == "trace") {
            const std::vector<std::string>& lines = step.what == "debug" ? seen.debug : seen.trace;
            size_t& from = step.what == "debug" ? seen.debugFrom : seen.traceFrom;
            for (size_t i = from; i < lines.size(); ++i)
                if (lines[i].find(step.pattern) != std::string::npos) {
                    from = i + 1;
                    return true;
                }
            saw = lines.size() == from ? "no " + step.what + " line"
                                       : "last " + step.what + " line \"" + shown(lines.back()) + "\"";
            return false;
        }
        if (step.what == "output") {
            const size_t at = seen.output.find(step.pattern, seen.outputFrom);
            if (at != std::string::npos) {
                seen.outputFrom = at + step.pattern.size();
                return true;
            }
            saw = "output \"" + shown(seen.output.substr(seen.outputFrom)) + "\"";
            return false;
        }
        // gpio: the pin's level now, as the board reads it.
        if (link.fd() < 0) {
            saw = "the board is gone";
            return false;
        }
        const Json answer = boardCommand("show gpio");
        for (const Json& pin : answer.value("pins", Json::array()))
            if (pin.value("pad", std::string()) == step.pad) {
                const int level = pin.value("level", 0);
                saw = "pin " + step.pad + " at level " + std::to_string(level) + " (" +
                      pin.value("direction", std::string("?")) + ")";
                return level == step.level;
            }
        saw = "no pin " + step.pad + " in the board's answer";
        return false;
    }

    std::string expected(const Step& step) const {
        if (step.kind == Step::Exit) return "the application to end with status " + std::to_string(step.status);
        if (step.what == "serial") return "\"" + shown(step.pattern) + "\" written to " + step.port;
        if (step.what == "gpio") return "pin " + step.pad + " at level " + std::to_string(step.level);
        if (step.what == "can") return "the frame " + step.pattern + " sent";
        if (step.what == "debug" || step.what == "trace")
            return "a " + step.what + " line holding \"" + shown(step.pattern) + "\"";
        return "\"" + shown(step.pattern) + "\" in the application's output";
    }

    // Carries out one step; false with `report` set when it did not hold.
    bool carryOut(Step& step, std::string& report) {
        std::string saw;
        if (step.kind != Step::Board) release();
        switch (step.kind) {
        case Step::Board:
            if (link.fd() < 0) {
                report = "the board is gone: the application ended (" + exitText + ")";
                return false;
            }
            // What the application did before the command is no answer to it.
            pump(0);
            for (auto& [port, bytes] : seen.serial) seen.serialFrom[port] = bytes.size();
            seen.framesFrom = seen.frames.size();
            seen.debugFrom = seen.debug.size();
            seen.traceFrom = seen.trace.size();
            seen.outputFrom = seen.output.size();
            boardCommand(step.text);
            return true;
        case Step::Delay:
            for (const auto end = Clock::now() + Millis(step.limitMs); Clock::now() < end;)
                pump(static_cast<int>(std::min<long>(50, std::chrono::duration_cast<Millis>(end - Clock::now()).count() + 1)));
            return true;
        case Step::Exit: {
            const auto end = Clock::now() + Millis(limit(step.limitMs));
            while (!exited && Clock::now() < end) pump(50);
            if (exited && exitStatus == step.status) return true;
            report = "expected: " + expected(step) + "\n  saw: " +
                     (exited ? "it ended with " + exitText
                             : "it was still running after " + std::to_string(limit(step.limitMs)) + " ms");
            return false;
        }
        case Step::Wait:
        case Step::Expect: {
            const auto end = Clock::now() + Millis(limit(step.limitMs));
            pump(0);
            for (;;) {
                if (holds(step, saw)) return true;
                // Nothing more can come once the application and its board are gone.
                if (Clock::now() >= end || (exited && link.fd() < 0 && (step.what != "output" || output < 0))) break;
                pump(50);
            }
            report = "expected: " + expected(step) +
                     (step.kind == Step::Wait ? " within " + std::to_string(limit(step.limitMs)) + " ms" : " at once") +
                     "\n  saw: " + saw + (exited ? "; the application had ended (" + exitText + ")" : "") +
                     (seen.dropped ? "; the board dropped " + std::to_string(seen.dropped) + " events" : "");
            return false;
        }
        }
        return true;
    }
};

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else if (c < 0x20 && c != '\n' && c != '\t') out += "?";
        else out += static_cast<char>(c);
    }
    return out;
}

void writeJunit(const std::string& file, const std::string& scenario, bool passed, bool error,
                const std::string& report, const std::string& output, double seconds) {
    std::error_code ignored;
    if (std::filesystem::path(file).has_parent_path())
        std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
    std::ofstream out(file);
    const std::string name = std::filesystem::path(scenario).stem().string();
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<testsuites tests=\"1\" failures=\"" << (passed || error ? 0 : 1) << "\" errors=\"" << (error ? 1 : 0)
        << "\">\n  <testsuite name=\"tarvik test\" tests=\"1\" failures=\"" << (passed || error ? 0 : 1)
        << "\" errors=\"" << (error ? 1 : 0) << "\" time=\"" << seconds << "\">\n"
        << "    <testcase classname=\"" << xmlEscaped(scenario) << "\" name=\"" << xmlEscaped(name) << "\" time=\""
        << seconds << "\">\n";
    if (!passed)
        out << "      <" << (error ? "error" : "failure") << " message=\"" << xmlEscaped(report.substr(0, report.find('\n')))
            << "\">" << xmlEscaped(report) << "</" << (error ? "error" : "failure") << ">\n";
    out << "      <system-out>" << xmlEscaped(output) << "</system-out>\n"
        << "    </testcase>\n  </testsuite>\n</testsuites>\n";
    if (!out) throw Failure("--junit '" + file + "': cannot write the report");
}

struct TestArgs {
    std::string scenario, junit, vcd, trace;
    std::vector<std::string> app;
};

int runTest(const TestArgs& a) {
    const auto started = Clock::now();
    Run run;
    run.scenarioPath = a.scenario;
    run.app = a.app;
    run.junit = a.junit;
    const auto absolute = [](const std::string& path) {
        return path.empty() ? path : std::filesystem::absolute(path).string();
    };
    run.vcd = absolute(a.vcd);
    run.trace = absolute(a.trace);
    if (const char* scale = std::getenv("TARVIK_TEST_TIME_SCALE"); scale && *scale) {
        char* end = nullptr;
        run.scale = std::strtod(scale, &end);
        if (*end != '\0' || !(run.scale >= 1.0 && run.scale <= 100.0))
            throw UsageError("TARVIK_TEST_TIME_SCALE '" + std::string(scale) + "' is not a number from 1 to 100");
    }

    // The whole scenario is read and checked before the application starts.
    std::ifstream in(a.scenario);
    if (!in || std::filesystem::is_directory(a.scenario))
        throw UsageError("test: cannot read the scenario '" + a.scenario + "'");
    std::string line;
    std::vector<std::string> problems;
    for (int number = 1; std::getline(in, line); ++number) {
        try {
            Step step = parseStep(line, number);
            if (!step.words.empty()) run.steps.push_back(step);
        } catch (const std::exception& e) {
            problems.push_back(a.scenario + ":" + std::to_string(number) + ": " + e.what());
        }
    }
    if (problems.empty() && run.steps.empty()) problems.push_back(a.scenario + ": the scenario has no steps");
    if (!problems.empty()) {
        for (const std::string& p : problems) std::cerr << "tarvik: test: " << p << "\n";
        if (!a.junit.empty()) writeJunit(a.junit, a.scenario, false, true, problems.front(), "", 0);
        return kExitUsage;
    }

    bool passed = true, badScenario = false;
    std::string report;
    try {
        run.start();
        for (Step& step : run.steps) {
            std::string why;
            bool held;
            try {
                held = run.carryOut(step, why);
            } catch (const ScenarioError& e) {
                held = false;
                badScenario = true;
                why = e.what();
            }
            if (!held) {
                passed = false;
                report = a.scenario + ":" + std::to_string(step.line) + ": " + step.text + "\n  " + why;
                break;
            }
            std::cout << a.scenario << ":" << step.line << ": ok " << step.text << "\n";
        }
        if (passed) run.release();
    } catch (const Failure& e) {
        passed = false;
        report = a.scenario + ": " + e.what();
    }
    if (!passed) report += run.outputTail();
    run.stopApplication();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::cout.flush();
    if (passed)
        std::cout << "tarvik: test: " << a.scenario << ": passed, " << run.steps.size() << " steps\n";
    else
        std::cerr << "tarvik: test: FAILED " << report << "\n";
    if (!a.junit.empty()) writeJunit(a.junit, a.scenario, passed, badScenario, report, run.seen.output, seconds);
    return passed ? kExitOk : badScenario ? kExitUsage : kExitFailed;
}

}  // namespace

void addTestCommand(CLI::App& app, Tool&) {
    auto a = std::make_shared<TestArgs>();
    auto* test = app.add_subcommand("test", "run an application against a scenario: tarvik test SCENARIO -- APP [ARGS...]");
    test->add_option("SCENARIO", a->scenario, "the scenario's file")->required();
    test->add_option("APP", a->app, "the application and its arguments, after --")->required();
    test->add_option("--junit", a->junit, "also write the result as JUnit XML")->type_name("FILE");
    test->add_option("--vcd", a->vcd, "keep the run's waveform of the GPIO pins")->type_name("FILE");
    test->add_option("--trace", a->trace, "keep the run's trace of every platform call")->type_name("FILE");
    test->callback([a] { throw SessionExit{runTest(*a)}; });
}

}  // namespace tarvik_tool
